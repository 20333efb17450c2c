#include "playback/server_controller.h"

#include "library/load_files.h"
#include "playback/playback_controller.h"
#include "playback/settings_store.h"
#include "remote/connection_lifecycle.h"
#include "remote/request_dispatcher.h"
#include "remote/track_list_file.h"
#include "shell/dialogs.h"

namespace tallowcrest {

namespace {

constexpr const char* kDirKey = "Dir";
constexpr const char* kPortKeyWritten = "Port";
constexpr const char* kPortKeyRead = "port";
constexpr const char* kFolderNotSet = "not set";
constexpr const char* kDefaultPort = "9999";

}  // namespace

ServerController::ServerController(Components components)
    : parts_(std::move(components)),
      playback_(std::make_unique<PlaybackController>(PlaybackController::Components{
          parts_.lstFiles, parts_.media, parts_.winsock, parts_.setCaption, parts_.drawRandom})),
      lifecycle_(std::make_unique<ConnectionLifecycle>(parts_.winsock, parts_.messageBox))
{
    RequestDispatcher::Context context{
        parts_.winsock,
        parts_.media,
        parts_.lstFiles,
        [this] { return mediaFolder_; },
        [this] { cmdDir_Click(); },
        [this](bool on) { playback_->SetShuffleOn(on); },
        parts_.setCaption,
        parts_.trackListFile ? parts_.trackListFile : std::function<std::string()>(TrackListFilePath),
    };
    dispatcher_ = std::make_unique<RequestDispatcher>(std::move(context));
}

ServerController::~ServerController() = default;

void ServerController::Form_Load()
{
    mediaFolder_ = parts_.settings.Read(kAppName, kSettingsSection, kDirKey, kFolderNotSet);
    LoadFiles(mediaFolder_, parts_.lstFiles, parts_.messageBox);
    lifecycle_->StartListening(parts_.settings.Read(kAppName, kSettingsSection, kPortKeyRead, kDefaultPort));
}

void ServerController::cmdDir_Click()
{
    const std::string answer = parts_.prompt.Ask("Please enter the Local Directory that you wish to use:");
    parts_.settings.Save(kAppName, kSettingsSection, kDirKey, answer);
    mediaFolder_ = parts_.settings.Read(kAppName, kSettingsSection, kDirKey, kFolderNotSet);
}

void ServerController::cmdPort_Click()
{
    const std::string answer = parts_.prompt.Ask("Please enter the Local Port that you wish to use:");
    parts_.settings.Save(kAppName, kSettingsSection, kPortKeyWritten, answer);
}

void ServerController::Winsock_ConnectionRequest(int32_t requestId)
{
    lifecycle_->Winsock_ConnectionRequest(requestId);
}

void ServerController::Winsock_DataArrival()
{
    if (handlingRequest_) {
        dataWaiting_ = true;
        return;
    }
    handlingRequest_ = true;
    do {
        dataWaiting_ = false;
        dispatcher_->Winsock_DataArrival();
    } while (dataWaiting_);
    handlingRequest_ = false;
}

void ServerController::lstFiles_DblClick() { playback_->lstFiles_DblClick(); }

void ServerController::Media_EndOfStream(int32_t result) { playback_->Media_EndOfStream(result); }

void ServerController::Media_PlaybackFailed() { playback_->Media_PlaybackFailed(); }

void ServerController::cmdRandomize_Click() { playback_->cmdRandomize_Click(); }

bool ServerController::ShuffleOn() const { return playback_->ShuffleOn(); }

void ServerController::SetShuffleOn(bool on) { playback_->SetShuffleOn(on); }

void ServerController::Winsock_Close() { lifecycle_->Winsock_Close(); }

void ServerController::Winsock_Error(int number, const std::string& description)
{
    lifecycle_->Winsock_Error(number, description);
}

}  // namespace tallowcrest
