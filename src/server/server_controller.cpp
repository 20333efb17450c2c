#include "server/server_controller.h"

#include "library/library_index.h"
#include "library/track_list.h"
#include "playback/media_player.h"
#include "remote/socket.h"
#include "remote/track_list_file.h"
#include "server/connection_lifecycle.h"
#include "server/controls.h"
#include "server/dialogs.h"
#include "server/folder_prescan.h"
#include "server/load_files.h"
#include "server/now_playing.h"
#include "server/playback_controller.h"
#include "server/request_dispatcher.h"
#include "server/server_log.h"
#include "server/settings_store.h"

#include <malloc.h>

namespace tallowcrest {

ServerController::ServerController(Components components, QObject* parent)
    : QObject(parent),
      m_parts(std::move(components)),
      m_nowPlaying(std::make_unique<NowPlaying>(m_parts.media, m_parts.lstFiles, m_parts.winsock, m_parts.library)),
      m_playback(std::make_unique<PlaybackController>(PlaybackController::Components{
          .lstFiles = m_parts.lstFiles,
          .media = m_parts.media,
          .winsock = m_parts.winsock,
          .nowPlaying = *m_nowPlaying,
          .drawRandom = m_parts.drawRandom,
      })),
      m_controls(std::make_unique<Controls>(m_parts.media, m_parts.lstFiles, *m_nowPlaying, *m_playback,
                                            m_parts.settings)),
      m_lifecycle(std::make_unique<ConnectionLifecycle>(m_parts.winsock, m_parts.messageBox)),
      m_dispatcher(std::make_unique<RequestDispatcher>(RequestDispatcher::Context{
          .winsock = m_parts.winsock,
          .controls = *m_controls,
          .lstFiles = m_parts.lstFiles,
          .mediaFolder = [this] { return m_mediaFolder; },
          .promptForFolder = [this] { cmdDir_Click(); },
          .trackListFile = m_parts.trackListFile ? m_parts.trackListFile : std::function(trackListFilePath),
      }))
{
    ISocket& winsock = m_parts.winsock;
    connect(&winsock, &ISocket::connectionRequest, this, &ServerController::Winsock_ConnectionRequest);
    connect(&winsock, &ISocket::dataArrival, this, &ServerController::Winsock_DataArrival);
    connect(&winsock, &ISocket::peerClosed, this, &ServerController::Winsock_Close);
    connect(&winsock, &ISocket::error, this,
            [this](int number, const QString& description) { Winsock_Error(number, description.toStdString()); });
    IMediaPlayer& media = m_parts.media;
    connect(&media, &IMediaPlayer::endOfStream, this, [this] { Media_EndOfStream(0); });
    // Queued: a failure may be reported from inside open(), and the handler
    // opens the next file.
    connect(&media, &IMediaPlayer::playbackFailed, this, [this] { m_playback->trackFailed(); },
            Qt::QueuedConnection);
    // Gapless play-through: what follows is named to the player ahead of
    // time, and named anew whenever what follows may have changed.
    connect(&media, &IMediaPlayer::advanced, this, [this] { m_playback->queuedTrackBegan(); });
    connect(&media, &IMediaPlayer::stateChanged, this, [this] { m_playback->queueFollowing(); });
    m_parts.lstFiles.watchSelection([this] { m_playback->queueFollowing(); });
    connect(m_nowPlaying.get(), &NowPlaying::changed, this, [this](NowPlaying::Changes what) {
        using Change = NowPlaying::Change;
        if (what & (Change::Client | Change::List | Change::Shuffle))
            m_playback->queueFollowing();
        if (what & (Change::Shuffle | Change::ReplayGain))
            applyReplayGain();
    });
}

void ServerController::applyReplayGain()
{
    const ReplayGainMode mode = m_nowPlaying->replayGain();
    const bool shuffle = m_nowPlaying->shuffle();
    const IMediaPlayer::ReplayGain gain = mode == ReplayGainMode::Off ? IMediaPlayer::ReplayGain::Off
        : mode == ReplayGainMode::Track || (mode == ReplayGainMode::Auto && shuffle) ? IMediaPlayer::ReplayGain::Track
                                                                                      : IMediaPlayer::ReplayGain::Album;
    m_parts.media.setReplayGain(gain, m_nowPlaying->replayGainPreamp());
}

void ServerController::readReplayGain()
{
    const auto setting = [this](const char* key, const char* fallback) {
        return m_parts.settings.read(kAppName, kSettingsSection, key, fallback);
    };
    const std::string modeText = setting(kReplayGainKey, "off"), preampText = setting(kReplayGainPreampKey, "0");
    const std::optional<ReplayGainMode> mode = parseReplayGainMode(modeText);
    const std::optional<double> preamp = parseReplayGainPreamp(preampText);
    if (!mode)
        qCWarning(serverLog) << "ReplayGain" << modeText.c_str() << "is none of off, track, album, auto: off it is";
    if (!preamp)
        qCWarning(serverLog) << "ReplayGainPreamp" << preampText.c_str() << "is no number of dB from -15 to 15: 0 it is";
    m_nowPlaying->setReplayGain(mode.value_or(ReplayGainMode::Off), preamp.value_or(0.0));
    applyReplayGain();
}

ServerController::~ServerController() = default;

void ServerController::Form_Load()
{
    m_mediaFolder = m_parts.settings.read(kAppName, kSettingsSection, kDirKey, kFolderNotSet);
    readReplayGain();
    LoadFiles(m_mediaFolder, m_parts.lstFiles, m_parts.messageBox,
              m_parts.prescan ? m_parts.prescan->take(m_mediaFolder) : std::nullopt);
    m_nowPlaying->noteListChanged(m_mediaFolder);
    m_lifecycle->startListening(m_parts.settings.read(kAppName, kSettingsSection, kPortKeyRead, kDefaultPort));
    // Only once the server listens: reading tags never delays a client.
    indexList();
}

void ServerController::indexList()
{
    if (!m_parts.library)
        return;
    std::string paths;
    for (int row = 0; row < m_parts.lstFiles.count(); ++row)
        paths.append(m_parts.lstFiles.row(row)).push_back('\0');
    m_parts.library->update(std::move(paths));
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

void ServerController::cmdRandomize_Click() { m_controls->toggleShuffle(); }

void ServerController::lstFiles_DblClick() { m_playback->playSelected(); }

void ServerController::Winsock_ConnectionRequest(int32_t requestId)
{
    m_lifecycle->acceptClient(requestId);
    m_nowPlaying->noteClientChanged();
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
        m_dispatcher->handleArrivedData();
    } while (m_dataWaiting);
    m_handlingRequest = false;
    if (m_parts.lstFiles.version() != listVersion) {
        m_nowPlaying->noteListChanged(m_mediaFolder);
        indexList();
    }
}

void ServerController::Winsock_Close()
{
    m_lifecycle->clientLeft();
    m_nowPlaying->noteClientChanged();
    // What the client's requests and unread replies took goes back to the
    // system with it, however the pieces arrived: a client that fed junk
    // for an hour leaves the server as big as it found it.
    ::malloc_trim(0);
}

void ServerController::Winsock_Error(int number, const std::string& description)
{
    m_lifecycle->reportError(number, description);
}

void ServerController::Media_EndOfStream(int32_t) { m_playback->trackEnded(); }

bool ServerController::ShuffleOn() const { return m_nowPlaying->shuffle(); }

}  // namespace tallowcrest
