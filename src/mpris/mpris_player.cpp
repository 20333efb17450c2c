#include "mpris/mpris_player.h"

#include "library/track_list.h"
#include "library/track_scan.h"
#include "mpris/mpris_service.h"
#include "playback/media_player.h"
#include "server/server_controller.h"

#include <QDBusContext>
#include <QDBusMessage>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace tallowcrest {

namespace {

const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
const QString kRowTrack = QStringLiteral("/org/tallowcrest/track/%1");
const QString kUnlistedTrack = QStringLiteral("/org/tallowcrest/track/unlisted");

}  // namespace

double busVolumeForLevel(int level)
{
    return level <= IMediaPlayer::kSilent ? 0.0 : std::pow(10.0, level / 2000.0);
}

int levelForBusVolume(double volume)
{
    if (!(volume > 0.0))
        return IMediaPlayer::kSilent;
    if (volume >= 1.0)
        return IMediaPlayer::kLoudest;
    return static_cast<int>(std::max<long>(IMediaPlayer::kSilent, std::lround(2000.0 * std::log10(volume))));
}

MprisPlayer::MprisPlayer(QObject* parent, const QDBusContext& calls, ServerController& controller,
                         const QDBusConnection& bus)
    : QDBusAbstractAdaptor(parent), m_calls(calls), m_controller(controller), m_bus(bus), m_trackId(kNoTrack)
{
    m_announced = changingProperties();
    IMediaPlayer& player = controller.player();
    connect(&player, &IMediaPlayer::stateChanged, this, &MprisPlayer::announceChanges);
    connect(&player, &IMediaPlayer::durationChanged, this, &MprisPlayer::announceChanges);
    connect(&player, &IMediaPlayer::volumeChanged, this, &MprisPlayer::announceChanges);
    connect(&player, &IMediaPlayer::seeked, this, [this](qint64 ms) { emit Seeked(ms * 1000); });
    connect(&controller, &ServerController::shuffleChanged, this, &MprisPlayer::announceChanges);
    connect(&controller, &ServerController::trackListChanged, this, &MprisPlayer::announceChanges);
}

QString MprisPlayer::playbackStatus() const
{
    switch (m_controller.player().playbackState()) {
    case IMediaPlayer::PlaybackState::Playing: return QStringLiteral("Playing");
    case IMediaPlayer::PlaybackState::Paused: return QStringLiteral("Paused");
    case IMediaPlayer::PlaybackState::Stopped: break;
    }
    return QStringLiteral("Stopped");
}

bool MprisPlayer::shuffle() const { return m_controller.ShuffleOn(); }

void MprisPlayer::setShuffle(bool on) { m_controller.setShuffle(on); }

void MprisPlayer::updateTrack()
{
    const std::string file = m_controller.player().fileName();
    ITrackList& list = m_controller.trackList();
    const int row = list.selectedIndex();
    const bool rowIsFile = !file.empty() && row >= 0 && row < list.count() && list.row(row) == file;
    // Another selection counts only once it is the file playing: a click on a
    // row opens nothing, but the file opened by URI may be played again from
    // its row.
    if (file == m_trackFile && list.version() == m_trackListVersion && (row == m_trackRow || !rowIsFile))
        return;
    m_trackFile = file;
    m_trackListVersion = list.version();
    m_trackRow = row;
    if (file.empty())
        m_trackId = QDBusObjectPath(kNoTrack);
    else
        m_trackId = QDBusObjectPath(rowIsFile ? kRowTrack.arg(row) : kUnlistedTrack);
}

QVariantMap MprisPlayer::metadata()
{
    updateTrack();
    QVariantMap data{{QStringLiteral("mpris:trackid"), QVariant::fromValue(m_trackId)}};
    if (m_trackFile.empty())
        return data;
    std::error_code error;
    const std::string absolute = std::filesystem::absolute(m_trackFile, error).string();
    // Escaped byte by byte, so that a name that is no UTF-8 survives.
    const QByteArray escaped = QByteArray::fromStdString(error ? m_trackFile : absolute).toPercentEncoding("/");
    data.insert(QStringLiteral("xesam:url"), QString::fromLatin1("file://" + escaped));
    data.insert(QStringLiteral("xesam:title"), QString::fromStdString(TrackTitle(m_trackFile)));
    if (const qint64 ms = m_controller.player().duration(); ms > 0)
        data.insert(QStringLiteral("mpris:length"), qlonglong(ms * 1000));
    return data;
}

double MprisPlayer::volume() const { return busVolumeForLevel(m_controller.player().volume()); }

void MprisPlayer::setVolume(double volume) { m_controller.player().setVolume(levelForBusVolume(volume)); }

qlonglong MprisPlayer::position() const { return m_controller.player().position() * 1000; }

void MprisPlayer::Next() { m_controller.playNext(); }

void MprisPlayer::Previous() { m_controller.playPrevious(); }

void MprisPlayer::Pause() { m_controller.player().pause(); }

void MprisPlayer::PlayPause()
{
    if (m_controller.player().playbackState() == IMediaPlayer::PlaybackState::Playing)
        Pause();
    else
        Play();
}

void MprisPlayer::Stop() { m_controller.player().stop(); }

void MprisPlayer::Play() { m_controller.player().play(); }

void MprisPlayer::Seek(qlonglong offsetUs)
{
    IMediaPlayer& player = m_controller.player();
    if (player.fileName().empty())
        return;
    // Beyond a century either way is as far as it goes, and no sum overflows.
    constexpr qlonglong kFarUs = 100LL * 365 * 24 * 3600 * 1000 * 1000;
    offsetUs = std::clamp(offsetUs, -kFarUs, kFarUs);
    const qint64 nowUs = player.position() * 1000;
    const qint64 lengthUs = player.duration() * 1000;
    // Past the end is the next track. Until the length is known (just after
    // an open or a play from the start), the player takes the place as it is.
    if (lengthUs > 0 && offsetUs > lengthUs - nowUs)
        Next();
    else
        player.seek(std::max<qint64>(0, nowUs + offsetUs) / 1000);
}

void MprisPlayer::SetPosition(const QDBusObjectPath& trackId, qlonglong positionUs)
{
    updateTrack();
    // A request for a track that has gone since is stale.
    if (m_trackFile.empty() || trackId != m_trackId)
        return;
    const qint64 lengthUs = m_controller.player().duration() * 1000;
    if (positionUs >= 0 && (lengthUs <= 0 || positionUs <= lengthUs))
        m_controller.player().seek(positionUs / 1000);
}

void MprisPlayer::OpenUri(const QString& uri)
{
    const QUrl url(uri, QUrl::StrictMode);
    const bool here = url.host().isEmpty() || url.host() == QStringLiteral("localhost");
    const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (url.scheme() != QStringLiteral("file") || !here || !path.startsWith('/') || path.contains('\0')
        || !m_controller.playFile(path.toStdString()))
        m_calls.sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("cannot play %1").arg(uri));
}

QVariantMap MprisPlayer::changingProperties()
{
    return {{QStringLiteral("PlaybackStatus"), playbackStatus()},
            {QStringLiteral("Shuffle"), shuffle()},
            {QStringLiteral("Metadata"), metadata()},
            {QStringLiteral("Volume"), volume()}};
}

void MprisPlayer::announceChanges()
{
    const QVariantMap now = changingProperties();
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it) {
        if (m_announced.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    m_announced = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(MprisService::kObjectPath),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral("org.mpris.MediaPlayer2.Player") << changed << QStringList();
    m_bus.send(signal);
}

}  // namespace tallowcrest
