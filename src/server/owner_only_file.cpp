#include "server/owner_only_file.h"

#include "server/server_log.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tallowcrest {

namespace {

QString octal(mode_t mode)
{
    return QString::number(mode & 07777, 8).rightJustified(4, u'0');
}

bool makeFolder(const QByteArray& folder)
{
    if (::mkdir(folder.constData(), 0700) == 0 || errno == EEXIST)
        return true;
    const qsizetype slash = folder.lastIndexOf('/');
    if (errno != ENOENT || slash <= 0 || !makeFolder(folder.left(slash)))
        return false;
    return ::mkdir(folder.constData(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

void narrowToOwner(const QString& filePath)
{
    const QByteArray path = QFile::encodeName(filePath);
    struct stat status = {};
    if (::stat(path.constData(), &status) != 0 || (status.st_mode & 077) == 0)
        return;
    const mode_t narrowed = status.st_mode & 07700;
    if (::chmod(path.constData(), narrowed) != 0) {
        qCWarning(serverLog).noquote() << QStringLiteral("%1 can be read by other users (mode %2) and could not be "
                                                         "made private: %3")
                                              .arg(filePath, octal(status.st_mode), qt_error_string(errno));
        return;
    }
    qCWarning(serverLog).noquote() << QStringLiteral("%1 could be read by other users (mode %2); it holds the phone "
                                                     "remote's pairing code, so it is now mode %3")
                                          .arg(filePath, octal(status.st_mode), octal(narrowed));
}

void createOwnerOnly(const QString& filePath)
{
    const QByteArray path = QFile::encodeName(filePath);
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0)
        makeFolder(path.left(slash));
    // Failures are left to QSettings, which reports them as before.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

}  // namespace tallowcrest
