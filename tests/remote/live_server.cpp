#include "remote/live_server.h"

namespace tallowcrest::testing {

LiveServer::LiveServer(const std::string& mediaFolder, const std::string& portText,
                       std::function<std::string()> trackListFile)
    : controller({settings, lstFiles, messageBox, prompt, winsock, media,
                  [this](const std::string& text) { caption = text; }, std::move(trackListFile)})
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
    controller.Form_Load();
}

}  // namespace tallowcrest::testing
