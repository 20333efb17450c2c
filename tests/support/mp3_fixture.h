#pragma once

#include <QString>

#include <string>

namespace tallowcrest {

// Writes a real MP3 file (440 Hz, stereo, 44.1 kHz; each length encoded once
// by sox and lame) to dir/name, name being raw file-system bytes, and returns
// that path. Throws std::runtime_error saying why. QTemporaryDir cannot remove
// names that are not UTF-8: remove those by their bytes.
std::string MakeMp3(const QString& dir, const std::string& name, double seconds = 1.0);

}  // namespace tallowcrest
