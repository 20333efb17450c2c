#include "server/request_dispatcher.h"

#include "library/track_list.h"
#include "library/track_scan.h"
#include "remote/protocol.h"
#include "remote/remote_request.h"
#include "remote/socket.h"
#include "remote/track_list_file.h"
#include "server/controls.h"
#include "server/server_log.h"

#include <malloc.h>
#include <stdexcept>

namespace tallowcrest {

namespace {

constexpr std::size_t kReleaseMemoryAfterBytes = std::size_t{1} << 20;
// A log line shows no more of what the client sent than this.
constexpr std::size_t kLoggedBytes = 200;

// Why a request ended where it did.
class RequestFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void requireDone(Outcome outcome)
{
    if (outcome != Outcome::Done)
        throw RequestFailure(describe(outcome));
}

// The start of a block as printable text: other bytes as \xNN.
QByteArray shownBytes(std::string_view block)
{
    QByteArray shown;
    for (const char c : block.substr(0, kLoggedBytes)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f || byte == '\\')
            shown += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            shown += c;
    }
    if (block.size() > kLoggedBytes)
        shown += "... (" + QByteArray::number(qulonglong(block.size())) + " bytes)";
    return shown;
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

void RequestDispatcher::handleArrivedData()
{
    std::string block;
    try {
        block = m_context.winsock.GetData();
        dispatch(RemoteRequest::parse(block));
    } catch (const std::exception& failure) {
        // A failing request ends where it failed: no reply, no message box,
        // and the connection stays for the next request.
        qCWarning(serverLog).noquote() << "request" << shownBytes(std::string_view(block).substr(0, 2)) << "failed:"
                                       << failure.what() << "- the client sent:" << shownBytes(block);
    }
    // The allocator keeps the pages a large block passed through for later
    // use; handing them back keeps one huge request from leaving the server
    // that much bigger for the rest of its run.
    if (block.size() >= kReleaseMemoryAfterBytes) {
        std::string().swap(block);
        ::malloc_trim(0);
    }
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

    std::string text = serveTrackList(m_context.mediaFolder(), m_context.trackListFile(), m_context.winsock);
    m_context.lstFiles.clear();
    m_context.lstFiles.addLines(std::move(text));
}

// The title goes to the client as the announcement of every opened track.
void RequestDispatcher::openTrack(const std::string& path)
{
    if (m_context.controls.openFile(path) != Outcome::Done)
        send(protocol::kTrackEnded);
}

void RequestDispatcher::play(const std::string&)
{
    if (m_context.controls.play() == Outcome::NothingLoaded)
        send(protocol::kTrackEnded);
}

void RequestDispatcher::stop(const std::string&)
{
    if (m_context.controls.stop() == Outcome::NothingLoaded)
        send(protocol::kTrackEnded);
}

void RequestDispatcher::pause(const std::string&)
{
    if (m_context.controls.pause() == Outcome::NothingLoaded)
        send(protocol::kTrackEnded);
}

void RequestDispatcher::louder(const std::string&) { requireDone(m_context.controls.stepVolume(+1)); }

void RequestDispatcher::quieter(const std::string&) { requireDone(m_context.controls.stepVolume(-1)); }

void RequestDispatcher::setShuffle(const std::string& argument)
{
    const std::optional<bool> on = parseBooleanText(argument);
    if (!on)
        throw RequestFailure("the argument is no Boolean text");
    m_context.controls.setShuffleQuietly(*on);
}

}  // namespace tallowcrest
