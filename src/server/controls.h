#pragma once

#include <QtGlobal>

#include <cstdint>
#include <string>

#include "server/replay_gain.h"

namespace tallowcrest {

class IMediaPlayer;
class ISettingsStore;
class ITrackList;
class NowPlaying;
class PlaybackController;

// How a command came out. Each hand reports it in its own words: the
// socket's "CODE_12", the web API's status, an error on the bus.
enum class Outcome {
    Done,
    // Play, pause, stop or seek before any track was loaded.
    NothingLoaded,
    // The file is missing, no regular file, or cannot be read or played.
    CannotPlay,
    // No such row, or an empty list to step through.
    NoSuchRow,
    // The list was filled anew since the row number was taken.
    StaleList,
    // A volume beyond either end, or a position before the start.
    OutOfRange,
};

// One line saying why, for a hand that reports it in words.
const char* describe(Outcome outcome);

// The one set of controls that every hand at the machine uses: the socket's
// requests, the window's player strip, the desktop's media keys and the
// phone. The rules live here, once.
class Controls {
public:
    Controls(IMediaPlayer& media, ITrackList& lstFiles, NowPlaying& nowPlaying, PlaybackController& playback,
             ISettingsStore& settings);

    Outcome play();
    Outcome pause();
    Outcome stop();
    // The row after (before) the selected one, round the list, played as a
    // double-click plays it.
    Outcome next();
    Outcome previous();
    // A row of the list as it was when listVersion was read.
    Outcome playRow(int row, std::uint64_t listVersion);
    // Opens a file by its path, shows its title and tells a connected client.
    Outcome openFile(const std::string& path);

    // By steps of 1 dB (+1 louder, -1 quieter).
    Outcome stepVolume(int steps);
    // The linear gain from 0 to 1.
    Outcome setVolume(double gain);
    Outcome seek(qint64 ms);

    // As "Randomize" does: a connected client hears of a change.
    void setShuffle(bool on);
    void toggleShuffle();
    // As a client's own request does: nobody is told.
    void setShuffleQuietly(bool on);

    // Kept in the settings; from the next track on.
    void setReplayGain(ReplayGainMode mode);

private:
    bool loaded() const;

    IMediaPlayer& m_media;
    ITrackList& m_lstFiles;
    NowPlaying& m_nowPlaying;
    PlaybackController& m_playback;
    ISettingsStore& m_settings;
};

}  // namespace tallowcrest
