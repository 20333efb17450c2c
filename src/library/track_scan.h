#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tallowcrest {

// One line per MP3 file found by ScanFolder: folder text + file name + CR LF.
// Scans only ever append; whoever wants a fresh list empties it first.
extern std::string TrackListBuffer;

// The text before the first NUL character (all of it when there is none).
std::string TrimAtNul(std::string_view text);

// Walks `folder` and everything below it, appending one track line per MP3
// file in the order the directories deliver their entries (pre-order).
// `folder` is used as the prefix of its own lines exactly as given, so
// callers pass it with a trailing "/". A folder that cannot be read adds
// nothing and reports nothing.
void ScanFolder(const std::string& folder);
void ScanFolder(const std::string& folder, std::string& buffer);

std::string WithTrailingSeparator(std::string folder);

// The lines of a track-list text: every piece ended by CR LF. An empty
// remainder after the last CR LF is not a line; a non-empty one (a text that
// was cut short) is kept as the last line rather than lost.
std::vector<std::string> SplitTrackLines(std::string_view buffer);

// Whether the media folder can be found: false for the empty text, true when
// the path exists (a plain file passes too and then scans empty).
bool FolderCheckPasses(const std::string& mediaFolder);

// The name after the last "/" less its four-character extension, dropped by
// count. A name shorter than four characters has the empty title.
std::string TrackTitle(std::string_view path);

}  // namespace tallowcrest
