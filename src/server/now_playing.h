#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

#include "library/library_index.h"
#include "server/replay_gain.h"


namespace tallowcrest {

class IMediaPlayer;
class ISocket;
class ITrackList;

// What plays now, as every hand at the machine shows it: the window's title
// and strip, the desktop's media widgets, the phone. The hands only read it
// and listen to changed(); the window's logic keeps it up to date.
class NowPlaying : public QObject {
    Q_OBJECT

public:
    enum class Change : unsigned {
        Status = 1u << 0,
        Track = 1u << 1,
        Title = 1u << 2,
        Position = 1u << 3,
        Length = 1u << 4,
        Volume = 1u << 5,
        Shuffle = 1u << 6,
        Client = 1u << 7,
        List = 1u << 8,
        // A jump within the track; Position comes with it.
        Seeked = 1u << 9,
        ReplayGain = 1u << 10,
        // The sound output was found to play nothing.
        Sound = 1u << 11,
        // The playing track's tags or cover, as the index knows them.
        Tags = 1u << 12,
        // The index read more of the list, or ended its reading.
        Index = 1u << 13,
    };
    Q_DECLARE_FLAGS(Changes, Change)

    enum class Status { Stopped, Playing, Paused };

    // `library` may be null: no track has tags then, and search goes by file name.
    NowPlaying(const IMediaPlayer& player, const ITrackList& list, const ISocket& socket,
               const LibraryIndex* library = nullptr, QObject* parent = nullptr);

    Status status() const;
    // The selected row of the list; -1 for none.
    int row() const;
    // The file last opened; empty before the first.
    std::string file() const;
    // The title the window's caption shows; empty before the first track.
    // A random pick while shuffling keeps the title of the track before it.
    const QString& title() const { return m_title; }
    QString caption() const;
    qint64 position() const;
    // The track's length in milliseconds; 0 while unknown.
    qint64 length() const;
    // In hundredths of a decibel, and as the linear gain from 0 to 1.
    int volumeLevel() const;
    double volume() const;
    bool shuffle() const { return m_shuffle; }
    // The test made before every word the server sends unasked.
    bool clientConnected() const;
    // Changes whenever the list is filled anew.
    std::uint64_t listVersion() const;
    int rowCount() const;
    // The path of a row; valid until the list next changes.
    std::string_view rowPath(int row) const;
    ReplayGainMode replayGain() const { return m_replayGain; }
    double replayGainPreamp() const { return m_replayGainPreamp; }
    // The desktop's default output plays into nothing: no sound is heard.
    bool soundOutputMissing() const;

    // What the index knows of a row, or of the file last opened. A track
    // without tags, or not read yet, has its file name's title and, for its
    // album, its folder within the media folder.
    TrackDetails details(int row) const;
    TrackDetails playingDetails() const;
    // Rows whose tags or file name hold `query`; by title alone, as the file
    // name gives it, while the index cannot answer.
    SearchPage search(const QString& query, int offset, int limit) const;
    // The thumbnail file of a cover key that details() gave; empty otherwise.
    QString artFile(const QString& key) const;
    IndexProgress indexProgress() const;

    // For the window's logic.
    void showTitleOf(std::string_view path);
    void setShuffle(bool on);
    void setReplayGain(ReplayGainMode mode, double preampDb);
    void noteClientChanged();
    // A queued track began, and its row is selected.
    void noteTrackBegan();
    // The list was filled anew from the media folder `folder`.
    void noteListChanged(const std::string& folder);

signals:
    void changed(tallowcrest::NowPlaying::Changes what);

private:
    TrackDetails detailsOf(std::string_view path) const;
    void noteIndexed();

    const IMediaPlayer& m_player;
    const ITrackList& m_list;
    const ISocket& m_socket;
    const LibraryIndex* m_library;
    // With a trailing separator: the rows' common start.
    std::string m_listFolder;
    TrackDetails m_announcedDetails;
    IndexProgress m_announcedProgress;
    QString m_title;
    bool m_shuffle = false;
    ReplayGainMode m_replayGain = ReplayGainMode::Off;
    double m_replayGainPreamp = 0.0;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(NowPlaying::Changes)

// "Reading tags: 12,340 of 200,000" while the index reads; empty otherwise.
QString readingTagsText(const IndexProgress& progress);

}  // namespace tallowcrest
