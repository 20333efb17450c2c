#pragma once

#include <QString>

#include <string>

namespace tallowcrest {

// Writes a real MP3 file (a 440 Hz tone, stereo, 44.1 kHz) of the given length
// to dir/name and returns its path as the bytes the file system holds.
// Encoding happens once per length and process; later calls copy that file.
// Throws std::runtime_error, saying why, when sox or lame is missing or fails.
std::string MakeMp3(const QString& dir, const QString& name, double seconds = 1.0);
// Same, for a file name given as raw bytes (which need not be valid UTF-8).
// QTemporaryDir cannot remove such a name again: unlink it by its bytes.
std::string MakeMp3(const QString& dir, const std::string& byteName, double seconds = 1.0);
std::string MakeMp3(const QString& dir, const char* name, double seconds = 1.0);

}  // namespace tallowcrest
