#pragma once

#include <future>
#include <optional>
#include <string>

namespace tallowcrest {

class ISettingsStore;

// The media folder's scan, started on a thread of its own as soon as the
// program starts, so that it runs while the splash shows. The main window's
// load then takes the finished scan instead of scanning again.
class FolderPrescan {
public:
    // Reads the stored folder and starts scanning it, unless it fails the
    // folder check (then the load reports it as usual).
    explicit FolderPrescan(ISettingsStore& settings);
    // Waits for a scan still running.
    ~FolderPrescan();
    // Returns once the scan, if one was started, has finished.
    void wait() const;
    FolderPrescan(const FolderPrescan&) = delete;
    FolderPrescan& operator=(const FolderPrescan&) = delete;

    // The scan's track-list text, once it has finished, when it was made of
    // mediaFolder exactly; nothing otherwise (then the caller scans). Hands
    // the text over once.
    std::optional<std::string> take(const std::string& mediaFolder);

private:
    std::string m_folder;
    std::future<std::string> m_scan;
};

}  // namespace tallowcrest
