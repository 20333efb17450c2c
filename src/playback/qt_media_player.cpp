#include "playback/qt_media_player.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

namespace tallowcrest {

namespace {

std::runtime_error OpenError(const std::string& path, const std::string& reason)
{
    return std::runtime_error("cannot open \"" + path + "\": " + reason);
}

// Throws unless path names a regular file that can be opened for reading.
// O_NONBLOCK keeps a FIFO or device node from holding the thread.
void RequireReadableRegularFile(const std::string& path)
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
    ::close(fd);
}

}  // namespace

QtMediaPlayer::QtMediaPlayer(QObject* parent)
    : QObject(parent)
{
    m_loadingPatience.setSingleShot(true);
    connect(&m_loadingPatience, &QTimer::timeout, this, &QtMediaPlayer::SettlingOver);
    ReplacePlayer();
}

QtMediaPlayer::~QtMediaPlayer()
{
    if (!Settling())
        m_player->stop();
}

void QtMediaPlayer::ReplacePlayer()
{
    // The old player says nothing more once it is replaced; its pipeline
    // goes down with it.
    if (m_player)
        m_player->disconnect(this);
    m_player = std::make_unique<QMediaPlayer>();
    m_audioOutput = new QAudioOutput(m_player.get());
    m_audioOutput->setVolume(GainForLevel(m_volume));
    m_player->setAudioOutput(m_audioOutput);

    QMediaPlayer* player = m_player.get();
    connect(player, &QMediaPlayer::mediaStatusChanged, this, &QtMediaPlayer::onMediaStatusChanged);
    connect(player, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error, const QString& message) {
        if (error == QMediaPlayer::NoError || !m_awaitingEnd)
            return;
        m_awaitingEnd = false;
        emit playbackFailed(message);
    });
    connect(player, &QMediaPlayer::positionChanged, this, &QtMediaPlayer::positionChanged);
    connect(player, &QMediaPlayer::durationChanged, this, &QtMediaPlayer::durationChanged);
    connect(player, &QMediaPlayer::playbackStateChanged, this, &QtMediaPlayer::playbackStateChanged);
}

void QtMediaPlayer::SelectBackend()
{
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
}

void QtMediaPlayer::Open(const std::string& path)
{
    RequireReadableRegularFile(path);

    const QByteArray bytes = QByteArray::fromStdString(path);
    const QString name = QFile::decodeName(bytes);
    QString playedName = QFileInfo(name).absoluteFilePath();
    QString link;
    // A name that does not survive decoding (not valid UTF-8) cannot be put
    // into a URL; the player is given a link with a plain name to it instead.
    // (Feeding it the open file as a QIODevice fails in Qt 6.4 once the
    // player switches from one such device to the next.)
    if (QFile::encodeName(name) != bytes) {
        link = LinkTo(bytes);
        playedName = link;
    }

    m_awaitingEnd = false;
    ++m_generation;
    if (m_hasPending && !m_pendingLink.isEmpty())
        QFile::remove(m_pendingLink);
    m_hasPending = true;
    m_pendingSource = QUrl::fromLocalFile(playedName);
    m_pendingLink = link;
    m_pendingAfter = After::Play;
    m_fileName = path;
    if (Settling())
        m_loadingPatience.start(kLoadingPatienceMs);
    else
        SwitchToPendingSource();
    emit opened();
}

bool QtMediaPlayer::Loading() const
{
    return m_player->mediaStatus() == QMediaPlayer::LoadingMedia;
}

bool QtMediaPlayer::Settling() const
{
    // Between "loaded" and its first buffer the streaming thread may still
    // be adding the decoder's pads. (Paused there, a player also does not
    // start again when told to play once more.)
    return Loading()
        || (m_player->mediaStatus() == QMediaPlayer::LoadedMedia
            && m_player->playbackState() == QMediaPlayer::PlayingState);
}

void QtMediaPlayer::RunWhenSettled(After command)
{
    if (Settling()) {
        m_heldCommand = command;
        if (!m_loadingPatience.isActive())
            m_loadingPatience.start(kLoadingPatienceMs);
        return;
    }
    m_heldCommand.reset();
    Carry(command);
}

void QtMediaPlayer::Carry(After command)
{
    switch (command) {
    case After::Play: m_player->play(); break;
    case After::Pause: m_player->pause(); break;
    case After::Stop: m_player->stop(); break;
    }
}

