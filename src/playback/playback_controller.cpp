#include "playback/playback_controller.h"

#include "library/track_list.h"
#include "library/track_scan.h"
#include "playback/media_player.h"
#include "remote/socket.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <stdexcept>

namespace tallowcrest {

namespace {

constexpr const char* kCaptionPrefix = "Tallowcrest Server: ";
constexpr const char* kTrackOpened = "CODE_11";
constexpr const char* kTrackEnded = "CODE_12";
constexpr const char* kShuffleNowOn = "CODE_13True";
constexpr const char* kShuffleNowOff = "CODE_13False";

float DrawSeededFromClock()
{
    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    std::mt19937 generator(static_cast<std::mt19937::result_type>(now ^ (now >> 32)));
    return std::uniform_real_distribution<float>(0.0f, 1.0f)(generator);
}

}  // namespace

PlaybackController::PlaybackController(Components components) : parts_(std::move(components))
{
    if (!parts_.drawRandom)
        parts_.drawRandom = DrawSeededFromClock;
}

int PlaybackController::RandomIndex(float r, int count)
{
    if (count <= 0)
        return -1;
    // In double, so r just below 1 cannot round up to count; the clamp covers
    // a generator that returns 1 itself.
    const int index = static_cast<int>(std::floor(static_cast<double>(r) * count));
    return std::clamp(index, 0, count - 1);
}

void PlaybackController::lstFiles_DblClick()
{
    // A deliberate pick gets a fresh round, even after play-through gave up.
    failedInARow_ = 0;
    if (!OpenSelected(true))
        Media_PlaybackFailed();
}

void PlaybackController::Media_EndOfStream(int32_t)
{
    failedInARow_ = 0;
    EndOfTrack();
}

void PlaybackController::Media_PlaybackFailed()
{
    ++failedInARow_;
    EndOfTrack();
}

void PlaybackController::cmdRandomize_Click()
{
    shuffleOn_ = !shuffleOn_;
    Notify(shuffleOn_ ? kShuffleNowOn : kShuffleNowOff);
}

bool PlaybackController::ClientConnected() const
{
    const int state = parts_.winsock.State();
    return state != ISocket::Closed && state != ISocket::Listening;
}

void PlaybackController::Notify(const std::string& text)
{
    if (!ClientConnected())
        return;
    try {
        parts_.winsock.SendData(text);
    } catch (const std::exception&) {
        // The connection is going away; its close event follows.
    }
}

// A loop, not recursion: files that fail to open at once are skipped in
// place, however many there are.
void PlaybackController::EndOfTrack()
{
    if (ClientConnected()) {
        Notify(kTrackEnded);
        return;
    }
    ITrackList& list = parts_.lstFiles;
    while (list.Count() > 0 && failedInARow_ < list.Count()) {
        const int count = list.Count();
        bool opened = false;
        if (shuffleOn_) {
            list.SetSelectedIndex(RandomIndex(parts_.drawRandom(), count));
            // A random pick keeps the caption of the track before it.
            opened = OpenSelected(false);
        } else {
            const int selected = list.SelectedIndex();
            list.SetSelectedIndex(selected >= count - 1 ? 0 : selected + 1);
            opened = OpenSelected(true);
        }
        if (opened)
            return;
        ++failedInARow_;
    }
}

bool PlaybackController::OpenSelected(bool showTitle)
{
    const int selected = parts_.lstFiles.SelectedIndex();
    if (selected < 0 || selected >= parts_.lstFiles.Count())
        return true;  // nothing picked: nothing to play, nothing failed
    const std::string path = parts_.lstFiles.Row(selected);
    try {
        parts_.media.Open(path);
    } catch (const std::exception&) {
        return false;
    }
    if (!showTitle)
        return true;
    const std::string title = TrackTitle(path);
    parts_.setCaption(kCaptionPrefix + title);
    Notify(kTrackOpened + title);
    return true;
}

}  // namespace tallowcrest
