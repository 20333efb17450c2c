#include "support/live_server.h"

#include "library/track_scan.h"

namespace tallowcrest::testing {

LiveServer::LiveServer(const std::string& mediaFolder, const std::string& portText,
                       std::function<std::string()> trackListFile, std::function<float()> drawRandom)
    : controller({settings, lstFiles, messageBox, prompt, winsock, media, nullptr,
                  // Test programs run side by side: each writes its list file
                  // in a folder of its own.
                  trackListFile ? std::move(trackListFile)
                                : [this] { return listFolder.filePath(QStringLiteral("tracks.temp")).toStdString(); },
                  std::move(drawRandom)})
{
    settings.save(kAppName, kSettingsSection, kDirKey, mediaFolder);
    settings.save(kAppName, kSettingsSection, kPortKeyWritten, portText);
    controller.Form_Load();
}

std::vector<std::string> LiveServer::rows() const
{
    std::vector<std::string> rows;
    for (int i = 0; i < lstFiles.Count(); ++i)
        rows.emplace_back(lstFiles.Row(i));
    return rows;
}

}  // namespace tallowcrest::testing
