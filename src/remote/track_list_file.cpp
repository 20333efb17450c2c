#include "remote/track_list_file.h"

#include "library/track_scan.h"
#include "remote/protocol.h"
#include "remote/socket.h"

#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
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
    folder = withTrailingSeparator(std::move(folder));
    TrackListBuffer.clear();
    ScanFolder(folder);
    // Once on disk the list lives in the file; the buffer's megabytes go
    // back rather than wait for the next request.
    const struct ReleaseBuffer {
        ~ReleaseBuffer() { std::string().swap(TrackListBuffer); }
    } release;

    // O_NOFOLLOW: a link planted under our name is refused, never written through.
    FileDescriptor out(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.get() < 0)
        throwErrno("cannot create " + file);
    const char* data = TrackListBuffer.data();
    size_t left = TrackListBuffer.size();
    while (left > 0) {
        const ssize_t written = ::write(out.get(), data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            throwErrno("cannot write " + file);
        data += written;
        left -= static_cast<size_t>(written);
    }
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

}  // namespace tallowcrest
