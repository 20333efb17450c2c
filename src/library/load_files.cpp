#include "library/load_files.h"

#include "library/track_scan.h"

namespace tallowcrest {

void LoadFiles(const std::string& mediaFolder, ITrackList& lstFiles, IMessageBox& messageBox)
{
    if (!FolderCheckPasses(mediaFolder)) {
        messageBox.Show("Please click the 'Set Dir' button and enter a valid directory.", "Invalid path",
                        MessageStyle::Critical);
        return;
    }
    lstFiles.Clear();
    ScanFolder(WithTrailingSeparator(mediaFolder));
    lstFiles.AddRows(SplitTrackLines(TrackListBuffer));
}

}  // namespace tallowcrest
