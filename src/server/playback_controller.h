#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tallowcrest {

class IMediaPlayer;
class ISocket;
class ITrackList;
class NowPlaying;

// What plays at the machine: a track picked in the list, and what follows
// when a track ends (the connected client is told, or, with nobody
// connected, the next track in list order or a random one plays).
class PlaybackController {
public:
    struct Components {
        ITrackList& lstFiles;
        IMediaPlayer& media;
        ISocket& winsock;
        NowPlaying& nowPlaying;
        // Uniform in [0, 1); the default reseeds from the clock on each draw.
        std::function<float()> drawRandom = {};
    };

    explicit PlaybackController(Components components);

    // Plays the selected row, as a double-click on it does; false when its
    // file could not be opened (the failure then counts as the track's end).
    bool playSelected();
    // The current track played to its end.
    void trackEnded();
    // The current track could not be played; it counts as ended.
    void trackFailed();
    // Switches shuffle and tells a connected client, as "Randomize" does.
    void setShuffleAnnounced(bool on);

    bool playRow(int index);
    // The row after (before) the selection, wrapping round; the first (last)
    // row when nothing is selected.
    bool playNext();
    bool playPrevious();
    // Opens the file, shows its title and tells a connected client; false
    // when it cannot be opened.
    bool playFile(const std::string& path, bool showTitle = true);

    // Sends text to the client, if one is connected; a client on its way out
    // is not told.
    void notify(std::string_view text);

    // With nobody connected, names the track that follows the current one to
    // the player ahead of time, so that it follows without a gap; with a
    // client connected, nothing. Called whenever what follows may change.
    void queueFollowing();
    // The queued track has begun in place of the one before.
    void queuedTrackBegan();

    // Index of a uniform pick r in [0, 1) from a list of count entries, or -1
    // for an empty list.
    static int randomIndex(float r, int count);

private:
    void playOn();
    bool openSelected(bool showTitle);
    // The row that follows the selection by the play-through rules.
    int followingRow();

    // What the queued track was chosen from; while it holds, the choice
    // stands (a random one is not drawn again).
    struct QueueBasis {
        std::uint64_t listVersion = 0;
        int selected = -1;
        std::string file;
        bool shuffle = false;
        bool active = false;
        bool operator==(const QueueBasis&) const = default;
    };
    QueueBasis queueBasis() const;

    Components m_parts;
    // Tracks that failed one after another since one last played through.
    // Once a whole round of the list has failed, play-through stops rather
    // than spinning over files that cannot play.
    int m_failedInARow = 0;
    QueueBasis m_queuedFrom;
    int m_queuedRow = -1;
};

}  // namespace tallowcrest
