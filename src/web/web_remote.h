#pragma once

#include <QObject>

#include <memory>
#include <string>

#include "web/pairing.h"
#include "web/web_api.h"
#include "web/web_authorisation.h"

class QHttpServer;

namespace tallowcrest {

class IMessageBox;
class ISettingsStore;
class Controls;
class NowPlaying;
class WebEventHub;

// The phone remote: the page and the JSON API over HTTP, live state over a
// WebSocket, on the port stored as WebPort, for phones that show the pairing
// token in a cookie (or an Authorization: Bearer header). Wires the gate,
// the authorisation, the page, the API and the event hub together.
class WebRemote : public QObject {
    Q_OBJECT

public:
    WebRemote(Controls& controls, const NowPlaying& nowPlaying, ISettingsStore& settings, IMessageBox& messageBox,
              QObject* parent = nullptr);
    ~WebRemote() override;

    // Listens on all interfaces. A port that cannot be used is reported in an
    // "Error" box and the rest of the server goes on; false then, and when
    // the stored port is "0" (the remote is off).
    bool start();
    std::string pairingUrl() const;
    // A new token at once: every paired phone is locked out and its live
    // connection closed.
    void newCode();

private:
    void route();

    ISettingsStore& m_settings;
    IMessageBox& m_messageBox;
    Pairing m_pairing;
    WebAuthorisation m_authorisation;
    WebApi m_api;
    // Owns the gate once bound, and so every connection under it.
    std::unique_ptr<QHttpServer> m_http;
    // Goes first: its live connections wrap connections under the gate.
    std::unique_ptr<WebEventHub> m_hub;
    int m_port = 0;
};

}  // namespace tallowcrest
