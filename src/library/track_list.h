#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tallowcrest {

// The on-screen track list: one row per track path, in scan order. Row texts
// are the path bytes exactly as the directory gave them (not re-encoded).
class ITrackList {
public:
    virtual ~ITrackList() = default;
    virtual void clear() = 0;
    // Appends one row per line of a track-list text (lines ended by CR LF),
    // in order. An empty remainder after the last CR LF is no row; a text cut
    // short keeps its unfinished last line as a row rather than lose it.
    virtual void addLines(std::string text) = 0;
    virtual int count() const = 0;
    // Valid until the list next changes.
    virtual std::string_view row(int index) const = 0;
    // -1 when nothing is selected.
    virtual int selectedIndex() const = 0;
    virtual void setSelectedIndex(int index) = 0;
    // Called after every change of the selection, from wherever it came.
    virtual void watchSelection(std::function<void()> watcher) = 0;
    // Changes whenever rows are replaced or added, so that a row number
    // taken earlier can be checked before it is used.
    virtual std::uint64_t version() const = 0;
};

}  // namespace tallowcrest
