#include "server/now_playing.h"

#include "library/track_list.h"
#include "library/track_scan.h"
#include "playback/media_player.h"
#include "playback/volume_scale.h"
#include "remote/socket.h"
#include "server/caption.h"

#include <QFile>

namespace tallowcrest {

NowPlaying::NowPlaying(const IMediaPlayer& player, const ITrackList& list, const ISocket& socket, QObject* parent)
    : QObject(parent), m_player(player), m_list(list), m_socket(socket)
{
    const auto forward = [this](Changes what) { return [this, what] { emit changed(what); }; };
    connect(&player, &IMediaPlayer::stateChanged, this, forward(Change::Status | Change::Track));
    connect(&player, &IMediaPlayer::positionChanged, this, forward(Change::Position));
    connect(&player, &IMediaPlayer::durationChanged, this, forward(Change::Length));
    connect(&player, &IMediaPlayer::seeked, this, forward(Change::Seeked | Change::Position));
    connect(&player, &IMediaPlayer::volumeChanged, this, forward(Change::Volume));
    connect(&player, &IMediaPlayer::soundOutputLost, this, forward(Change::Sound));
}

NowPlaying::Status NowPlaying::status() const
{
    switch (m_player.playbackState()) {
    case IMediaPlayer::PlaybackState::Playing: return Status::Playing;
    case IMediaPlayer::PlaybackState::Paused: return Status::Paused;
    case IMediaPlayer::PlaybackState::Stopped: break;
    }
    return Status::Stopped;
}

int NowPlaying::row() const { return m_list.selectedIndex(); }

std::string NowPlaying::file() const { return m_player.fileName(); }

QString NowPlaying::caption() const
{
    const QString designed = QString::fromUtf8(kDesignedCaption.data(), qsizetype(kDesignedCaption.size()));
    return m_title.isNull() ? designed : designed + QStringLiteral(": ") + m_title;
}

qint64 NowPlaying::position() const { return m_player.position(); }

qint64 NowPlaying::length() const { return m_player.duration(); }

int NowPlaying::volumeLevel() const { return m_player.volume(); }

double NowPlaying::volume() const { return gainForLevel(m_player.volume()); }

bool NowPlaying::clientConnected() const
{
    const SocketState state = m_socket.State();
    return state != SocketState::Closed && state != SocketState::Listening;
}

std::uint64_t NowPlaying::listVersion() const { return m_list.version(); }

int NowPlaying::rowCount() const { return m_list.count(); }

std::string_view NowPlaying::rowPath(int row) const { return m_list.row(row); }

void NowPlaying::showTitleOf(std::string_view path)
{
    // The title's bytes as Qt shows file names; never null, so that a name
    // too short for a title still makes the caption "Tallowcrest Server: ".
    const std::string_view title = TrackTitle(path);
    m_title = QFile::decodeName(QByteArray(title.data(), qsizetype(title.size())));
    if (m_title.isNull())
        m_title = QStringLiteral("");
    emit changed(Change::Title);
}

void NowPlaying::setShuffle(bool on)
{
    if (on == m_shuffle)
        return;
    m_shuffle = on;
    emit changed(Change::Shuffle);
}

bool NowPlaying::soundOutputMissing() const { return m_player.soundOutputMissing(); }

void NowPlaying::setReplayGain(ReplayGainMode mode, double preampDb)
{
    if (mode == m_replayGain && preampDb == m_replayGainPreamp)
        return;
    m_replayGain = mode;
    m_replayGainPreamp = preampDb;
    emit changed(Change::ReplayGain);
}

void NowPlaying::noteClientChanged() { emit changed(Change::Client); }

void NowPlaying::noteTrackBegan() { emit changed(Change::Track | Change::Length | Change::Position); }

void NowPlaying::noteListChanged() { emit changed(Change::List); }

}  // namespace tallowcrest
