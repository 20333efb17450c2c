#pragma once

#include <QString>

namespace tallowcrest {

// The settings file holds the phone remote's pairing code, so only its owner
// may read it.

// Takes group and other access off an existing file, with one warning when it
// had any. The file's bytes are not touched.
void narrowToOwner(const QString& filePath);

// Creates the file empty with mode 0600 unless it exists, and the folders
// missing on the way with mode 0700. A folder that exists is left as it is.
// QSaveFile keeps an existing file's mode when it replaces it, but gives a new
// file 0666 less the umask, so the file must exist before the first write.
void createOwnerOnly(const QString& filePath);

}  // namespace tallowcrest
