#pragma once
#include "playback/gst_player.h"
#include "remote/winsock.h"
#include "support/fake_server.h"

namespace tallowcrest::testing {
// Of the real socket and player; stores the folder and port as a user would, then loads.
struct LiveServer : AssembledServer<Winsock, GstPlayer> {
    LiveServer(const std::string& mediaFolder, const std::string& portText)
    {
        settings.save(kAppName, kSettingsSection, kDirKey, mediaFolder);
        settings.save(kAppName, kSettingsSection, kPortKeyWritten, portText);
        controller.Form_Load();
    }
};
}  // namespace tallowcrest::testing
