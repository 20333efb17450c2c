#pragma once

#include <string>
#include <string_view>

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

std::string withTrailingSeparator(std::string folder);

// Whether the media folder can be found: false for the empty text, true when
// the path exists (a plain file passes too and then scans empty).
bool folderCheckPasses(const std::string& mediaFolder);

// The name after the last "/" less its four-character extension, dropped by
// count. A name shorter than four characters has the empty title. The title
// is a view into path.
std::string_view TrackTitle(std::string_view path);

}  // namespace tallowcrest
