#include "library/track_scan.h"

#include "library/library_log.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace tallowcrest {

std::string TrackListBuffer;

namespace {

struct FolderIdentity {
    dev_t device = 0;
    ino_t inode = 0;

    bool operator==(const FolderIdentity&) const = default;
};

struct Entry {
    bool isFolder = false;
    bool isLink = false;
    std::optional<FolderIdentity> identity = std::nullopt;
};

// A folder still to walk, with what its walk must know of the folders above
// it to end link cycles: their identities and how many links led down.
struct Subtree {
    std::string path;
    std::vector<std::optional<FolderIdentity>> above = {};
    Entry entry = {};
    int linksAbove = 0;
};

// A stretch of the list: text, or the place of a subtree whose lines fill
// the text once it is walked.
struct Piece {
    std::string text;
    std::optional<Subtree> subtree = std::nullopt;
    std::exception_ptr failure = nullptr;
};

FolderIdentity identityOf(const struct stat& info)
{
    return {info.st_dev, info.st_ino};
}

bool isTrackName(const char* name, std::size_t length)
{
    if (length < 3)
        return false;
    const char* tail = name + length - 3;
    return (tail[0] == 'm' || tail[0] == 'M') && (tail[1] == 'p' || tail[1] == 'P') && tail[2] == '3';
}

// A name holding a line break cannot stand on one line of the list.
bool breaksLine(const char* name, std::size_t length)
{
    return std::memchr(name, '\n', length) != nullptr || std::memchr(name, '\r', length) != nullptr;
}

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Not for the caller, who gets what could be read; only for whoever looks
// into why a folder's tracks are missing.
void noteUnreadable(const std::string& folder, int error)
{
    qCDebug(libraryLog).nospace() << "cannot read the folder " << QFile::decodeName(folder.c_str()) << ": "
                                  << std::strerror(error);
}

// Walks a tree depth first, holding one open folder per level. Entries come
// straight from getdents64 into one buffer per level, and subfolders are
// opened relative to their parent: no stat, no path lookup from the root, no
// allocation per folder. Only links can make a folder its own descendant, so
// folder identities are looked up only on descents that went through a link.
class FolderWalk {
public:
    FolderWalk(const Subtree& subtree, std::string& buffer)
        : m_path(subtree.path),
          m_entry(subtree.entry),
          m_buffer(buffer),
          m_linksOnDescent(subtree.linksAbove),
          m_levelsAbove(subtree.above.size())
    {
        for (const std::optional<FolderIdentity>& identity : subtree.above)
            m_descent.push_back({-1, identity});
    }
    FolderWalk(const FolderWalk&) = delete;
    FolderWalk& operator=(const FolderWalk&) = delete;

    // Folders still open when the walk was cut short by an exception.
    ~FolderWalk()
    {
        for (const OpenFolder& folder : m_descent) {
            if (folder.fd >= 0)
                ::close(folder.fd);
        }
    }

    void run() { descend(openFolder(AT_FDCWD, m_path.c_str()), m_entry); }

    // The folders in the first one are not walked but left in `pieces`, each
    // after a piece with the text before it.
    void leaveSubfolders(std::vector<Piece>& pieces)
    {
        m_leaveDepth = m_descent.size() + 1;
        m_pieces = &pieces;
    }

private:
    struct OpenFolder {
        int fd;
        std::optional<FolderIdentity> identity;
    };

    // As much as glibc's readdir asks for at once: most folders come in one read.
    static constexpr std::size_t kChunkSize = 32 * 1024;

