#include "server/playback_controller.h"

#include "library/track_list.h"
#include "library/track_scan.h"
#include "playback/media_player.h"
#include "remote/protocol.h"
#include "remote/socket.h"
#include "server/caption.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <stdexcept>

namespace tallowcrest {

namespace {

float drawSeededFromClock()
{
    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    std::mt19937 generator(static_cast<std::mt19937::result_type>(now ^ (now >> 32)));
    return std::uniform_real_distribution<float>(0.0f, 1.0f)(generator);
}

}  // namespace

PlaybackController::PlaybackController(Components components) : m_parts(std::move(components))
{
    if (!m_parts.drawRandom)
        m_parts.drawRandom = drawSeededFromClock;
}

int PlaybackController::randomIndex(float r, int count)
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
    m_failedInARow = 0;
    if (!openSelected(true))
        Media_PlaybackFailed();
}

void PlaybackController::Media_EndOfStream(int32_t)
{
    m_failedInARow = 0;
    endOfTrack();
}

void PlaybackController::Media_PlaybackFailed()
{
    ++m_failedInARow;
    endOfTrack();
}

void PlaybackController::cmdRandomize_Click()
{
    setShuffleOn(!m_shuffleOn);
    notify(m_shuffleOn ? protocol::kShuffleOn : protocol::kShuffleOff);
}

void PlaybackController::setShuffleOn(bool on)
{
    if (on == m_shuffleOn)
        return;
    m_shuffleOn = on;
    m_parts.shuffleChanged(on);
}

void PlaybackController::playRow(int index)
{
    m_parts.lstFiles.setSelectedIndex(index);
    lstFiles_DblClick();
}

void PlaybackController::playNext()
{
    const int count = m_parts.lstFiles.count();
    if (count > 0)
        playRow((m_parts.lstFiles.selectedIndex() + 1) % count);
}

void PlaybackController::playPrevious()
{
    const int count = m_parts.lstFiles.count();
    const int selected = m_parts.lstFiles.selectedIndex();
    if (count > 0)
        playRow(selected <= 0 ? count - 1 : selected - 1);
}

bool PlaybackController::clientConnected() const
{
    const SocketState state = m_parts.winsock.State();
    return state != SocketState::Closed && state != SocketState::Listening;
}

void PlaybackController::notify(std::string_view text)
{
    if (!clientConnected())
        return;
    try {
        m_parts.winsock.SendData(text);
    } catch (const std::exception&) {
        // The connection is going away; its close event follows.
    }
}

// A loop, not recursion: files that fail to open at once are skipped in
// place, however many there are.
void PlaybackController::endOfTrack()
{
    if (clientConnected()) {
        notify(protocol::kTrackEnded);
        return;
    }
    ITrackList& list = m_parts.lstFiles;
    while (list.count() > 0 && m_failedInARow < list.count()) {
        const int count = list.count();
        bool opened = false;
        if (m_shuffleOn) {
            list.setSelectedIndex(randomIndex(m_parts.drawRandom(), count));
            // A random pick keeps the caption of the track before it.
            opened = openSelected(false);
        } else {
            const int selected = list.selectedIndex();
            list.setSelectedIndex(selected >= count - 1 ? 0 : selected + 1);
            opened = openSelected(true);
        }
        if (opened)
            return;
        ++m_failedInARow;
    }
}

bool PlaybackController::openSelected(bool showTitle)
{
    const int selected = m_parts.lstFiles.selectedIndex();
    if (selected < 0 || selected >= m_parts.lstFiles.count())
        return true;  // nothing picked: nothing to play, nothing failed
    return playFile(std::string(m_parts.lstFiles.row(selected)), showTitle);
}

bool PlaybackController::playFile(const std::string& path, bool showTitle)
{
    try {
        m_parts.media.open(path);
    } catch (const std::exception&) {
        return false;
    }
    if (showTitle) {
        m_parts.setCaption(captionFor(path));
        notify(std::string(protocol::kTrackOpened) + TrackTitle(path));
    }
    return true;
}

}  // namespace tallowcrest
