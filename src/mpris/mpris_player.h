#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QVariantMap>

#include <cstdint>
#include <string>

class QDBusContext;

namespace tallowcrest {

class Controls;
class NowPlaying;
enum class Outcome;

// org.mpris.MediaPlayer2.Player: the player strip, the list's order and the
// "Randomize" switch, through the controls every hand uses.
class MprisPlayer : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    // Play-through wraps round the list, always.
    Q_PROPERTY(QString LoopStatus READ loopStatus)
    Q_PROPERTY(double Rate READ rate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(bool Shuffle READ shuffle WRITE setShuffle)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ can)
    Q_PROPERTY(bool CanGoPrevious READ can)
    Q_PROPERTY(bool CanPlay READ can)
    Q_PROPERTY(bool CanPause READ can)
    Q_PROPERTY(bool CanSeek READ can)
    Q_PROPERTY(bool CanControl READ can)

public:
    // calls: the context of the call being answered, which Qt keeps on the
    // object an adaptor adapts rather than on the adaptor.
    MprisPlayer(QObject* parent, const QDBusContext& calls, Controls& controls, const NowPlaying& nowPlaying,
                const QDBusConnection& bus);

    QString playbackStatus() const;
    QString loopStatus() const { return QStringLiteral("Playlist"); }
    double rate() const { return 1.0; }
    bool shuffle() const;
    void setShuffle(bool on);
    QVariantMap metadata();
    double volume() const;
    void setVolume(double volume);
    qlonglong position() const;
    bool can() const { return true; }

public slots:
    void Next();
    void Previous();
    void Pause();
    void PlayPause();
    void Stop();
    void Play();
    void Seek(qlonglong offsetUs);
    void SetPosition(const QDBusObjectPath& trackId, qlonglong positionUs);
    void OpenUri(const QString& uri);

signals:
    void Seeked(qlonglong positionUs);

private:
    // The properties that change, as last announced.
    QVariantMap changingProperties();
    void announceChanges();
    // A command that did not go through answers the call with an error.
    void report(Outcome outcome);
    // The track id belongs to the file as it was opened: the selected row if
    // that row is the file, else none of the rows.
    void updateTrack();

    const QDBusContext& m_calls;
    Controls& m_controls;
    const NowPlaying& m_nowPlaying;
    QDBusConnection m_bus;
    QVariantMap m_announced;
    std::string m_trackFile;
    std::uint64_t m_trackListVersion = 0;
    int m_trackRow = -1;
    QDBusObjectPath m_trackId;
};

}  // namespace tallowcrest
