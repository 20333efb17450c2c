#pragma once

#include "playback/media_player.h"

#include <algorithm>
#include <cmath>

namespace tallowcrest {

// The player's level is in hundredths of a decibel; the gain is the linear
// factor the sound is multiplied by, which is also what the desktop and the
// phone show as the volume from 0 to 1.

// 10^(level / 2000); silent is 0.
inline double gainForLevel(int level)
{
    return level <= IMediaPlayer::kSilent ? 0.0 : std::pow(10.0, level / 2000.0);
}

// 2000 · log10(gain), rounded; 0 and below (and NaN) is silent, 1 and above
// is the loudest.
inline int levelForGain(double gain)
{
    if (!(gain > 0.0))
        return IMediaPlayer::kSilent;
    if (gain >= 1.0)
        return IMediaPlayer::kLoudest;
    return static_cast<int>(std::max<long>(IMediaPlayer::kSilent, std::lround(2000.0 * std::log10(gain))));
}

}  // namespace tallowcrest
