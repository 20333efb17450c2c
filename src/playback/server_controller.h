#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tallowcrest {

class IMediaPlayer;
class IMessageBox;
class IPrompt;
class ISettingsStore;
class ISocket;
class ITrackList;
class ConnectionLifecycle;
class PlaybackController;
class RequestDispatcher;

// The main window's run-time state and its handlers, free of widgets: the
// window hosts the components and forwards their events here.
class ServerController {
public:
    struct Components {
        ISettingsStore& settings;
        ITrackList& lstFiles;
        IMessageBox& messageBox;
        IPrompt& prompt;
        ISocket& winsock;
        IMediaPlayer& media;
        std::function<void(const std::string&)> setCaption;
        // Where a list request writes its file; empty for the usual place.
        std::function<std::string()> trackListFile = {};
        // Uniform in [0, 1) for shuffle picks; empty for the clock-seeded one.
        std::function<float()> drawRandom = {};
    };

    explicit ServerController(Components components);
    ~ServerController();

    // Reads the settings, fills the track list and starts listening.
    void Form_Load();
    void cmdDir_Click();
    void cmdPort_Click();

    void Winsock_ConnectionRequest(int32_t requestId);
    void Winsock_DataArrival();
    void Winsock_Close();
    void Winsock_Error(int number, const std::string& description);

    void lstFiles_DblClick();
    void Media_EndOfStream(int32_t result);
    void Media_PlaybackFailed();
    void cmdRandomize_Click();

    const std::string& MediaFolder() const { return mediaFolder_; }
    bool ShuffleOn() const;
    void SetShuffleOn(bool on);

private:
    Components parts_;
    std::string mediaFolder_;
    std::unique_ptr<PlaybackController> playback_;
    std::unique_ptr<ConnectionLifecycle> lifecycle_;
    std::unique_ptr<RequestDispatcher> dispatcher_;
    // A request that waits in a modal prompt lets events in; blocks that
    // arrive meanwhile are handled after it, never inside it.
    bool handlingRequest_ = false;
    bool dataWaiting_ = false;
};

}  // namespace tallowcrest
