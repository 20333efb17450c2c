#include "server/folder_prescan.h"

#include "library/track_scan.h"
#include "server/settings_store.h"

namespace tallowcrest {

FolderPrescan::FolderPrescan(ISettingsStore& settings)
    : m_folder(settings.read(kAppName, kSettingsSection, kDirKey, kFolderNotSet))
{
    if (!folderCheckPasses(m_folder))
        return;
    m_scan = std::async(std::launch::async, [folder = withTrailingSeparator(m_folder)] {
        std::string text;
        ScanFolder(folder, text);
        return text;
    });
}

FolderPrescan::~FolderPrescan()
{
    wait();
}

void FolderPrescan::wait() const
{
    if (m_scan.valid())
        m_scan.wait();
}

std::optional<std::string> FolderPrescan::take(const std::string& mediaFolder)
{
    if (!m_scan.valid() || mediaFolder != m_folder)
        return std::nullopt;
    return m_scan.get();
}

}  // namespace tallowcrest
