#include "server/controls.h"

#include "library/track_list.h"
#include "playback/media_player.h"
#include "playback/volume_scale.h"
#include "remote/protocol.h"
#include "server/now_playing.h"
#include "server/playback_controller.h"
#include "server/settings_store.h"

#include <sys/stat.h>

#include <stdexcept>

namespace tallowcrest {

namespace {

// Only a regular file can be played: a folder, a FIFO (opening it would
// block) or a device is not a track. A name holding a NUL byte names no file:
// the system would only see the part before it.
bool isRegularFile(const std::string& path)
{
    struct stat info {};
    return !path.empty() && path.find('\0') == std::string::npos && ::stat(path.c_str(), &info) == 0
        && S_ISREG(info.st_mode);
}

}  // namespace

const char* describe(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Done: return "done";
    case Outcome::NothingLoaded: return "no track is loaded";
    case Outcome::CannotPlay: return "the file cannot be played";
    case Outcome::NoSuchRow: return "there is no row by that number in the track list";
    case Outcome::StaleList: return "the track list has changed since; load it again";
    case Outcome::OutOfRange: return "the value is out of range";
    }
    return "unknown";
}

Controls::Controls(IMediaPlayer& media, ITrackList& lstFiles, NowPlaying& nowPlaying, PlaybackController& playback,
                   ISettingsStore& settings)
    : m_media(media), m_lstFiles(lstFiles), m_nowPlaying(nowPlaying), m_playback(playback), m_settings(settings)
{
}

bool Controls::loaded() const { return !m_media.fileName().empty(); }

Outcome Controls::play()
{
    if (!loaded())
        return Outcome::NothingLoaded;
    m_media.play();
    return Outcome::Done;
}

Outcome Controls::pause()
{
    if (!loaded())
        return Outcome::NothingLoaded;
    m_media.pause();
    return Outcome::Done;
}

Outcome Controls::stop()
{
    if (!loaded())
        return Outcome::NothingLoaded;
    m_media.stop();
    return Outcome::Done;
}

Outcome Controls::next()
{
    if (m_lstFiles.count() == 0)
        return Outcome::NoSuchRow;
    return m_playback.playNext() ? Outcome::Done : Outcome::CannotPlay;
}

Outcome Controls::previous()
{
    if (m_lstFiles.count() == 0)
        return Outcome::NoSuchRow;
    return m_playback.playPrevious() ? Outcome::Done : Outcome::CannotPlay;
}

Outcome Controls::playRow(int row, std::uint64_t listVersion)
{
    if (listVersion != m_lstFiles.version())
        return Outcome::StaleList;
    if (row < 0 || row >= m_lstFiles.count())
        return Outcome::NoSuchRow;
    return m_playback.playRow(row) ? Outcome::Done : Outcome::CannotPlay;
}

Outcome Controls::openFile(const std::string& path)
{
    // A missing file is an everyday answer; one the player refuses (it
    // cannot be read, say) is logged where it is refused.
    if (!isRegularFile(path))
        return Outcome::CannotPlay;
    return m_playback.playFile(path) ? Outcome::Done : Outcome::CannotPlay;
}

Outcome Controls::stepVolume(int steps)
{
    int level = 0;
    if (__builtin_mul_overflow(steps, protocol::kVolumeStep, &level)
        || __builtin_add_overflow(m_media.volume(), level, &level))
        return Outcome::OutOfRange;
    try {
        m_media.setVolume(level);
    } catch (const std::out_of_range&) {
        return Outcome::OutOfRange;
    }
    return Outcome::Done;
}

Outcome Controls::setVolume(double gain)
{
    if (!(gain >= 0.0 && gain <= 1.0))
        return Outcome::OutOfRange;
    m_media.setVolume(levelForGain(gain));
    return Outcome::Done;
}

Outcome Controls::seek(qint64 ms)
{
    if (!loaded())
        return Outcome::NothingLoaded;
    if (ms < 0)
        return Outcome::OutOfRange;
    m_media.seek(ms);
    return Outcome::Done;
}

void Controls::setShuffle(bool on)
{
    if (on != m_nowPlaying.shuffle())
        m_playback.setShuffleAnnounced(on);
}

void Controls::toggleShuffle() { m_playback.setShuffleAnnounced(!m_nowPlaying.shuffle()); }

void Controls::setShuffleQuietly(bool on) { m_nowPlaying.setShuffle(on); }

void Controls::setReplayGain(ReplayGainMode mode)
{
    m_nowPlaying.setReplayGain(mode, m_nowPlaying.replayGainPreamp());
    m_settings.save(kAppName, kSettingsSection, kReplayGainKey, std::string(nameOf(mode)));
}

}  // namespace tallowcrest
