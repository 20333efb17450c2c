#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace tallowcrest::testing {

// Makes entries under `root` (ending in "/"): "x/" a folder, "x -> target" a
// symbolic link, anything else an empty file. Names are raw bytes, so they
// may hold line breaks or be invalid UTF-8.
inline void MakeTree(const std::string& root, const std::vector<std::string>& entries)
{
    for (const std::string& entry : entries) {
        const std::string path = root + entry;
        const std::size_t arrow = entry.find(" -> ");
        int result = 0;
        if (arrow != std::string::npos)
            result = ::symlink(entry.substr(arrow + 4).c_str(), (root + entry.substr(0, arrow)).c_str());
        else if (entry.ends_with('/'))
            result = ::mkdir(path.c_str(), 0755);
        else if ((result = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)) >= 0)
            result = ::close(result);
        ASSERT_EQ(result, 0) << path << ": " << std::strerror(errno);
    }
}

// The pieces of the entries of `folder`, joined in the order readdir delivers
// the entries; the file system, not the test, decides that order.
inline std::string InReaddirOrder(const std::string& folder, const std::map<std::string, std::string>& pieces)
{
    std::string joined;
    std::size_t used = 0;
    DIR* dir = ::opendir(folder.c_str());
    while (const dirent* entry = dir ? ::readdir(dir) : nullptr) {
        if (const auto piece = pieces.find(entry->d_name); piece != pieces.end()) {
            joined += piece->second;
            ++used;
        }
    }
    if (dir)
        ::closedir(dir);
    EXPECT_EQ(used, pieces.size()) << "entries missing from " << folder;
    return joined;
}

// A fresh folder per test, emptied by the raw bytes of its names, which
// QTemporaryDir cannot do for names that are not valid in the locale.
class TreeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(temp_.isValid()); }
    void TearDown() override
    {
        auto remove = [](const char* path, const struct stat*, int, FTW* walk) {
            return walk->level > 0 ? (::remove(path), 0) : 0;
        };
        ::nftw(root_.c_str(), remove, 16, FTW_DEPTH | FTW_PHYS);
    }

    QTemporaryDir temp_;
    const std::string root_ = temp_.path().toStdString() + "/";
};

}  // namespace tallowcrest::testing