    // Takes ownership of `fd`, the open folder whose text is `m_path`.
    void walk(int fd, std::optional<FolderIdentity> identity)
    {
        m_descent.push_back({fd, identity});
        // The levels above a subtree were read by another walk.
        const std::size_t level = m_descent.size() - m_levelsAbove - 1;
        if (level == m_chunks.size())
            m_chunks.push_back(std::make_unique_for_overwrite<char[]>(kChunkSize));
        char* const chunk = m_chunks[level].get();
        const std::size_t folderLength = m_path.size();

        for (;;) {
            const ssize_t read = ::getdents64(fd, chunk, kChunkSize);
            if (read <= 0) {
                if (read < 0)
                    noteUnreadable(m_path, errno);
                break;
            }
            for (ssize_t offset = 0; offset < read;) {
                const auto* entry = reinterpret_cast<const struct dirent64*>(chunk + offset);
                offset += entry->d_reclen;
                visit(fd, *entry);
                m_path.resize(folderLength);
            }
        }

        m_descent.pop_back();
        ::close(fd);
    }

    // One entry of the open folder `parentFd`; may leave a subfolder's name on `m_path`.
    void visit(int parentFd, const struct dirent64& entry)
    {
        const char* name = entry.d_name;
        if (isDotOrDotDot(name))
            return;
        const std::size_t nameLength = std::strlen(name);
        if (breaksLine(name, nameLength))
            return;

        Entry kind = classify(parentFd, entry);
        if (!kind.isFolder) {
            if (isTrackName(name, nameLength))
                m_buffer.append(m_path).append(name, nameLength).append("\r\n", 2);
            return;
        }
        if (kind.identity && isOnDescent(*kind.identity))
            return;
        m_path.append(name, nameLength).push_back('/');
        // A path the kernel cannot open whole is walked here, relative to its parent.
        if (m_pieces && m_descent.size() == m_leaveDepth && m_path.size() < PATH_MAX)
            leave(kind);
        else
            descend(openFolder(parentFd, name), kind);
    }

    // Walks `fd`, the folder `m_path` opened (negative when it could not be).
    void descend(int fd, Entry kind)
    {
        if (fd < 0) {
            noteUnreadable(m_path, errno);
            return;
        }
        if (!kind.identity && m_linksOnDescent > 0) {
            kind.identity = identityOfOpen(fd);
            if (!kind.identity || isOnDescent(*kind.identity)) {
                ::close(fd);
                return;
            }
        }
        m_linksOnDescent += kind.isLink;
        walk(fd, kind.identity);
        m_linksOnDescent -= kind.isLink;
    }

    void leave(const Entry& kind)
    {
        Subtree subtree{m_path, {}, kind, m_linksOnDescent};
        for (OpenFolder& ancestor : m_descent) {
            if (!ancestor.identity && ancestor.fd >= 0)
                ancestor.identity = identityOfOpen(ancestor.fd);
            subtree.above.push_back(ancestor.identity);
        }
        m_pieces->push_back({std::exchange(m_buffer, {})});
        m_pieces->push_back({{}, std::move(subtree)});
    }

    // Links, and entries whose kind the folder does not tell, are looked up
    // following links. A link that leads nowhere counts as a file and the
    // name filter decides.
    static Entry classify(int parentFd, const struct dirent64& entry)
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
        return {true, true, identityOf(target)};
    }

    // O_NONBLOCK as opendir does: something swapped in for the folder meanwhile never blocks the walk.
    static int openFolder(int parentFd, const char* name)
    {
        return ::openat(parentFd, name, O_RDONLY | O_NONBLOCK | O_DIRECTORY | O_CLOEXEC);
    }

    static std::optional<FolderIdentity> identityOfOpen(int fd)
    {
        struct stat info;
        if (::fstat(fd, &info) != 0)
            return std::nullopt;
        return identityOf(info);
    }

    // A folder met again on its own descent is a link cycle: skipping it
    // ends the cycle at once while every other link is still followed.
    bool isOnDescent(const FolderIdentity& folder)
    {
        for (OpenFolder& ancestor : m_descent) {
            if (!ancestor.identity && ancestor.fd >= 0)
                ancestor.identity = identityOfOpen(ancestor.fd);
            if (ancestor.identity == folder)
                return true;
        }
        return false;
    }

