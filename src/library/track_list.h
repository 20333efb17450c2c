#pragma once

#include <string>
#include <vector>

namespace tallowcrest {

// The on-screen track list: one row per track path, in scan order. Row texts
// are the path bytes exactly as the directory gave them (not re-encoded).
class ITrackList {
public:
    virtual ~ITrackList() = default;
    virtual void Clear() = 0;
    // Appends the rows at the end, in order.
    virtual void AddRows(std::vector<std::string> rows) = 0;
    virtual int Count() const = 0;
    virtual const std::string& Row(int index) const = 0;
    // -1 when nothing is selected.
    virtual int SelectedIndex() const = 0;
    virtual void SetSelectedIndex(int index) = 0;
};

}  // namespace tallowcrest
