#pragma once

namespace tallowcrest {

// tallowcrest-remote's exit statuses; the usage text lists them from here.
enum class ClientExitStatus {
    Ok = 0,
    Failed = 1,  // no connection, or no answer in time
    Usage = 2,
    NotFound = 3,  // open: the server has no such track
    // play, stop, pause: the server answered "CODE_12", which means no track
    // is loaded, but is also what it sends unasked when a track ends. The
    // bytes do not say which, so neither does this status.
    NothingLoadedOrTrackEnded = 4,
};

}  // namespace tallowcrest
