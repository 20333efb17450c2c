#pragma once

#include "library/track_list_model.h"
#include "playback/qt_media_player.h"
#include "playback/qt_settings_store.h"
#include "playback/server_controller.h"
#include "remote/winsock.h"
#include "support/fake_dialogs.h"
#include "support/isolated_settings.h"

#include <string>
#include <vector>

namespace tallowcrest::testing {

// The server as the main window assembles it, without the window: the real
// socket, player, settings file and list model, wired as the window wires
// them; only the dialogs are fakes.
class LiveServer {
public:
    // Stores the folder and port as a user would have, then loads.
    LiveServer(const std::string& mediaFolder, const std::string& portText,
               std::function<std::string()> trackListFile = {}, std::function<float()> drawRandom = {});

    IsolatedSettings isolation;
    QtSettingsStore settings;
    TrackListModel lstFiles;
    RecordingMessageBox messageBox;
    ScriptedPrompt prompt;
    Winsock winsock;
    QtMediaPlayer media;
    std::string caption = "Tallowcrest Server";
    ServerController controller;
};

// The list's rows, in order.
std::vector<std::string> RowsOf(const ITrackList& list);

}  // namespace tallowcrest::testing
