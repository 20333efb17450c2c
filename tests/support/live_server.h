#pragma once

#include "library/track_list_model.h"
#include "playback/gst_player.h"
#include "remote/winsock.h"
#include "server/qt_settings_store.h"
#include "server/server_controller.h"
#include "support/fakes.h"

#include <QTemporaryDir>

#include <string>
#include <vector>

namespace tallowcrest::testing {

// The server as the main window assembles it, without the window: the real
// socket, player, settings file and list model; only the dialogs are fakes.
class LiveServer {
public:
    // Stores the folder and port as a user would have, then loads.
    LiveServer(const std::string& mediaFolder, const std::string& portText,
               std::function<std::string()> trackListFile = {}, std::function<float()> drawRandom = {});

    std::vector<std::string> rows() const;
    std::string caption() const { return controller.caption().toStdString(); }

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
