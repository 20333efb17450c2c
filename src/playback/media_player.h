#pragma once

#include <QObject>
#include <QString>

#include <string>

namespace tallowcrest {

// The media player the server drives. Paths are byte strings as the scan and
// the client give them. Every call returns at once: nothing here waits for
// the pipeline that plays the sound.
class IMediaPlayer : public QObject {
    Q_OBJECT

public:
    static constexpr int kSilent = -10000;  // hundredths of a decibel
    static constexpr int kLoudest = 0;

    enum class PlaybackState { Stopped, Playing, Paused };
    // Which of the ReplayGain tags a track plays by; Off plays the file as
    // it was mastered.
    enum class ReplayGain { Off, Track, Album };

    using QObject::QObject;
    ~IMediaPlayer() override = default;

    // Loads the file and starts playing it from its beginning. Throws
    // std::runtime_error when the path names no readable regular file.
    virtual void open(const std::string& path) = 0;
    // Act on the loaded file; nothing happens before the first Open. Play
    // after a stop, an end or a failure starts the file from its beginning.
    virtual void play() = 0;
    virtual void stop() = 0;
    virtual void pause() = 0;
    // The file last opened; empty until the first Open.
    virtual std::string fileName() const = 0;
    // Volume level in hundredths of a decibel, kSilent..kLoudest.
    virtual int volume() const = 0;
    // Throws std::out_of_range for a level outside kSilent..kLoudest; the
    // level then stays as it was.
    virtual void setVolume(int level) = 0;

    virtual PlaybackState playbackState() const = 0;
    // Milliseconds into the current file, and its length (0 while unknown).
    virtual qint64 position() const = 0;
    virtual qint64 duration() const = 0;
    // Moves within the current file; ignored while nothing is loaded.
    virtual void seek(qint64 ms) = 0;
    // The file to go on with once the current one ends, with no gap between
    // them; empty for none. Kept until it has begun or another is queued.
    virtual void queueNext(const std::string& path) = 0;
    // From the next track on; preampDb applies to files without gain tags
    // too. The user's volume comes after the gain.
    virtual void setReplayGain(ReplayGain mode, double preampDb) = 0;
    // The sound goes nowhere: the desktop's default output fell back to a
    // sink that plays nothing.
    virtual bool soundOutputMissing() const = 0;

signals:
    // The current file played to its end: once per play-through, never on a
    // stop, a pause or opening another file.
    void endOfStream();
    // The current file could not be played (not decodable, vanished, ...);
    // endOfStream() does not follow.
    void playbackFailed(const QString& message);
    // playbackState() or fileName() changed.
    void stateChanged();
    // The queued file has begun in place of the one before it, which ended:
    // fileName() is now the queued file. No endOfStream() comes for the one
    // before.
    void advanced();
    // soundOutputMissing() became true.
    void soundOutputLost();
    void positionChanged(qint64 ms);
    void durationChanged(qint64 ms);
    // A seek was carried out; position() is the new place.
    void seeked(qint64 ms);
    // volume() changed.
    void volumeChanged(int level);
};

}  // namespace tallowcrest
