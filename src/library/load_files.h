#pragma once

#include <string>

#include "library/track_list.h"
#include "shell/dialogs.h"

namespace tallowcrest {

// Fills the track list from a scan of the media folder. A folder that cannot
// be found is reported to the user and leaves the list as it was.
void LoadFiles(const std::string& mediaFolder, ITrackList& lstFiles, IMessageBox& messageBox);

}  // namespace tallowcrest
