#include "server/request_dispatcher.h"

#include "library/track_list.h"
#include "library/track_scan.h"
#include "playback/media_player.h"
#include "remote/protocol.h"
#include "remote/remote_request.h"
#include "remote/socket.h"
#include "remote/track_list_file.h"
#include "server/caption.h"

#include <fstream>
#include <iterator>
#include <malloc.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace tallowcrest {

namespace {

constexpr std::size_t kReleaseMemoryAfterBytes = std::size_t{1} << 20;

// Only a regular file can be played: a folder, a FIFO (opening it would
// block) or a device is not a track. A name holding a NUL byte names no file:
// the system would only see the part before it.
bool isRegularFile(const std::string& path)
{
    struct stat info {};
    return !path.empty() && path.find('\0') == std::string::npos && ::stat(path.c_str(), &info) == 0 &&
           S_ISREG(info.st_mode);
}

std::string readWholeFile(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file);
    std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw std::runtime_error("cannot read " + file);
    return content;
}

}  // namespace

const RequestDispatcher::Route RequestDispatcher::kRoutes[] = {
    {protocol::kListTracks, &RequestDispatcher::sendTrackList},
    {protocol::kOpenTrack, &RequestDispatcher::openTrack},
    {protocol::kPlay, &RequestDispatcher::play},
    {protocol::kStop, &RequestDispatcher::stop},
    {protocol::kPause, &RequestDispatcher::pause},
    {protocol::kLouder, &RequestDispatcher::louder},
    {protocol::kQuieter, &RequestDispatcher::quieter},
    {protocol::kSetShuffle, &RequestDispatcher::setShuffle},
};

RequestDispatcher::RequestDispatcher(Context context) : m_context(std::move(context)) {}

void RequestDispatcher::Winsock_DataArrival()
{
    std::size_t blockSize = 0;
    try {
        std::string block = m_context.winsock.GetData();
        blockSize = block.size();
        dispatch(RemoteRequest::parse(std::move(block)));
    } catch (...) {
        // A failing request ends where it failed: no reply, no message, and
        // the connection stays for the next request.
    }
    // The allocator keeps the pages a large block passed through for later
    // use; handing them back keeps one huge request from leaving the server
    // that much bigger for the rest of its run.
    if (blockSize >= kReleaseMemoryAfterBytes)
        ::malloc_trim(0);
}

void RequestDispatcher::dispatch(const RemoteRequest& request)
{
    for (const Route& route : kRoutes) {
        if (request.opcode == route.opcode) {
            (this->*route.handler)(request.argument);
            return;
        }
    }
}

void RequestDispatcher::send(std::string_view bytes)
{
    m_context.winsock.SendData(bytes);
}

void RequestDispatcher::sendTrackList(const std::string&)
{
    while (!folderCheckPasses(m_context.mediaFolder()))
        m_context.promptForFolder();

    const std::string file = m_context.trackListFile();
    WriteTrackList(m_context.mediaFolder(), file);
    SendTrackList(file, m_context.winsock);

    m_context.lstFiles.clear();
    m_context.lstFiles.addLines(readWholeFile(file));
    if (::unlink(file.c_str()) != 0)
        throw std::runtime_error("cannot delete " + file);
}

void RequestDispatcher::openTrack(const std::string& path)
{
    if (!isRegularFile(path)) {
        send(protocol::kTrackEnded);
        return;
    }
    m_context.media.open(path);
    m_context.setCaption(captionFor(path));
    send(std::string(protocol::kTrackOpened) + TrackTitle(path));
}

bool RequestDispatcher::replyIfNothingLoaded()
{
    if (!m_context.media.fileName().empty())
        return false;
    send(protocol::kTrackEnded);
    return true;
}

void RequestDispatcher::play(const std::string&)
{
    if (!replyIfNothingLoaded())
        m_context.media.play();
}

void RequestDispatcher::stop(const std::string&)
{
    if (!replyIfNothingLoaded())
        m_context.media.stop();
}

void RequestDispatcher::pause(const std::string&)
{
    if (!replyIfNothingLoaded())
        m_context.media.pause();
}

void RequestDispatcher::changeVolume(int step)
{
    int changed = 0;
    if (__builtin_add_overflow(m_context.media.volume(), step, &changed))
        throw std::overflow_error("volume level out of range");
    m_context.media.setVolume(changed);
}

void RequestDispatcher::louder(const std::string&) { changeVolume(protocol::kVolumeStep); }

void RequestDispatcher::quieter(const std::string&) { changeVolume(-protocol::kVolumeStep); }

void RequestDispatcher::setShuffle(const std::string& argument)
{
    if (const std::optional<bool> on = parseBooleanText(argument))
        m_context.setShuffleOn(*on);
}

}  // namespace tallowcrest
