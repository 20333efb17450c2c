#include "playback/gst_player.h"

#include "playback/playback_log.h"
#include "playback/volume_scale.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace tallowcrest {

namespace {

std::runtime_error openError(const std::string& path, const std::string& reason)
{
    return std::runtime_error("cannot open \"" + path + "\": " + reason);
}

// O_NONBLOCK so that a FIFO cannot hold the calling thread.
void requireReadableRegularFile(const std::string& path)
{
    if (path.empty())
        throw openError(path, "no file name");
    if (path.find('\0') != std::string::npos)
        throw openError(path, "file name contains a NUL byte");
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw openError(path, std::strerror(errno));
    struct stat info {};
    const int statResult = ::fstat(fd, &info);
    const int statError = errno;
    ::close(fd);
    if (statResult != 0)
        throw openError(path, std::strerror(statError));
    if (!S_ISREG(info.st_mode))
        throw openError(path, "not a regular file");
}

}  // namespace

GstPlayer::GstPlayer(QObject* parent)
    : GstPlayer(GstPlayerOptions{}, parent)
{
}

GstPlayer::GstPlayer(GstPlayerOptions options, QObject* parent)
    : IMediaPlayer(parent)
    , m_options(std::move(options))
{
    m_wish.gain = gainForLevel(m_volume);
    m_watchdog.setInterval(std::clamp(m_options.stuckAfterMs / 4, 10, 1000));
    connect(&m_watchdog, &QTimer::timeout, this, &GstPlayer::watchPipeline);
}

GstPlayer::~GstPlayer() = default;

void GstPlayer::open(const std::string& path)
{
    requireReadableRegularFile(path);
    m_fileName = path;
    m_wish.path = path;
    startRun();
}

void GstPlayer::startRun()
{
    m_generation = ++m_lastGeneration;
    m_wish.generation = m_generation;
    m_wish.action = PipelineWish::Action::Play;
    m_state = PlaybackState::Playing;
    hand();
    setPosition(0);
    setDuration(0);
    emit stateChanged();
}

void GstPlayer::play()
{
    if (m_fileName.empty() || m_state == PlaybackState::Playing)
        return;
    if (m_state == PlaybackState::Stopped) {
        startRun();
        return;
    }
    m_wish.action = PipelineWish::Action::Play;
    hand();
    setState(PlaybackState::Playing);
}

void GstPlayer::stop()
{
    if (m_state == PlaybackState::Stopped)
        return;
    m_generation = ++m_lastGeneration;
    m_wish.generation = m_generation;
    m_wish.action = PipelineWish::Action::Stop;
    hand();
    setPosition(0);
    setState(PlaybackState::Stopped);
}

void GstPlayer::pause()
{
    if (m_state != PlaybackState::Playing)
        return;
    m_wish.action = PipelineWish::Action::Pause;
    hand();
    setState(PlaybackState::Paused);
}

std::string GstPlayer::fileName() const
{
    return m_fileName;
}

int GstPlayer::volume() const
{
    return m_volume;
}

void GstPlayer::setVolume(int level)
{
    if (level < kSilent || level > kLoudest)
        throw std::out_of_range("volume level " + std::to_string(level) + " is outside "
                                + std::to_string(kSilent) + ".." + std::to_string(kLoudest));
    if (level == m_volume)
        return;
    m_volume = level;
    m_wish.gain = gainForLevel(level);
    if (m_pipeline)
        hand();
    emit volumeChanged(level);
}

IMediaPlayer::PlaybackState GstPlayer::playbackState() const
{
    return m_state;
}

qint64 GstPlayer::position() const
{
    return m_position;
}

qint64 GstPlayer::duration() const
{
    return m_duration;
}

void GstPlayer::seek(qint64 ms)
{
    if (m_state == PlaybackState::Stopped)
        return;
    ++m_wish.seekSerial;
    m_wish.seekGeneration = m_generation;
    m_wish.seekMs = std::max<qint64>(0, ms);
    hand();
}

void GstPlayer::queueNext(const std::string& path)
{
    if (path == m_wish.nextPath)
        return;
    m_wish.nextPath = path;
    m_wish.nextGeneration = path.empty() ? 0 : ++m_lastGeneration;
    if (m_pipeline)
        hand();
}

