#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "web/pairing.h"
#include "web/web_api.h"

class QAbstractHttpServer;
class QByteArray;
class QHttpServerRequest;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

namespace tallowcrest {

class IMessageBox;
class ISettingsStore;
class Controls;
class NowPlaying;

// The phone remote: the page and the JSON API over HTTP, live state over a
// WebSocket, on the port stored as WebPort, for phones that show the pairing
// token in a cookie (or an Authorization: Bearer header).
class WebRemote : public QObject {
    Q_OBJECT

public:
    static constexpr int kMaxConnections = 32;

    WebRemote(Controls& controls, const NowPlaying& nowPlaying, ISettingsStore& settings, IMessageBox& messageBox,
              QObject* parent = nullptr);
    ~WebRemote() override;

    // Listens on all interfaces. A port that cannot be used is reported in an
    // "Error" box and the rest of the server goes on; false then, and when
    // the stored port is "0" (the remote is off).
    bool start();
    bool listening() const { return m_port != 0; }
    std::string pairingUrl() const;
    // A new token at once: every paired phone is locked out and its live
    // connection closed.
    void newCode();

private:
    class Gate;
    class HttpServer;
    struct Subscriber {
        QWebSocket* socket;
        bool answered;
    };

    // The first request head on a connection, before anything reads it.
    void screen(QTcpSocket* socket, const QByteArray& head);
    WebReply answer(const QHttpServerRequest& request);
    bool admits(const QByteArray& cookie, const QByteArray& authorization) const;
    void subscribe(QWebSocket* socket);
    void scheduleBroadcast();
    void broadcast();
    void pingSubscribers();

    ISettingsStore& m_settings;
    IMessageBox& m_messageBox;
    Pairing m_pairing;
    WebApi m_api;
    std::unique_ptr<HttpServer> m_http;
    Gate* m_gate = nullptr;
    std::unique_ptr<QWebSocketServer> m_events;
    std::vector<Subscriber> m_subscribers;
    QTimer m_pinger;
    QElapsedTimer m_sinceBroadcast;
    bool m_broadcastPending = false;
    int m_port = 0;
};

}  // namespace tallowcrest
