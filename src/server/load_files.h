#pragma once

#include <optional>
#include <string>

namespace tallowcrest {

class IMessageBox;
class ITrackList;

// Fills the track list from a scan of the media folder, or from the scan's
// text when it was made already. A folder that cannot be found is reported to
// the user and leaves the list as it was.
void LoadFiles(const std::string& mediaFolder, ITrackList& lstFiles, IMessageBox& messageBox,
               std::optional<std::string> scanned = std::nullopt);

}  // namespace tallowcrest
