#include "server/load_files.h"

#include "library/track_list.h"
#include "library/track_scan.h"
#include "server/dialogs.h"

#include <utility>

namespace tallowcrest {

void LoadFiles(const std::string& mediaFolder, ITrackList& lstFiles, IMessageBox& messageBox,
               std::optional<std::string> scanned)
{
    if (!folderCheckPasses(mediaFolder)) {
        messageBox.show("Please click the 'Set Dir' button and enter a valid directory.", "Invalid path",
                        MessageStyle::Critical);
        return;
    }
    lstFiles.clear();
    if (!scanned) {
        ScanFolder(withTrailingSeparator(mediaFolder));
        scanned = std::exchange(TrackListBuffer, {});
    }
    lstFiles.addLines(std::move(*scanned));
}

}  // namespace tallowcrest
