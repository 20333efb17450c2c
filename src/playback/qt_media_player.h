#pragma once

#include "playback/media_player.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QObject>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <optional>
#include <string>

namespace tallowcrest {

// The media player on Qt Multimedia. Opening a file starts it playing; when it
// has played to its end, endOfStream() is emitted once. Stop(), Pause() and
// opening another file never emit it.
class QtMediaPlayer : public QObject, public IMediaPlayer {
    Q_OBJECT

public:
    // Level a new player starts with: 6 dB below full, so that the first
    // request to raise the volume has room to act.
    static constexpr int kStartingVolume = -600;

    explicit QtMediaPlayer(QObject* parent = nullptr);
    ~QtMediaPlayer() override;

    // Makes Qt use its GStreamer backend unless QT_MEDIA_BACKEND is already
    // set. Call before the first QMediaPlayer exists (before QApplication).
    static void SelectBackend();

    void Open(const std::string& path) override;
    void Play() override;
    void Stop() override;
    void Pause() override;
    std::string FileName() const override;
    int Volume() const override;
    void SetVolume(int level) override;

    qint64 position() const;
    qint64 duration() const;
    void setPosition(qint64 ms);
    QMediaPlayer::PlaybackState playbackState() const;
    QMediaPlayer* qtPlayer() { return m_player.get(); }

    // Linear amplitude for a level in hundredths of a decibel; kSilent is 0.
    static float GainForLevel(int level);

signals:
    void endOfStream();
    // A file was opened successfully (FileName() names it now).
    void opened();
    // The opened file could not be played (not decodable, vanished, ...).
    // endOfStream() does not follow.
    void playbackFailed(const QString& message);
    void positionChanged(qint64 ms);
    void durationChanged(qint64 ms);
    void playbackStateChanged(QMediaPlayer::PlaybackState state);

private:
    enum class After { Play, Pause, Stop };

    void onMediaStatusChanged(QMediaPlayer::MediaStatus status);
    QString LinkTo(const QByteArray& target);
    bool Loading() const;
    bool Settling() const;
    void RunWhenSettled(After command);
    void Carry(After command);
    void SettlingOver();
    void SwitchToPendingSource();
    void ReplacePlayer();

    std::string m_fileName;
    int m_volume = kStartingVolume;
    // Set while the current file is playing towards its end; the end counts
    // only then, so a stop or a new file never looks like one.
    bool m_awaitingEnd = false;
    // Starts again a file whose end came before any of it played, so many
    // times at most.
    static constexpr int kMaxRestarts = 3;
    int m_restartsLeft = 0;
    // Changes on every Open and Stop, so an end noticed just before one of
    // them is not reported after it.
    quint64 m_generation = 0;
    // Links with plain names to files whose names are not valid UTF-8;
    // declared before the player so the player lets go of them first.
    std::unique_ptr<QTemporaryDir> m_linkDir;
    QString m_link;
    int m_linkCount = 0;
    // Qt 6.4's GStreamer player can deadlock when its source changes, or it
    // is paused or stopped (both flush its pipeline), while its streaming
    // thread is adding the decoder's pads, which goes on until the file has
    // its first buffer. An Open in that window is held here, and so is the
    // last play, pause or stop; they are carried out once the file has
    // settled, or after kLoadingPatienceMs at most.
    static constexpr int kLoadingPatienceMs = 5000;
    bool m_hasPending = false;
    QUrl m_pendingSource;
    QString m_pendingLink;
    After m_pendingAfter = After::Play;
    std::optional<After> m_heldCommand;
    QTimer m_loadingPatience;
    // A fresh QMediaPlayer (and its audio output) for every file: Qt 6.4's
    // GStreamer pipeline, once switched from file to file a few thousand
    // times, can end up where every further switch stalls in its state
    // changes.
    std::unique_ptr<QMediaPlayer> m_player;
    QAudioOutput* m_audioOutput = nullptr;
};

}  // namespace tallowcrest
