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

    bool ShuffleOn() const { return shuffleOn_; }
    void SetShuffleOn(bool on) { shuffleOn_ = on; }

    // Index of a uniform pick r in [0, 1) from a list of count entries, or -1
    // for an empty list.
    static int RandomIndex(float r, int count);

private:
    bool ClientConnected() const;
    void Notify(const std::string& text);
    void EndOfTrack();
    bool OpenSelected(bool showTitle);

    Components parts_;
    bool shuffleOn_ = false;
    // Tracks that failed one after another since one last played through.
    // Once a whole round of the list has failed, play-through stops rather
    // than spinning over files that cannot play.
    int failedInARow_ = 0;
};

}  // namespace tallowcrest
