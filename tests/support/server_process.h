#pragma once

#include <QTemporaryDir>

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tallowcrest::testing {

// The real server program as a user starts it: its own home and XDG folders,
// a settings file naming the media folder and free ports, no display. The
// constructor returns once the port listens (after the splash); the
// destructor ends the process.
class ServerProcess {
public:
    explicit ServerProcess(const std::string& mediaFolder);
    ~ServerProcess();

    // Empty when the server listens; otherwise why it does not.
    const std::string& startFailure() const { return m_startFailure; }
    uint16_t port() const { return m_port; }
    bool running() const;
    // The last few KiB the server printed.
    std::string output() const;
    // What the open descriptors lead to, sorted: a file by its path, a TCP
    // socket by its state and local port, any other inode by its kind alone.
    std::vector<std::string> openDescriptors() const;
    // The names of the threads not named after the program: those of Qt's,
    // GLib's and GStreamer's pools and tasks.
    std::vector<std::string> helperThreads() const;
    // Resident memory in KiB, or -1 when the process is gone.
    long residentKiB() const;

private:
    std::string status(const std::string& field) const;

    QTemporaryDir m_home;
    std::string m_startFailure;
    pid_t m_pid = -1;
    uint16_t m_port = 0;
};

}  // namespace tallowcrest::testing
