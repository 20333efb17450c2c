#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tallowcrest {

class ConnectionLifecycle;
class Controls;
class FolderPrescan;
class IMediaPlayer;
class IMessageBox;
class IPrompt;
class ISettingsStore;
class ISocket;
class ITrackList;
class LibraryIndex;
class NowPlaying;
class PlaybackController;
class RequestDispatcher;

// The main window's run-time state and its handlers, free of widgets. It
// takes the events of the socket and the player itself; the window calls the
// rest, and every hand at the machine acts through controls() and reads
// nowPlaying().
class ServerController : public QObject {
    Q_OBJECT

public:
    struct Components {
        ISettingsStore& settings;
        ITrackList& lstFiles;
        IMessageBox& messageBox;
        IPrompt& prompt;
        ISocket& winsock;
        IMediaPlayer& media;
        // The scan started at program start, if any.
        FolderPrescan* prescan = nullptr;
        // Where a list request writes its file; empty for the usual place.
        std::function<std::string()> trackListFile = {};
        // Uniform in [0, 1) for shuffle picks; empty for the clock-seeded one.
        std::function<float()> drawRandom = {};
        // Reads the tags of every list filled; none: tracks are known by file name alone.
        LibraryIndex* library = nullptr;
    };

    explicit ServerController(Components components, QObject* parent = nullptr);
    ~ServerController() override;

    Controls& controls() { return *m_controls; }
    const NowPlaying& nowPlaying() const { return *m_nowPlaying; }

    // Reads the settings, fills the track list and starts listening.
    void Form_Load();
    void cmdDir_Click();
    void cmdPort_Click();
    void cmdRandomize_Click();
    void lstFiles_DblClick();

    void Winsock_ConnectionRequest(int32_t requestId);
    void Winsock_DataArrival();
    void Winsock_Close();
    void Winsock_Error(int number, const std::string& description);
    void Media_EndOfStream(int32_t result);

    const std::string& MediaFolder() const { return m_mediaFolder; }
    bool ShuffleOn() const;

private:
    void readReplayGain();
    void applyReplayGain();
    void indexList();

    Components m_parts;
    std::string m_mediaFolder;
    std::unique_ptr<NowPlaying> m_nowPlaying;
    std::unique_ptr<PlaybackController> m_playback;
    std::unique_ptr<Controls> m_controls;
    std::unique_ptr<ConnectionLifecycle> m_lifecycle;
    std::unique_ptr<RequestDispatcher> m_dispatcher;
    // A request that waits in a modal prompt lets events in; blocks that
    // arrive meanwhile are handled after it, never inside it.
    bool m_handlingRequest = false;
    bool m_dataWaiting = false;
};

}  // namespace tallowcrest
