#include "support/live_server.h"

#include "library/track_scan.h"

namespace tallowcrest::testing {

LiveServer::LiveServer(const std::string& mediaFolder, const std::string& portText,
                       std::function<std::string()> trackListFile, std::function<float()> drawRandom)
    : controller({settings, lstFiles, messageBox, prompt, winsock, media,
                  [this](const std::string& text) { caption = text; }, std::move(trackListFile),
                  std::move(drawRandom)})
{
    settings.Save(kAppName, kSettingsSection, "Dir", mediaFolder);
    settings.Save(kAppName, kSettingsSection, "Port", portText);
    QObject::connect(&winsock, &Winsock::connectionRequest, &winsock,
                     [this](qint32 id) { controller.Winsock_ConnectionRequest(id); });
    QObject::connect(&winsock, &Winsock::dataArrival, &winsock, [this] { controller.Winsock_DataArrival(); });
    QObject::connect(&winsock, &Winsock::peerClosed, &winsock, [this] { controller.Winsock_Close(); });
    QObject::connect(&winsock, &Winsock::error, &winsock, [this](int number, const QString& description) {
        controller.Winsock_Error(number, description.toStdString());
    });
    QObject::connect(&media, &QtMediaPlayer::endOfStream, &media, [this] { controller.Media_EndOfStream(0); });
    QObject::connect(&media, &QtMediaPlayer::playbackFailed, &media, [this] { controller.Media_PlaybackFailed(); },
                     Qt::QueuedConnection);
    // A freshly started server has scanned nothing yet.
    TrackListBuffer.clear();
    controller.Form_Load();
}

}  // namespace tallowcrest::testing