void GstPlayer::setReplayGain(ReplayGain mode, double preampDb)
{
    m_wish.replayGain = mode != ReplayGain::Off;
    m_wish.albumGain = mode == ReplayGain::Album;
    m_wish.preampDb = preampDb;
    if (m_pipeline)
        hand();
}

std::optional<QString> GstPlayer::checkAudioOutput(const std::string& description)
{
    return checkSinkDescription(description);
}

// The queued file took the place of the current one at the sink. Whoever
// listens names the next file before the wish goes out, so that the pipeline
// never sees the new file without its follower.
void GstPlayer::advance(quint64 generation, const std::string& path)
{
    m_generation = generation;
    m_fileName = m_wish.path = path;
    m_wish.nextPath.clear();
    m_wish.generation = generation;
    m_wish.nextGeneration = 0;
    setPosition(0);
    setDuration(0);
    emit advanced();
    emit stateChanged();
    hand();
}

void GstPlayer::setState(PlaybackState state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}

void GstPlayer::setPosition(qint64 ms)
{
    if (ms == m_position)
        return;
    m_position = ms;
    emit positionChanged(ms);
}

void GstPlayer::setDuration(qint64 ms)
{
    if (ms == m_duration)
        return;
    m_duration = ms;
    emit durationChanged(ms);
}

// Hands the whole current wish over; the pipeline thread only ever acts on
// the latest.
void GstPlayer::hand()
{
    if (!m_pipeline)
        startPipeline();
    m_pipeline->want(m_wish);
    if (!m_watchdog.isActive())
        m_watchdog.start();
}

void GstPlayer::startPipeline()
{
    const quint64 id = ++m_pipelineId;
    // The thread calls this only until it is let go of, which the destructor
    // does before this object goes; Qt drops events still queued for it then.
    auto report = [this, id](const PipelineEvent& event) {
        QMetaObject::invokeMethod(this, [this, id, event] { onPipelineEvent(id, event); }, Qt::QueuedConnection);
    };
    m_pipeline = std::make_unique<PipelineThread>(report, m_options.beforeStateChange, m_options.audioOutput);
}

void GstPlayer::watchPipeline()
{
    if (m_pipeline->stuckForMs() >= m_options.stuckAfterMs) {
        qCWarning(playbackLog).nospace() << "the pipeline for " << QFile::decodeName(m_fileName.c_str())
                                         << " has hung inside GStreamer for " << m_pipeline->stuckForMs()
                                         << " ms; it is abandoned for a new one";
        m_pipeline->abandon();
        startPipeline();
        m_pipeline->want(m_wish);
    }
    if (m_state != PlaybackState::Playing && m_pipeline->idle())
        m_watchdog.stop();
}

void GstPlayer::onPipelineEvent(quint64 pipelineId, const PipelineEvent& event)
{
    if (pipelineId != m_pipelineId || event.generation != m_generation)
        return;
    switch (event.kind) {
    case PipelineEvent::Kind::Advanced:
        // The pipeline plays what it took, even should the queue have
        // changed since.
        advance(event.advancedTo, event.path);
        break;
    case PipelineEvent::Kind::NoSoundOutput:
        if (std::exchange(m_soundOutputMissing, true))
            break;
        qCWarning(playbackLog) << "no sound output: the desktop's default output plays into nothing (no sound"
                                  " server, and no ALSA plugin for GStreamer?); set AudioOutput, see the README";
        emit soundOutputLost();
        break;
    case PipelineEvent::Kind::Position:
        setPosition(event.ms);
        break;
    case PipelineEvent::Kind::Duration:
        setDuration(event.ms);
        break;
    case PipelineEvent::Kind::Seeked:
        setPosition(event.ms);
        emit seeked(event.ms);
        break;
    case PipelineEvent::Kind::Ended:
    case PipelineEvent::Kind::Failed:
        if (m_state == PlaybackState::Stopped)
            return;
        m_state = PlaybackState::Stopped;
        // Should the pipeline thread be replaced now, the new one must not
        // play the file once more.
        m_wish.action = PipelineWish::Action::Stop;
        // A handler may open the next file at once; stateChanged then still
        // holds.
        if (event.kind == PipelineEvent::Kind::Ended)
            emit endOfStream();
        else
            emit playbackFailed(event.message);
        emit stateChanged();
        break;
    }
}

}  // namespace tallowcrest
