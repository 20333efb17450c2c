#include "playback/qt_media_player.h"

#include <QFileInfo>
#include <QUrl>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace tallowcrest {

namespace {

std::runtime_error OpenError(const std::string& path, const std::string& reason)
{
    return std::runtime_error("cannot open \"" + path + "\": " + reason);
}

// Opens path for reading and makes sure it is a regular file. O_NONBLOCK keeps
// a FIFO or device node from holding the thread; it means nothing for the
// regular files that get past the check.
int OpenRegularFile(const std::string& path)
{
    if (path.empty())
        throw OpenError(path, "no file name");
    if (path.find('\0') != std::string::npos)
        throw OpenError(path, "file name contains a NUL byte");
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw OpenError(path, std::strerror(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throw OpenError(path, std::strerror(error));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        throw OpenError(path, "not a regular file");
    }
    return fd;
}

}  // namespace

QtMediaPlayer::QtMediaPlayer(QObject* parent)
    : QObject(parent)
{
    m_audioOutput.setVolume(GainForLevel(m_volume));
    m_player.setAudioOutput(&m_audioOutput);

    connect(&m_player, &QMediaPlayer::mediaStatusChanged, this, &QtMediaPlayer::onMediaStatusChanged);
    connect(&m_player, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error error, const QString& message) {
                if (error == QMediaPlayer::NoError || !m_awaitingEnd)
                    return;
                m_awaitingEnd = false;
                emit playbackFailed(message);
            });
    connect(&m_player, &QMediaPlayer::positionChanged, this, &QtMediaPlayer::positionChanged);
    connect(&m_player, &QMediaPlayer::durationChanged, this, &QtMediaPlayer::durationChanged);
    connect(&m_player, &QMediaPlayer::playbackStateChanged, this, &QtMediaPlayer::playbackStateChanged);
}

QtMediaPlayer::~QtMediaPlayer()
{
    m_player.stop();
}

void QtMediaPlayer::SelectBackend()
{
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
}

void QtMediaPlayer::Open(const std::string& path)
{
    const int fd = OpenRegularFile(path);

    const QByteArray bytes = QByteArray::fromStdString(path);
    const QString name = QFile::decodeName(bytes);
    // A name that does not survive decoding (not valid UTF-8) cannot be given
    // as a URL; the player then reads the very file opened above.
    std::unique_ptr<QFile> device;
    if (QFile::encodeName(name) != bytes) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        device = std::make_unique<QFile>();
        if (!device->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            throw OpenError(path, device->errorString().toStdString());
        }
    } else {
        ::close(fd);
    }

    m_awaitingEnd = false;
    ++m_generation;
    // Stopping first makes reopening the file that is loaded start it over:
    // QMediaPlayer ignores a source equal to the current one.
    m_player.stop();
    if (device)
        m_player.setSourceDevice(device.get(), QUrl::fromLocalFile(name));
    else
        m_player.setSource(QUrl::fromLocalFile(QFileInfo(name).absoluteFilePath()));
    m_sourceFile.swap(device);  // the previous file, if any, closes here
    m_fileName = path;
    m_awaitingEnd = true;
    m_player.play();
    emit opened();
}

void QtMediaPlayer::Play()
{
    if (m_fileName.empty())
        return;
    m_awaitingEnd = true;
    m_player.play();
}

void QtMediaPlayer::Stop()
{
    m_awaitingEnd = false;
    ++m_generation;
    m_player.stop();
}

void QtMediaPlayer::Pause()
{
    m_player.pause();
}

std::string QtMediaPlayer::FileName() const
{
    return m_fileName;
}

int QtMediaPlayer::Volume() const
{
    return m_volume;
}

void QtMediaPlayer::SetVolume(int level)
{
    if (level < kSilent || level > kLoudest)
        throw std::out_of_range("volume level " + std::to_string(level) + " is outside "
                                + std::to_string(kSilent) + ".." + std::to_string(kLoudest));
    m_volume = level;
    m_audioOutput.setVolume(GainForLevel(level));
}

float QtMediaPlayer::GainForLevel(int level)
{
    if (level <= kSilent)
        return 0.0f;
    return static_cast<float>(std::pow(10.0, level / 2000.0));
}

qint64 QtMediaPlayer::position() const
{
    return m_player.position();
}

qint64 QtMediaPlayer::duration() const
{
    return m_player.duration();
}

void QtMediaPlayer::setPosition(qint64 ms)
{
    m_player.setPosition(ms);
}

QMediaPlayer::PlaybackState QtMediaPlayer::playbackState() const
{
    return m_player.playbackState();
}

void QtMediaPlayer::onMediaStatusChanged(QMediaPlayer::MediaStatus status)
{
    if (status != QMediaPlayer::EndOfMedia || !m_awaitingEnd)
        return;
    m_awaitingEnd = false;
    // Reported from the event loop rather than from inside QMediaPlayer's own
    // signal, so a handler may open the next file straight away.
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == m_generation)
                emit endOfStream();
        },
        Qt::QueuedConnection);
}

}  // namespace tallowcrest
