#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QWebSocketServer>

#include <vector>

class QTcpSocket;
class QWebSocket;

namespace tallowcrest {

class NowPlaying;
class WebApi;

// The live connections at /api/events: each hears the state at once and
// again after every change, changes that come together as one message.
class WebEventHub : public QObject {
    Q_OBJECT

public:
    static constexpr int kPingIntervalMs = 30000;
    static constexpr int kPositionEveryMs = 1000;
    static constexpr int kIndexEveryMs = 1000;

    WebEventHub(const WebApi& api, const NowPlaying& nowPlaying, QObject* parent = nullptr);
    ~WebEventHub() override;

    // An upgrade request that was already let in, its head still unread.
    void accept(QTcpSocket* socket);
    void scheduleBroadcast();
    // Every live connection gets a close frame, as after a new pairing code.
    void closeAll();

private:
    struct Subscriber {
        QWebSocket* socket;
        bool answered;
    };

    void subscribe(QWebSocket* socket);
    void broadcast();
    void pingSubscribers();

    const WebApi& m_api;
    QWebSocketServer m_server;
    std::vector<Subscriber> m_subscribers;
    QTimer m_pinger;
    QElapsedTimer m_sinceBroadcast;
    // Holds back the index's progress between broadcasts; its last word still goes out.
    QTimer m_indexLater;
    bool m_broadcastPending = false;
};

}  // namespace tallowcrest
