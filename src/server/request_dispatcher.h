#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tallowcrest {

class Controls;
class ISocket;
class ITrackList;
struct RemoteRequest;

// Decodes each block that arrives from the client and carries it out through
// the controls every hand uses.
class RequestDispatcher {
public:
    // What the requests act on; the main window owns all of it.
    struct Context {
        ISocket& winsock;
        Controls& controls;
        ITrackList& lstFiles;
        std::function<std::string()> mediaFolder;
        // Asks the user for a media folder and stores the answer.
        std::function<void()> promptForFolder;
        // Where the track list file goes; throws when there is no such place.
        std::function<std::string()> trackListFile;
    };

    explicit RequestDispatcher(Context context);

    // Reads everything received so far as one request and carries it out.
    // A failure ends that request with a line in the log; the connection
    // stays for the next one.
    void handleArrivedData();

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

    void send(std::string_view bytes);

    Context m_context;
};

}  // namespace tallowcrest
