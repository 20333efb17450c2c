#include "remote/request_dispatcher.h"

#include "library/track_list.h"
#include "library/track_scan.h"
#include "playback/media_player.h"
#include "remote/component_failure.h"
#include "remote/remote_request.h"
#include "remote/socket.h"
#include "remote/track_list_file.h"

#include <fstream>
#include <malloc.h>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace tallowcrest {

namespace {

constexpr const char* kTrackOpened = "CODE_11";
constexpr const char* kNoTrack = "CODE_12";
constexpr const char* kCaptionPrefix = "Tallowcrest Server: ";
constexpr int kVolumeStep = 100;
constexpr std::size_t kReleaseMemoryAfterBytes = std::size_t{1} << 20;

// Only a regular file can be played: a folder, a FIFO (opening it would
// block) or a device is not a track. A name holding a NUL byte names no file:
// the system would only see the part before it.
bool IsRegularFile(const std::string& path)
{
    struct stat info {};
    return !path.empty() && path.find('\0') == std::string::npos && ::stat(path.c_str(), &info) == 0 &&
           S_ISREG(info.st_mode);
}

std::string ReadWholeFile(const std::string& file)
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
    {"00", &RequestDispatcher::SendTrackListRequest},
    {"01", &RequestDispatcher::OpenTrack},
    {"02", &RequestDispatcher::Play},
    {"03", &RequestDispatcher::Stop},
    {"04", &RequestDispatcher::Pause},
    {"05", &RequestDispatcher::Louder},
    {"06", &RequestDispatcher::Quieter},
    {"07", &RequestDispatcher::SetShuffle},
};

RequestDispatcher::RequestDispatcher(Context context) : ctx_(std::move(context)) {}

void RequestDispatcher::Winsock_DataArrival()
{
    std::size_t blockSize = 0;
    try {
        std::string block = ctx_.winsock.GetData();
        blockSize = block.size();
        Dispatch(RemoteRequest::Parse(std::move(block)));
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

void RequestDispatcher::Dispatch(const RemoteRequest& request)
{
    for (const Route& route : kRoutes) {
        if (request.opcode == route.opcode) {
            (this->*route.handler)(request.argument);
            return;
        }
    }
}

void RequestDispatcher::Send(const std::string& bytes)
{
    RetryComponentStep([&] { ctx_.winsock.SendData(bytes); });
}

void RequestDispatcher::SendTrackListRequest(const std::string&)
{
    while (!FolderCheckPasses(ctx_.mediaFolder()))
        ctx_.promptForFolder();

    const std::string file = ctx_.trackListFile();
    WriteTrackList(ctx_.mediaFolder(), file);
    SendTrackList(file, ctx_.winsock);

    std::vector<std::string> rows = SplitTrackLines(ReadWholeFile(file));
    ctx_.lstFiles.Clear();
    ctx_.lstFiles.AddRows(std::move(rows));
    if (::unlink(file.c_str()) != 0)
        throw std::runtime_error("cannot delete " + file);
}

void RequestDispatcher::OpenTrack(const std::string& path)
{
    if (!IsRegularFile(path)) {
        Send(kNoTrack);
        return;
    }
    RetryComponentStep([&] { ctx_.media.Open(path); });
    const std::string title = TrackTitle(path);
    ctx_.setCaption(kCaptionPrefix + title);
    Send(kTrackOpened + title);
}

bool RequestDispatcher::ReplyIfNothingLoaded()
{
    if (!RetryComponentStep([&] { return ctx_.media.FileName(); }).empty())
        return false;
    Send(kNoTrack);
    return true;
}

void RequestDispatcher::Play(const std::string&)
{
    if (!ReplyIfNothingLoaded())
        RetryComponentStep([&] { ctx_.media.Play(); });
}

void RequestDispatcher::Stop(const std::string&)
{
    if (!ReplyIfNothingLoaded())
        RetryComponentStep([&] { ctx_.media.Stop(); });
}

void RequestDispatcher::Pause(const std::string&)
{
    if (!ReplyIfNothingLoaded())
        RetryComponentStep([&] { ctx_.media.Pause(); });
}

void RequestDispatcher::ChangeVolume(int step)
{
    const int level = RetryComponentStep([&] { return ctx_.media.Volume(); });
    int changed = 0;
    if (__builtin_add_overflow(level, step, &changed))
        throw std::overflow_error("volume level out of range");
    RetryComponentStep([&] { ctx_.media.SetVolume(changed); });
}

void RequestDispatcher::Louder(const std::string&) { ChangeVolume(kVolumeStep); }

void RequestDispatcher::Quieter(const std::string&) { ChangeVolume(-kVolumeStep); }

void RequestDispatcher::SetShuffle(const std::string& argument)
{
    if (const std::optional<bool> on = ParseBooleanText(argument))
        ctx_.setShuffleOn(*on);
}

}  // namespace tallowcrest
