#pragma once

#include <string>
#include <vector>

namespace tallowcrest::testing {

// Builders for real trees on disk. Names are raw bytes: no re-encoding, so a
// test can make names that are not valid UTF-8. Each one fails the running
// test when the file system refuses.
void MakeFile(const std::string& path);
void MakeFolder(const std::string& path);
void MakeLink(const std::string& target, const std::string& path);

// Removes everything inside `folder` by the raw bytes of its names, which
// QTemporaryDir cannot do for names that are not valid in the locale.
void RemoveContents(const std::string& folder);

// Runs the rest of a scope in another working folder, for relative paths.
class ScopedWorkingFolder {
public:
    explicit ScopedWorkingFolder(const std::string& folder);
    ~ScopedWorkingFolder();
    ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
    ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;

private:
    std::string previous_;
};

// The entry names of a folder in the order readdir delivers them, without
// "." and "..".
std::vector<std::string> ReaddirNames(const std::string& folder);

// The buffer cut into lines at CR LF, each line without its CR LF. Every
// line must be ended by CR LF; a trailing piece fails the running test.
std::vector<std::string> BufferLines(const std::string& buffer);

}  // namespace tallowcrest::testing
