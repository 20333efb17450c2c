#pragma once

#include <functional>
#include <string>

namespace tallowcrest {

class IMediaPlayer;
class ISocket;
class ITrackList;
struct RemoteRequest;

// Decodes each block that arrives from the client and carries it out.
class RequestDispatcher {
public:
    // What the requests act on; the main window owns all of it.
    struct Context {
        ISocket& winsock;
        IMediaPlayer& media;
        ITrackList& lstFiles;
        std::function<std::string()> mediaFolder;
        // Asks the user for a media folder and stores the answer.
        std::function<void()> promptForFolder;
        std::function<void(bool)> setShuffleOn;
        std::function<void(const std::string&)> setCaption;
        // Where the track list file goes; throws when there is no such place.
        std::function<std::string()> trackListFile;
    };

    explicit RequestDispatcher(Context context);

    // Reads everything received so far as one request and carries it out.
    // Any failure ends that request silently; the connection stays.
    void Winsock_DataArrival();

private:
    using Handler = void (RequestDispatcher::*)(const std::string& argument);
    struct Route {
        std::string_view opcode;
        Handler handler;
    };
    static const Route kRoutes[];

    void dispatch(const RemoteRequest& request);

    void sendTrackList(const std::string& argument);
    void openTrack(const std::string& path);
    void play(const std::string& argument);
    void stop(const std::string& argument);
    void pause(const std::string& argument);
    void louder(const std::string& argument);
    void quieter(const std::string& argument);
    void setShuffle(const std::string& argument);

    bool replyIfNothingLoaded();
    void changeVolume(int step);
    void send(std::string_view bytes);

    Context m_context;
};

}  // namespace tallowcrest