    std::string m_path;
    const Entry m_entry;
    std::string& m_buffer;
    int m_linksOnDescent = 0;
    const std::size_t m_levelsAbove;
    std::vector<OpenFolder> m_descent;
    std::vector<std::unique_ptr<char[]>> m_chunks;
    std::size_t m_leaveDepth = 0;
    std::vector<Piece>* m_pieces = nullptr;
};

// Enough subtrees for the threads to share the work evenly; a tree with
// fewer folders on every level is walked on the calling thread alone.
constexpr std::size_t kSubtreesToShare = 64;

// Walks the top of the tree a level at a time until enough subtrees are left.
std::vector<Piece> walkTop(const std::string& folder)
{
    std::vector<Piece> pieces;
    pieces.push_back({{}, Subtree{folder}});
    for (std::ptrdiff_t left = 1; left > 0 && left < std::ptrdiff_t{kSubtreesToShare};) {
        std::vector<Piece> next;
        for (Piece& piece : pieces) {
            if (piece.subtree) {
                FolderWalk walk(*piece.subtree, piece.text);
                walk.leaveSubfolders(next);
                walk.run();
            }
            next.push_back({std::move(piece.text)});
        }
        pieces = std::move(next);
        left = std::count_if(pieces.begin(), pieces.end(), [](const Piece& piece) { return piece.subtree.has_value(); });
    }
    return pieces;
}

// All threads, this one among them, take the subtrees in list order; this
// one also appends each piece once it and all before it are done, so the
// text is the one a walk in one go makes and little of it waits in pieces.
void walkInParallel(std::vector<Piece>& pieces, unsigned threads, std::string& buffer)
{
    enum class Walked { Waiting, Done };
    std::vector<std::atomic<Walked>> states(pieces.size());
    std::atomic<std::size_t> next = 0;
    auto walkNext = [&] {
        const std::size_t i = next++;
        if (i >= pieces.size())
            return false;
        if (pieces[i].subtree) {
            try {
                FolderWalk(*pieces[i].subtree, pieces[i].text).run();
            } catch (...) {
                pieces[i].failure = std::current_exception();
            }
        }
        states[i].store(Walked::Done);
        states[i].notify_one();
        return true;
    };
    std::vector<std::jthread> pool;
    try {
        while (pool.size() + 1 < threads)
            pool.emplace_back([&](std::stop_token stop) { while (!stop.stop_requested() && walkNext()) {} });
    } catch (const std::system_error&) {
        // With fewer threads this one walks more.
    }
    for (std::size_t done = 0; done < pieces.size();) {
        if (!walkNext())
            states[done].wait(Walked::Waiting);
        for (; done < pieces.size() && states[done].load() == Walked::Done; ++done) {
            if (pieces[done].failure)
                std::rethrow_exception(pieces[done].failure);
            buffer.append(pieces[done].text);
            std::string().swap(pieces[done].text);
        }
    }
}

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
    constexpr std::size_t kHeadroom = std::size_t{16} << 20;
    if (buffer.capacity() - buffer.size() < kHeadroom)
        buffer.reserve(buffer.size() + kHeadroom);
    // A disk serves only so many reads at once; more threads only contend.
    const unsigned threads = std::min(std::thread::hardware_concurrency(), 4u);
    if (threads < 2) {
        FolderWalk(Subtree{folder}, buffer).run();
        return;
    }
    std::vector<Piece> pieces = walkTop(folder);
    walkInParallel(pieces, threads, buffer);
}

std::string withTrailingSeparator(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder.push_back('/');
    return folder;
}

bool folderCheckPasses(const std::string& mediaFolder)
{
    if (mediaFolder.empty())
        return false;
    struct stat info;
    return ::stat(mediaFolder.c_str(), &info) == 0;
}

std::string_view TrackTitle(std::string_view path)
{
    const std::size_t separator = path.rfind('/');
    const std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
    if (name.size() < 4)
        return {};
    return name.substr(0, name.size() - 4);
}

}  // namespace tallowcrest
