#include "support/live_server.h"

#include "library/track_scan.h"

#include <QTemporaryDir>

#include <memory>

namespace tallowcrest::testing {

namespace {

// Test programs run side by side: each server writes its list file in a
// folder of its own rather than the user's one.
std::function<std::string()> PrivateTrackListFile()
{
    auto folder = std::make_shared<QTemporaryDir>();
    return [folder] { return folder->filePath(QStringLiteral("tracks.temp")).toStdString(); };
}

}  // namespace

LiveServer::LiveServer(const std::string& mediaFolder, const std::string& portText,
                       std::function<std::string()> trackListFile, std::function<float()> drawRandom)
    : controller({settings, lstFiles, messageBox, prompt, winsock, media,
                  [this](const std::string& text) { caption = text; },
                  trackListFile ? std::move(trackListFile) : PrivateTrackListFile(), std::move(drawRandom)})
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

std::vector<std::string> RowsOf(const ITrackList& list)
{
    std::vector<std::string> rows;
    for (int i = 0; i < list.Count(); ++i)
        rows.push_back(list.Row(i));
    return rows;
}

}  // namespace tallowcrest::testing