void QtMediaPlayer::SettlingOver()
{
    m_loadingPatience.stop();
    if (m_hasPending) {
        SwitchToPendingSource();
        return;
    }
    if (const std::optional<After> command = std::exchange(m_heldCommand, std::nullopt))
        Carry(*command);
}

void QtMediaPlayer::SwitchToPendingSource()
{
    if (!m_hasPending)
        return;
    m_hasPending = false;
    // What was held for the old player is in m_pendingAfter already.
    m_heldCommand.reset();
    m_loadingPatience.stop();
    ReplacePlayer();
    m_player->setSource(m_pendingSource);
    // The previous link goes only once the player has moved on from it.
    const QString previousLink = std::exchange(m_link, m_pendingLink);
    if (!previousLink.isEmpty())
        QFile::remove(previousLink);
    m_pendingLink.clear();
    switch (m_pendingAfter) {
    case After::Play:
        m_awaitingEnd = true;
        m_restartsLeft = kMaxRestarts;
        m_player->play();
        break;
    case After::Pause:
        m_player->pause();
        break;
    case After::Stop:
        break;
    }
}

QString QtMediaPlayer::LinkTo(const QByteArray& target)
{
    if (!m_linkDir)
        m_linkDir = std::make_unique<QTemporaryDir>();
    if (!m_linkDir->isValid())
        throw OpenError(target.toStdString(), "cannot create a private temporary folder");
    QByteArray absoluteTarget = target;
    if (!absoluteTarget.startsWith('/'))
        absoluteTarget.prepend(QFile::encodeName(QDir::currentPath()) + '/');
    // A fresh name each time: the previous link goes only once the player
    // has moved on to this one.
    const QString link = m_linkDir->filePath(QStringLiteral("track-%1.mp3").arg(++m_linkCount));
    if (::symlink(absoluteTarget.constData(), QFile::encodeName(link).constData()) != 0)
        throw OpenError(target.toStdString(), std::strerror(errno));
    return link;
}

void QtMediaPlayer::Play()
{
    if (m_fileName.empty())
        return;
    if (m_hasPending) {
        m_pendingAfter = After::Play;
        return;
    }
    m_awaitingEnd = true;
    m_restartsLeft = kMaxRestarts;
    RunWhenSettled(After::Play);
}

void QtMediaPlayer::Stop()
{
    m_awaitingEnd = false;
    ++m_generation;
    if (m_hasPending) {
        m_pendingAfter = After::Stop;
        return;
    }
    RunWhenSettled(After::Stop);
}

void QtMediaPlayer::Pause()
{
    if (m_hasPending) {
        if (m_pendingAfter == After::Play)
            m_pendingAfter = After::Pause;
        return;
    }
    RunWhenSettled(After::Pause);
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
    m_audioOutput->setVolume(GainForLevel(level));
}

float QtMediaPlayer::GainForLevel(int level)
{
    if (level <= kSilent)
        return 0.0f;
    return static_cast<float>(std::pow(10.0, level / 2000.0));
}

qint64 QtMediaPlayer::position() const
{
    return m_player->position();
}

qint64 QtMediaPlayer::duration() const
{
    return m_player->duration();
}

void QtMediaPlayer::setPosition(qint64 ms)
{
    m_player->setPosition(ms);
}

QMediaPlayer::PlaybackState QtMediaPlayer::playbackState() const
{
    return m_player->playbackState();
}

void QtMediaPlayer::onMediaStatusChanged(QMediaPlayer::MediaStatus status)
{
    if (m_hasPending && !Settling()) {
        // Not from inside the player's own signal.
        QMetaObject::invokeMethod(this, &QtMediaPlayer::SettlingOver, Qt::QueuedConnection);
        return;
    }
    if (m_heldCommand && !Settling())
        QMetaObject::invokeMethod(this, &QtMediaPlayer::SettlingOver, Qt::QueuedConnection);
    if (status != QMediaPlayer::EndOfMedia || !m_awaitingEnd)
        return;
    // Qt 6.4's GStreamer player now and then reports the end of a file it
    // has just loaded, before playing any of it, when the source was switched
    // while playing (seen on a busy machine). A real end always lies past the
    // start, so such an end is ignored and the file started again.
    if (m_player->position() <= 0) {
        if (m_restartsLeft > 0) {
            --m_restartsLeft;
            m_player->play();
            return;
        }
        m_awaitingEnd = false;
        emit playbackFailed(QStringLiteral("the player kept stopping before the start of the file"));
        return;
    }
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
