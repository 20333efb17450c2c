#pragma once

#include <string>
#include <string_view>

#include "library/track_scan.h"

namespace tallowcrest {

inline constexpr std::string_view kDesignedCaption = "Tallowcrest Server";

// The main window's caption while the track at path plays.
inline std::string captionFor(std::string_view path)
{
    return std::string(kDesignedCaption).append(": ").append(TrackTitle(path));
}

}  // namespace tallowcrest
