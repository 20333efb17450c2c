#include "server/server_controller.h"

#include <QFile>

#include "library/track_list.h"
#include "playback/media_player.h"
#include "remote/socket.h"
#include "remote/track_list_file.h"
#include "server/caption.h"
#include "server/connection_lifecycle.h"
#include "server/dialogs.h"
#include "server/folder_prescan.h"
#include "server/load_files.h"
#include "server/playback_controller.h"
#include "server/request_dispatcher.h"
#include "server/settings_store.h"

namespace tallowcrest {

ServerController::ServerController(Components components, QObject* parent)
    : QObject(parent),
      m_parts(std::move(components)),
      m_caption(QString::fromUtf8(kDesignedCaption.data(), qsizetype(kDesignedCaption.size()))),
      m_playback(std::make_unique<PlaybackController>(PlaybackController::Components{
          m_parts.lstFiles, m_parts.media, m_parts.winsock,
          [this](const std::string& caption) { setCaption(caption); },
          [this](bool on) { emit shuffleChanged(on); }, m_parts.drawRandom})),
      m_lifecycle(std::make_unique<ConnectionLifecycle>(m_parts.winsock, m_parts.messageBox))
{
    m_dispatcher = std::make_unique<RequestDispatcher>(RequestDispatcher::Context{
        m_parts.winsock,
        m_parts.media,
        m_parts.lstFiles,
        [this] { return m_mediaFolder; },
        [this] { cmdDir_Click(); },
        [this](bool on) { m_playback->setShuffleOn(on); },
        [this](const std::string& caption) { setCaption(caption); },
        m_parts.trackListFile ? m_parts.trackListFile : std::function<std::string()>(trackListFilePath),
    });

    ISocket& winsock = m_parts.winsock;
    connect(&winsock, &ISocket::connectionRequest, this, &ServerController::Winsock_ConnectionRequest);
    connect(&winsock, &ISocket::dataArrival, this, &ServerController::Winsock_DataArrival);
    connect(&winsock, &ISocket::peerClosed, this, &ServerController::Winsock_Close);
    connect(&winsock, &ISocket::error, this,
            [this](int number, const QString& description) { Winsock_Error(number, description.toStdString()); });
    IMediaPlayer& media = m_parts.media;
    connect(&media, &IMediaPlayer::endOfStream, this, [this] { Media_EndOfStream(0); });
    // Queued: a failure may be reported from inside Open, and the handler
    // opens the next file.
    connect(&media, &IMediaPlayer::playbackFailed, this, &ServerController::Media_PlaybackFailed,
            Qt::QueuedConnection);
}

ServerController::~ServerController() = default;

void ServerController::Form_Load()
{
    m_mediaFolder = m_parts.settings.read(kAppName, kSettingsSection, kDirKey, kFolderNotSet);
    LoadFiles(m_mediaFolder, m_parts.lstFiles, m_parts.messageBox,
              m_parts.prescan ? m_parts.prescan->take(m_mediaFolder) : std::nullopt);
    emit trackListChanged();
    m_lifecycle->startListening(m_parts.settings.read(kAppName, kSettingsSection, kPortKeyRead, kDefaultPort));
}

void ServerController::cmdDir_Click()
{
    const std::string answer = m_parts.prompt.ask("Please enter the Local Directory that you wish to use:");
    m_parts.settings.save(kAppName, kSettingsSection, kDirKey, answer);
    m_mediaFolder = m_parts.settings.read(kAppName, kSettingsSection, kDirKey, kFolderNotSet);
}

void ServerController::cmdPort_Click()
{
    const std::string answer = m_parts.prompt.ask("Please enter the Local Port that you wish to use:");
    m_parts.settings.save(kAppName, kSettingsSection, kPortKeyWritten, answer);
}

void ServerController::Winsock_ConnectionRequest(int32_t requestId)
{
    m_lifecycle->Winsock_ConnectionRequest(requestId);
    emit clientConnectionChanged(clientConnected());
}

void ServerController::Winsock_DataArrival()
{
    if (m_handlingRequest) {
        m_dataWaiting = true;
        return;
    }
    m_handlingRequest = true;
    const std::uint64_t listVersion = m_parts.lstFiles.version();
    do {
        m_dataWaiting = false;
        m_dispatcher->Winsock_DataArrival();
    } while (m_dataWaiting);
    m_handlingRequest = false;
    if (m_parts.lstFiles.version() != listVersion)
        emit trackListChanged();
}

void ServerController::Winsock_Close()
{
    m_lifecycle->Winsock_Close();
    emit clientConnectionChanged(clientConnected());
}

void ServerController::Winsock_Error(int number, const std::string& description)
{
    m_lifecycle->Winsock_Error(number, description);
}

void ServerController::lstFiles_DblClick() { m_playback->lstFiles_DblClick(); }

void ServerController::Media_EndOfStream(int32_t result) { m_playback->Media_EndOfStream(result); }

void ServerController::Media_PlaybackFailed() { m_playback->Media_PlaybackFailed(); }

void ServerController::cmdRandomize_Click() { m_playback->cmdRandomize_Click(); }

bool ServerController::ShuffleOn() const { return m_playback->ShuffleOn(); }

bool ServerController::clientConnected() const { return m_playback->clientConnected(); }

void ServerController::playRow(int index) { m_playback->playRow(index); }

void ServerController::playNext() { m_playback->playNext(); }

void ServerController::playPrevious() { m_playback->playPrevious(); }

bool ServerController::playFile(const std::string& path) { return m_playback->playFile(path); }

void ServerController::setShuffle(bool on)
{
    if (on != ShuffleOn())
        cmdRandomize_Click();
}

void ServerController::setCaption(const std::string& caption)
{
    // The title's bytes as Qt shows file names.
    m_caption = QFile::decodeName(QByteArray::fromStdString(caption));
    emit captionChanged(m_caption);
}

}  // namespace tallowcrest
