#include "library/track_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <optional>

namespace tallowcrest {

std::string TrackListBuffer;

namespace {

struct FolderIdentity {
    dev_t device = 0;
    ino_t inode = 0;

    bool operator==(const FolderIdentity&) const = default;
};

FolderIdentity IdentityOf(const struct stat& info)
{
    return {info.st_dev, info.st_ino};
}

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

bool IsDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Walks a tree depth first, holding one open folder per level. Only links
// can make a folder its own descendant, so folder identities are looked up
// only on descents that went through a link; a plain tree costs no stat
// calls beyond the ones opening a folder needs.
class FolderWalk {
public:
    FolderWalk(const std::string& folder, std::string& buffer) : path_(folder), buffer_(buffer) {}

    void Run()
    {
        if (DIR* dir = ::opendir(path_.c_str()))
            Walk(dir, std::nullopt);
    }

private:
    struct OpenFolder {
        DIR* dir;
        std::optional<FolderIdentity> identity;
    };

    struct Entry {
        bool isFolder = false;
        bool isLink = false;
        std::optional<FolderIdentity> identity;
    };

    // Takes ownership of `dir`, the open folder whose text is `path_`.
    void Walk(DIR* dir, std::optional<FolderIdentity> identity)
    {
        descent_.push_back({dir, identity});
        const std::size_t folderLength = path_.size();

        while (const dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            if (IsDotOrDotDot(name))
                continue;
            const std::size_t nameLength = std::strlen(name);
            if (BreaksLine(name, nameLength))
                continue;

            Entry kind = Classify(::dirfd(dir), *entry);
            if (!kind.isFolder) {
                if (IsTrackName(name, nameLength))
                    buffer_.append(path_).append(name, nameLength).append("\r\n", 2);
                continue;
            }
            if (kind.identity && IsOnDescent(*kind.identity))
                continue;
            path_.append(name, nameLength).push_back('/');
            if (DIR* child = OpenChild(::dirfd(dir), name)) {
                if (!kind.identity && linksOnDescent_ > 0) {
                    kind.identity = IdentityOfOpen(child);
                    if (!kind.identity || IsOnDescent(*kind.identity)) {
                        ::closedir(child);
                        path_.resize(folderLength);
                        continue;
                    }
                }
                linksOnDescent_ += kind.isLink;
                Walk(child, kind.identity);
                linksOnDescent_ -= kind.isLink;
            }
            path_.resize(folderLength);
        }

        descent_.pop_back();
        ::closedir(dir);
    }

    // Links, and entries whose kind the directory does not tell, are looked
    // up following links. A link that leads nowhere counts as a file and the
    // name filter decides.
    static Entry Classify(int parentFd, const dirent& entry)
    {
        if (entry.d_type == DT_DIR)
            return {true, false, std::nullopt};
        if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN)
            return {};
        struct stat target;
        if (::fstatat(parentFd, entry.d_name, &target, 0) != 0 || !S_ISDIR(target.st_mode))
            return {};
        // An entry of unknown kind may be a link as well; counting it as one
        // only costs a few stat calls further down.
        return {true, true, IdentityOf(target)};
    }

    static std::optional<FolderIdentity> IdentityOfOpen(DIR* dir)
    {
        struct stat info;
        if (::fstat(::dirfd(dir), &info) != 0)
            return std::nullopt;
        return IdentityOf(info);
    }

    // A folder met again on its own descent is a link cycle: skipping it
    // ends the cycle at once while every other link is still followed.
    bool IsOnDescent(const FolderIdentity& folder)
    {
        for (OpenFolder& ancestor : descent_) {
            if (!ancestor.identity)
                ancestor.identity = IdentityOfOpen(ancestor.dir);
            if (ancestor.identity == folder)
                return true;
        }
        return false;
    }

    // Opening by the whole path costs fewer system calls than openat plus
    // fdopendir; paths too long for the kernel go relative to the parent.
    DIR* OpenChild(int parentFd, const char* name) const
    {
        if (path_.size() < PATH_MAX)
            return ::opendir(path_.c_str());
        const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        DIR* dir = ::fdopendir(fd);
        if (!dir)
            ::close(fd);
        return dir;
    }

    std::string path_;
    std::string& buffer_;
    std::vector<OpenFolder> descent_;
    int linksOnDescent_ = 0;
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
    // The pages of a large block are committed only when written, so a
    // generous reservation costs address space, not memory, and spares a big
    // library the copies and page faults of growing the buffer step by step.
    constexpr std::size_t headroom = std::size_t{16} << 20;
    if (buffer.capacity() - buffer.size() < headroom)
        buffer.reserve(buffer.size() + headroom);
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
