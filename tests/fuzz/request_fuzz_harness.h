#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tallowcrest::fuzz {

// Runs one input through the real request dispatcher with fake components and
// checks every block against what the protocol promises for it.
//
// An input is two set-up bytes followed by the blocks, as the socket hands
// them over, one after another:
//   byte 0  bits 0-2 the player's volume, bits 3-5 the media folder,
//           bits 6-7 after how many sends the client goes away
//   byte 1  bits 0-1 where the track-list file goes, bits 2-3 how many player
//           calls fail with a transient failure
//   rest    blocks separated by 0xFF; 0xFF 0xFF is one 0xFF byte in a block
// A block whose argument starts with "@" has the "@" replaced by the folder
// of the test tree, so that inputs can name real files.
void RunInput(std::string_view input);

// Called with a description of every broken promise; by default it prints the
// description and aborts, which is what the fuzzer reports as a crash.
void SetViolationHandler(std::function<void(const std::string&)> handler);

}  // namespace tallowcrest::fuzz
