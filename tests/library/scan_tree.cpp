#include "library/scan_tree.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tallowcrest::testing {

void MakeFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
    ::close(fd);
}

void MakeFolder(const std::string& path)
{
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path << ": " << std::strerror(errno);
}

void MakeLink(const std::string& target, const std::string& path)
{
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path << ": " << std::strerror(errno);
}

void RemoveContents(const std::string& folder)
{
    auto remove = [](const char* path, const struct stat*, int, FTW* walk) {
        if (walk->level > 0)
            ::remove(path);
        return 0;
    };
    ::nftw(folder.c_str(), remove, 16, FTW_DEPTH | FTW_PHYS);
}

ScopedWorkingFolder::ScopedWorkingFolder(const std::string& folder)
{
    char* current = ::getcwd(nullptr, 0);
    EXPECT_NE(current, nullptr) << std::strerror(errno);
    if (current) {
        previous_ = current;
        std::free(current);
    }
    EXPECT_EQ(::chdir(folder.c_str()), 0) << folder << ": " << std::strerror(errno);
}

ScopedWorkingFolder::~ScopedWorkingFolder()
{
    EXPECT_EQ(::chdir(previous_.c_str()), 0) << previous_ << ": " << std::strerror(errno);
}

std::vector<std::string> ReaddirNames(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    EXPECT_NE(dir, nullptr) << folder << ": " << std::strerror(errno);
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

std::vector<std::string> BufferLines(const std::string& buffer)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < buffer.size()) {
        const std::size_t end = buffer.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "buffer does not end with CR LF: " << buffer.substr(start);
            break;
        }
        lines.push_back(buffer.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

}  // namespace tallowcrest::testing
