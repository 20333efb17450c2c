#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tallowcrest {

class IMediaPlayer;
class ISocket;
class ITrackList;

// What plays at the machine: a track picked in the list, and what follows
// when a track ends (the connected client is told, or, with nobody
// connected, the next track in list order or a random one plays).
class PlaybackController {
public:
    struct Components {
        ITrackList& lstFiles;
        IMediaPlayer& media;
        ISocket& winsock;
        std::function<void(const std::string&)> setCaption;
        // Told every change of the shuffle switch, from wherever it came.
        std::function<void(bool on)> shuffleChanged;
        // Uniform in [0, 1); the default reseeds from the clock on each draw.
        std::function<float()> drawRandom = {};
    };

    explicit PlaybackController(Components components);

    // The user picked the selected entry (double-click or Enter).
    void lstFiles_DblClick();
    // The current track played to its end.
    void Media_EndOfStream(int32_t result);
    // The current track could not be played; it counts as ended.
    void Media_PlaybackFailed();
    void cmdRandomize_Click();

    bool ShuffleOn() const { return m_shuffleOn; }
    // Sets the switch without announcing it, as a client's request does.
    void setShuffleOn(bool on);

    // Selects the row and plays it as a double-click would.
    void playRow(int index);
    // The row after (before) the selection, wrapping round; the first (last)
    // row when nothing is selected.
    void playNext();
    void playPrevious();
    // Opens the file, shows its title and announces it, as a double-click
    // does; false when it cannot be opened.
    bool playFile(const std::string& path, bool showTitle = true);

    bool clientConnected() const;

    // Index of a uniform pick r in [0, 1) from a list of count entries, or -1
    // for an empty list.
    static int randomIndex(float r, int count);

private:
    void notify(std::string_view text);
    void endOfTrack();
    bool openSelected(bool showTitle);

    Components m_parts;
    bool m_shuffleOn = false;
    // Tracks that failed one after another since one last played through.
    // Once a whole round of the list has failed, play-through stops rather
    // than spinning over files that cannot play.
    int m_failedInARow = 0;
};

}  // namespace tallowcrest
