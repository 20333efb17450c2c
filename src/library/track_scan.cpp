#include "library/track_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace tallowcrest {

std::string TrackListBuffer;

namespace {

struct FolderIdentity {
    dev_t device;
    ino_t inode;
};

bool IsTrackName(const char* name, std::size_t length)
{
    if (length < 3)
        return false;
    const char* tail = name + length - 3;
    return (tail[0] == 'm' || tail[0] == 'M') && (tail[1] == 'p' || tail[1] == 'P') && tail[2] == '3';
}

// A name holding a line break cannot stand on one line of the list.
bool BreaksLine(const char* name, std::size_t length)
{
    return std::memchr(name, '\n', length) != nullptr || std::memchr(name, '\r', length) != nullptr;
}

class FolderWalk {
public:
    FolderWalk(const std::string& folder, std::string& buffer) : path_(folder), buffer_(buffer) {}

    void Run()
    {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0)
            Descend(fd);
    }

private:
    // Takes ownership of `fd`, an open folder whose text is `path_`.
    void Descend(int fd)
    {
        struct stat folderStat;
        if (::fstat(fd, &folderStat) != 0 || IsAncestor(folderStat)) {
            ::close(fd);
            return;
        }
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            return;
        }
        ancestors_.push_back({folderStat.st_dev, folderStat.st_ino});
        const std::size_t folderLength = path_.size();

        while (const dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            const std::size_t nameLength = std::strlen(name);
            if (BreaksLine(name, nameLength))
                continue;

            if (IsFolder(::dirfd(dir), *entry)) {
                const int childFd = ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (childFd < 0)
                    continue;
                path_.append(name, nameLength).push_back('/');
                Descend(childFd);
                path_.resize(folderLength);
            } else if (IsTrackName(name, nameLength)) {
                buffer_.append(path_).append(name, nameLength).append("\r\n", 2);
            }
        }

        ancestors_.pop_back();
        ::closedir(dir);
    }

    // Links and entries of unknown kind are looked up, following links; a
    // link that leads nowhere counts as a file and the name filter decides.
    static bool IsFolder(int parentFd, const dirent& entry)
    {
        switch (entry.d_type) {
        case DT_DIR:
            return true;
        case DT_LNK:
        case DT_UNKNOWN: {
            struct stat target;
            return ::fstatat(parentFd, entry.d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
        }
        default:
            return false;
        }
    }

    // A folder met again on its own descent is a link cycle: skipping it
    // ends the cycle at once while every other link is still followed.
    bool IsAncestor(const struct stat& folder) const
    {
        for (const FolderIdentity& ancestor : ancestors_) {
            if (ancestor.device == folder.st_dev && ancestor.inode == folder.st_ino)
                return true;
        }
        return false;
    }

    std::string path_;
    std::string& buffer_;
    std::vector<FolderIdentity> ancestors_;
};

}  // namespace

std::string TrimAtNul(std::string_view text)
{
    return std::string(text.substr(0, text.find('\0')));
}

void ScanFolder(const std::string& folder)
{
    ScanFolder(folder, TrackListBuffer);
}

void ScanFolder(const std::string& folder, std::string& buffer)
{
    FolderWalk(folder, buffer).Run();
}

std::string WithTrailingSeparator(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder.push_back('/');
    return folder;
}

std::vector<std::string> SplitTrackLines(std::string_view buffer)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < buffer.size()) {
        const std::size_t end = buffer.find("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(buffer.substr(start));
            break;
        }
        lines.emplace_back(buffer.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool FolderCheckPasses(const std::string& mediaFolder)
{
    if (mediaFolder.empty())
        return false;
    struct stat info;
    return ::stat(mediaFolder.c_str(), &info) == 0;
}

std::string TrackTitle(std::string_view path)
{
    const std::size_t separator = path.rfind('/');
    const std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
    if (name.size() < 4)
        return {};
    return std::string(name.substr(0, name.size() - 4));
}

}  // namespace tallowcrest
