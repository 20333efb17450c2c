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
        const char* opcode;
        Handler handler;
    };
    static const Route kRoutes[];

    void Dispatch(const RemoteRequest& request);

    void SendTrackListRequest(const std::string& argument);
    void OpenTrack(const std::string& argument);
    void Play(const std::string& argument);
    void Stop(const std::string& argument);
    void Pause(const std::string& argument);
    void Louder(const std::string& argument);
    void Quieter(const std::string& argument);
    void SetShuffle(const std::string& argument);

    bool ReplyIfNothingLoaded();
    void ChangeVolume(int step);
    void Send(const std::string& bytes);

    Context ctx_;
};

}  // namespace tallowcrest
