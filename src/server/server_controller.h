#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tallowcrest {

class ConnectionLifecycle;
class FolderPrescan;
class IMediaPlayer;
class IMessageBox;
class IPrompt;
class ISettingsStore;
class ISocket;
class ITrackList;
class PlaybackController;
class RequestDispatcher;

// The main window's run-time state and its handlers, free of widgets. It
// takes the events of the socket and the player itself; the window, and any
// other hand at the machine, calls the rest.
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
    };

    explicit ServerController(Components components, QObject* parent = nullptr);
    ~ServerController() override;

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

    const std::string& MediaFolder() const { return m_mediaFolder; }
    bool ShuffleOn() const;
    const QString& caption() const { return m_caption; }
    bool clientConnected() const;

    // What other hands at the machine do, by the same rules as the window's
    // own controls.
    void playRow(int index);
    void playNext();
    void playPrevious();
    // Plays a file as a double-click on its row would; false when it cannot
    // be opened.
    bool playFile(const std::string& path);
    // Switches shuffle as "Randomize" does when it is not so already.
    void setShuffle(bool on);

    ITrackList& trackList() { return m_parts.lstFiles; }
    IMediaPlayer& player() { return m_parts.media; }

signals:
    void captionChanged(const QString& caption);
    void shuffleChanged(bool on);
    // A client connected or left.
    void clientConnectionChanged(bool connected);
    // The track list was filled anew (at start-up or by a list request).
    void trackListChanged();

private:
    void setCaption(const std::string& caption);

    Components m_parts;
    std::string m_mediaFolder;
    QString m_caption;
    std::unique_ptr<PlaybackController> m_playback;
    std::unique_ptr<ConnectionLifecycle> m_lifecycle;
    std::unique_ptr<RequestDispatcher> m_dispatcher;
    // A request that waits in a modal prompt lets events in; blocks that
    // arrive meanwhile are handled after it, never inside it.
    bool m_handlingRequest = false;
    bool m_dataWaiting = false;
};

}  // namespace tallowcrest
