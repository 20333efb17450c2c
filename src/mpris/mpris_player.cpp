#include "mpris/mpris_player.h"

#include "mpris/mpris_service.h"
#include "server/controls.h"
#include "server/now_playing.h"

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

MprisPlayer::MprisPlayer(QObject* parent, const QDBusContext& calls, Controls& controls, const NowPlaying& nowPlaying,
                         const QDBusConnection& bus)
    : QDBusAbstractAdaptor(parent),
      m_calls(calls),
      m_controls(controls),
      m_nowPlaying(nowPlaying),
      m_bus(bus),
      m_trackId(kNoTrack)
{
    m_announced = changingProperties();
    connect(&nowPlaying, &NowPlaying::changed, this, [this](NowPlaying::Changes what) {
        if (what & NowPlaying::Change::Seeked)
            emit Seeked(m_nowPlaying.position() * 1000);
        // The position is read when asked for, never announced.
        if (what & ~NowPlaying::Changes(NowPlaying::Change::Position | NowPlaying::Change::Seeked))
            announceChanges();
    });
}

void MprisPlayer::report(Outcome outcome)
{
    if (outcome != Outcome::Done)
        m_calls.sendErrorReply(QDBusError::Failed, QString::fromLatin1(describe(outcome)));
}

QString MprisPlayer::playbackStatus() const
{
    switch (m_nowPlaying.status()) {
    case NowPlaying::Status::Playing: return QStringLiteral("Playing");
    case NowPlaying::Status::Paused: return QStringLiteral("Paused");
    case NowPlaying::Status::Stopped: break;
    }
    return QStringLiteral("Stopped");
}

bool MprisPlayer::shuffle() const { return m_nowPlaying.shuffle(); }

void MprisPlayer::setShuffle(bool on) { m_controls.setShuffle(on); }

void MprisPlayer::updateTrack()
{
    const std::string file = m_nowPlaying.file();
    const int row = m_nowPlaying.row();
    const bool rowIsFile = !file.empty() && row >= 0 && row < m_nowPlaying.rowCount() && m_nowPlaying.rowPath(row) == file;
    // Another selection counts only once it is the file playing: a click on a
    // row opens nothing, but the file opened by URI may be played again from
    // its row.
    if (file == m_trackFile && m_nowPlaying.listVersion() == m_trackListVersion && (row == m_trackRow || !rowIsFile))
        return;
    m_trackFile = file;
    m_trackListVersion = m_nowPlaying.listVersion();
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
    const TrackDetails details = m_nowPlaying.playingDetails();
    const TrackTags& tags = details.tags;
    const auto text = [&data](const char* key, const QString& value) {
        if (!value.isEmpty())
            data.insert(QLatin1String(key), value);
    };
    const auto list = [&data](const char* key, const QString& value) {
        if (!value.isEmpty())
            data.insert(QLatin1String(key), QStringList{value});
    };
    const auto number = [&data](const char* key, int value) {
        if (value > 0)
            data.insert(QLatin1String(key), value);
    };
    data.insert(QStringLiteral("xesam:title"), tags.title);
    list("xesam:artist", tags.artist);
    list("xesam:albumArtist", tags.albumArtist);
    text("xesam:album", tags.album);
    list("xesam:genre", tags.genre);
    number("xesam:trackNumber", tags.trackNumber);
    number("xesam:discNumber", tags.discNumber);
    if (tags.year > 0)
        text("xesam:contentCreated", QStringLiteral("%1-01-01T00:00:00Z").arg(tags.year, 4, 10, QLatin1Char('0')));
    if (const QString art = m_nowPlaying.artFile(details.art); !art.isEmpty())
        text("mpris:artUrl", QUrl::fromLocalFile(art).toString(QUrl::FullyEncoded));
    // The player's own word once it has it; the tags' until then.
    if (const qint64 ms = m_nowPlaying.length() > 0 ? m_nowPlaying.length() : tags.lengthMs; ms > 0)
        data.insert(QStringLiteral("mpris:length"), qlonglong(ms * 1000));
    return data;
}

double MprisPlayer::volume() const { return m_nowPlaying.volume(); }

// The bus asks that a value below 0 count as 0.
void MprisPlayer::setVolume(double volume)
{
    if (!std::isnan(volume))
        m_controls.setVolume(std::clamp(volume, 0.0, 1.0));
}

qlonglong MprisPlayer::position() const { return m_nowPlaying.position() * 1000; }

void MprisPlayer::Next() { report(m_controls.next()); }

void MprisPlayer::Previous() { report(m_controls.previous()); }

void MprisPlayer::Pause() { report(m_controls.pause()); }

void MprisPlayer::PlayPause()
{
    report(m_nowPlaying.status() == NowPlaying::Status::Playing ? m_controls.pause() : m_controls.play());
}

void MprisPlayer::Stop() { report(m_controls.stop()); }

void MprisPlayer::Play() { report(m_controls.play()); }

void MprisPlayer::Seek(qlonglong offsetUs)
{
    if (m_nowPlaying.file().empty())
        return;
    // Beyond a century either way is as far as it goes, and no sum overflows.
    constexpr qlonglong kFarUs = 100LL * 365 * 24 * 3600 * 1000 * 1000;
    offsetUs = std::clamp(offsetUs, -kFarUs, kFarUs);
    const qint64 nowUs = m_nowPlaying.position() * 1000;
    const qint64 lengthUs = m_nowPlaying.length() * 1000;
    // Past the end is the next track. Until the length is known (just after
    // an open or a play from the start), the player takes the place as it is.
    if (lengthUs > 0 && offsetUs > lengthUs - nowUs)
        Next();
    else
        m_controls.seek(std::max<qint64>(0, nowUs + offsetUs) / 1000);
}

void MprisPlayer::SetPosition(const QDBusObjectPath& trackId, qlonglong positionUs)
{
    updateTrack();
    // A request for a track that has gone since is stale.
    if (m_trackFile.empty() || trackId != m_trackId)
        return;
    const qint64 lengthUs = m_nowPlaying.length() * 1000;
    if (positionUs >= 0 && (lengthUs <= 0 || positionUs <= lengthUs))
        m_controls.seek(positionUs / 1000);
}

void MprisPlayer::OpenUri(const QString& uri)
{
    const QUrl url(uri, QUrl::StrictMode);
    const bool here = url.host().isEmpty() || url.host() == QStringLiteral("localhost");
    const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (url.scheme() != QStringLiteral("file") || !here || !path.startsWith('/') || path.contains('\0')
        || m_controls.openFile(path.toStdString()) != Outcome::Done)
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
