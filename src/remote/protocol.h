#pragma once

#include <cstddef>
#include <string_view>

// The words of the remote-control protocol, for the server and the client
// alike. Everything on the wire is unframed 8-bit text: nothing is ever added
// to these bytes.
namespace tallowcrest::protocol {

// Requests: a two-character opcode, then the argument.
inline constexpr std::string_view kListTracks = "00";
inline constexpr std::string_view kOpenTrack = "01";
inline constexpr std::string_view kPlay = "02";
inline constexpr std::string_view kStop = "03";
inline constexpr std::string_view kPause = "04";
inline constexpr std::string_view kLouder = "05";
inline constexpr std::string_view kQuieter = "06";
inline constexpr std::string_view kSetShuffle = "07";
inline constexpr std::size_t kOpcodeLength = 2;

// Replies and notifications.
inline constexpr std::string_view kListStart = "START";
inline constexpr std::string_view kListEnd = "END";
inline constexpr std::string_view kLineEnd = "\r\n";
// Followed by the track's title.
inline constexpr std::string_view kTrackOpened = "CODE_11";
// No such file, no file loaded, or the track ended.
inline constexpr std::string_view kTrackEnded = "CODE_12";
inline constexpr std::string_view kShuffleOn = "CODE_13True";
inline constexpr std::string_view kShuffleOff = "CODE_13False";
// What every notification starts with.
inline constexpr std::string_view kCodePrefix = "CODE_1";

// The list travels in pieces of this size (the last one shorter), and the
// server holds still this long after "END".
inline constexpr std::size_t kListPieceSize = 2048;
inline constexpr int kPauseAfterListMs = 200;

// The change of level that "louder" and "quieter" make, in hundredths of a dB.
inline constexpr int kVolumeStep = 100;

}  // namespace tallowcrest::protocol
