#include "server/playback_controller.h"

#include "library/track_list.h"
#include "library/track_scan.h"
#include "playback/media_player.h"
#include "remote/protocol.h"
#include "remote/socket.h"
#include "server/now_playing.h"
#include "server/server_log.h"

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

bool PlaybackController::playSelected()
{
    // A deliberate pick gets a fresh round, even after play-through gave up.
    m_failedInARow = 0;
    if (openSelected(true))
        return true;
    trackFailed();
    return false;
}

void PlaybackController::trackEnded()
{
    m_failedInARow = 0;
    playOn();
}

void PlaybackController::trackFailed()
{
    ++m_failedInARow;
    playOn();
}

void PlaybackController::setShuffleAnnounced(bool on)
{
    m_parts.nowPlaying.setShuffle(on);
    notify(on ? protocol::kShuffleOn : protocol::kShuffleOff);
}

bool PlaybackController::playRow(int index)
{
    m_parts.lstFiles.setSelectedIndex(index);
    return playSelected();
}

bool PlaybackController::playNext()
{
    const int count = m_parts.lstFiles.count();
    return count > 0 && playRow((m_parts.lstFiles.selectedIndex() + 1) % count);
}

bool PlaybackController::playPrevious()
{
    const int count = m_parts.lstFiles.count();
    const int selected = m_parts.lstFiles.selectedIndex();
    return count > 0 && playRow(selected <= 0 ? count - 1 : selected - 1);
}

void PlaybackController::notify(std::string_view text)
{
    if (!m_parts.nowPlaying.clientConnected())
        return;
    try {
        m_parts.winsock.SendData(text);
    } catch (const std::exception& failure) {
        // The connection is going away; its close event follows.
        qCDebug(serverLog) << "the client was not told" << QByteArray(text.data(), qsizetype(text.size()))
                           << "-" << failure.what();
    }
}

// A loop, not recursion: files that fail to open at once are skipped in
// place, however many there are.
void PlaybackController::playOn()
{
    if (m_parts.nowPlaying.clientConnected()) {
        notify(protocol::kTrackEnded);
        return;
    }
    ITrackList& list = m_parts.lstFiles;
    while (list.count() > 0 && m_failedInARow < list.count()) {
        list.setSelectedIndex(followingRow());
        // A random pick keeps the caption of the track before it.
        if (openSelected(!m_parts.nowPlaying.shuffle()))
            return;
        ++m_failedInARow;
    }
}

int PlaybackController::followingRow()
{
    const int count = m_parts.lstFiles.count();
    if (m_parts.nowPlaying.shuffle())
        return randomIndex(m_parts.drawRandom(), count);
    const int selected = m_parts.lstFiles.selectedIndex();
    return selected >= count - 1 ? 0 : selected + 1;
}

PlaybackController::QueueBasis PlaybackController::queueBasis() const
{
    const bool playing = m_parts.media.playbackState() != IMediaPlayer::PlaybackState::Stopped;
    return {m_parts.lstFiles.version(), m_parts.lstFiles.selectedIndex(), m_parts.media.fileName(),
            m_parts.nowPlaying.shuffle(),
            playing && !m_parts.nowPlaying.clientConnected() && m_parts.lstFiles.count() > 0};
}

void PlaybackController::queueFollowing()
{
    const QueueBasis basis = queueBasis();
    if (basis == m_queuedFrom)
        return;
    m_queuedFrom = basis;
    m_queuedRow = basis.active ? followingRow() : -1;
    m_parts.media.queueNext(m_queuedRow < 0 ? std::string() : std::string(m_parts.lstFiles.row(m_queuedRow)));
}

void PlaybackController::queuedTrackBegan()
{
    m_failedInARow = 0;
    // A client that came meanwhile decides what plays: to it, the track
    // before has ended.
    if (m_parts.nowPlaying.clientConnected()) {
        m_parts.media.stop();
        notify(protocol::kTrackEnded);
        return;
    }
    if (m_queuedRow >= 0 && m_queuedFrom.listVersion == m_parts.lstFiles.version())
        m_parts.lstFiles.setSelectedIndex(m_queuedRow);
    if (!m_queuedFrom.shuffle)
        m_parts.nowPlaying.showTitleOf(m_parts.media.fileName());
    m_parts.nowPlaying.noteTrackBegan();
    queueFollowing();
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
    } catch (const std::exception& failure) {
        qCWarning(serverLog).noquote() << failure.what();
        return false;
    }
    if (showTitle) {
        m_parts.nowPlaying.showTitleOf(path);
        notify(std::string(protocol::kTrackOpened).append(TrackTitle(path)));
    }
    return true;
}

}  // namespace tallowcrest
