#pragma once

#include <optional>
#include <string_view>

namespace tallowcrest {

// The ReplayGain setting: off (the sound as mastered), by each track's gain,
// by each album's, or auto: the album's in list order, the track's while
// shuffling.
enum class ReplayGainMode { Off, Track, Album, Auto };

inline constexpr const char* kReplayGainKey = "ReplayGain";
inline constexpr const char* kReplayGainPreampKey = "ReplayGainPreamp";

// "off", "track", "album", "auto".
std::string_view nameOf(ReplayGainMode mode);
// The mode a setting names, in any letter case; nothing for another text.
std::optional<ReplayGainMode> parseReplayGainMode(std::string_view text);
// A preamp in dB from -15 to 15; nothing for another text.
std::optional<double> parseReplayGainPreamp(std::string_view text);

}  // namespace tallowcrest
