#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tallowcrest {

// One inbound data block: whatever had arrived when it was read. The first
// two bytes are the opcode (a shorter block is its own opcode and matches
// nothing); the rest is the argument, untouched.
struct RemoteRequest {
    std::string opcode;
    std::string argument;

    static RemoteRequest parse(std::string block);
};

// The Boolean text of a shuffle request: "True"/"False" in any letter case,
// or a number (sign, decimals, exponent, surrounding blanks allowed) that is
// true unless zero. Anything else has no value.
std::optional<bool> parseBooleanText(std::string_view text);

}  // namespace tallowcrest
