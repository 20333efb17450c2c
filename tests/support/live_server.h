#pragma once

#include "library/track_list_model.h"
#include "library/track_scan.h"
#include "playback/gst_player.h"
#include "remote/winsock.h"
#include "server/controls.h"
#include "server/now_playing.h"
#include "server/qt_settings_store.h"
#include "server/server_controller.h"
#include "support/fakes.h"

#include <QTemporaryDir>

#include <string>
#include <vector>

namespace tallowcrest::testing {

// The server as the main window assembles it, without the window: only the
// dialogs are fakes. It stores the folder and port as a user would, then loads.
class LiveServer {
public:
    LiveServer(const std::string& mediaFolder, const std::string& portText,
               std::function<std::string()> trackListFile = {}, std::function<float()> drawRandom = {})
        : controller({settings, lstFiles, messageBox, prompt, winsock, media, nullptr,
                      // Test programs run side by side: each keeps its list file apart.
                      trackListFile ? std::move(trackListFile)
                                    : [this] { return listFolder.filePath("tracks.temp").toStdString(); },
                      std::move(drawRandom)})
    {
        settings.save(kAppName, kSettingsSection, kDirKey, mediaFolder);
        settings.save(kAppName, kSettingsSection, kPortKeyWritten, portText);
        controller.Form_Load();
    }

    std::vector<std::string> rows() const
    {
        std::vector<std::string> rows;
        for (int i = 0; i < lstFiles.count(); ++i)
            rows.emplace_back(lstFiles.row(i));
        return rows;
    }
    std::string caption() const { return controller.nowPlaying().caption().toStdString(); }

    IsolatedSettings isolation;
    QTemporaryDir listFolder;
    QtSettingsStore settings;
    TrackListModel lstFiles;
    RecordingMessageBox messageBox;
    ScriptedPrompt prompt;
    Winsock winsock;
    GstPlayer media;
    ServerController controller;
};

}  // namespace tallowcrest::testing
