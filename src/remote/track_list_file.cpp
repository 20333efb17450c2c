#include "remote/track_list_file.h"

#include "library/track_scan.h"
#include "remote/protocol.h"
#include "remote/socket.h"

#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tallowcrest {

namespace {

constexpr const char* kFolderName = "/TallowcrestServer";
constexpr const char* kFileName = "/tracks.temp";

[[noreturn]] void throwErrno(const std::string& what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

// A folder only we can use: created 0700, or an existing real folder (not a
// link) that we own and nobody else can write.
bool ensurePrivateFolder(const std::string& folder)
{
    if (::mkdir(folder.c_str(), 0700) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 0022) == 0;
}

// Empties TrackListBuffer for a scan and, however the request ends, gives its
// megabytes back rather than keep them for the next one; a caller that wants
// the text takes it.
class ListBuffer {
public:
    ListBuffer() { TrackListBuffer.clear(); }
    ListBuffer(const ListBuffer&) = delete;
    ListBuffer& operator=(const ListBuffer&) = delete;
    ~ListBuffer() { std::string().swap(TrackListBuffer); }
    std::string take() { return std::exchange(TrackListBuffer, {}); }
};

// The list file goes however the request ends; only a normal end hears
// whether the delete failed.
class RemoveOnExit {
public:
    explicit RemoveOnExit(const std::string& file) : m_file(file) {}
    RemoveOnExit(const RemoveOnExit&) = delete;
    RemoveOnExit& operator=(const RemoveOnExit&) = delete;
    ~RemoveOnExit()
    {
        if (!m_removed)
            ::unlink(m_file.c_str());
    }
    void removeNow()
    {
        m_removed = true;
        if (::unlink(m_file.c_str()) != 0)
            throwErrno("cannot delete " + m_file);
    }

private:
    const std::string& m_file;
    bool m_removed = false;
};

// O_NOFOLLOW: a link planted under our name is refused, never written through.
// O_TRUNC: whatever an interrupted request left there goes.
int createListFile(const std::string& file)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throwErrno("cannot create " + file);
    return fd;
}

void writeAll(int fd, std::string_view bytes, const std::string& file)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            throwErrno("cannot write " + file);
        bytes.remove_prefix(static_cast<size_t>(written));
    }
}

void readExactly(int fd, char* into, size_t count)
{
    while (count > 0) {
        const ssize_t got = ::read(fd, into, count);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throwErrno("cannot read the track list");
        if (got == 0)
            throw std::runtime_error("the track list file ended early");
        into += got;
        count -= static_cast<size_t>(got);
    }
}

void sendFramed(std::string_view list, ISocket& winsock)
{
    winsock.SendData(protocol::kListStart);
    for (; !list.empty(); list.remove_prefix(std::min(list.size(), protocol::kListPieceSize)))
        winsock.SendData(list.substr(0, protocol::kListPieceSize));
    winsock.SendData(protocol::kListEnd);
    winsock.hold(protocol::kPauseAfterListMs);
}

// Scans folder into the emptied TrackListBuffer and writes it to file.
void scanToFile(std::string folder, const std::string& file)
{
    ScanFolder(withTrailingSeparator(std::move(folder)));
    const FileDescriptor out(createListFile(file));
    writeAll(out.get(), TrackListBuffer, file);
}

}  // namespace

std::string trackListFilePath()
{
    for (const auto location : {QStandardPaths::RuntimeLocation, QStandardPaths::GenericCacheLocation}) {
        const QString base = QStandardPaths::writableLocation(location);
        if (base.isEmpty())
            continue;
        const std::string folder = base.toStdString() + kFolderName;
        if (ensurePrivateFolder(folder))
            return folder + kFileName;
    }
    throw std::system_error(std::make_error_code(std::errc::permission_denied),
                            "no private folder for the track list");
}

void WriteTrackList(std::string folder, const std::string& file)
{
    const ListBuffer buffer;
    scanToFile(std::move(folder), file);
}

void SendTrackList(const std::string& file, ISocket& winsock)
{
    {
        FileDescriptor in(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (in.get() < 0)
            throwErrno("cannot open " + file);
        struct stat info {};
        if (::fstat(in.get(), &info) != 0)
            throwErrno("cannot measure " + file);
        const auto length = static_cast<size_t>(info.st_size);

        std::vector<char> piece(protocol::kListPieceSize);
        winsock.SendData(protocol::kListStart);
        for (size_t i = 0; i < length / protocol::kListPieceSize; ++i) {
            readExactly(in.get(), piece.data(), protocol::kListPieceSize);
            winsock.SendData({piece.data(), protocol::kListPieceSize});
        }
        if (const size_t rest = length % protocol::kListPieceSize; rest != 0) {
            piece.resize(rest);
            readExactly(in.get(), piece.data(), rest);
            winsock.SendData({piece.data(), rest});
        }
        winsock.SendData(protocol::kListEnd);
    }
    winsock.hold(protocol::kPauseAfterListMs);
}

// The file is written as ever, but its pieces go out of the text still in
// memory, and that text is what the caller refills the window's list with:
// reading 14 MB back would only repeat what the scan has just made.
std::string serveTrackList(const std::string& mediaFolder, const std::string& file, ISocket& winsock)
{
    RemoveOnExit removeFile(file);
    ListBuffer buffer;
    scanToFile(mediaFolder, file);
    sendFramed(TrackListBuffer, winsock);
    removeFile.removeNow();
    return buffer.take();
}

}  // namespace tallowcrest
