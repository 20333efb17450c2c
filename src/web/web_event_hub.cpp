#include "web/web_event_hub.h"

#include "server/now_playing.h"
#include "web/web_api.h"

#include <QJsonDocument>
#include <QTcpSocket>
#include <QWebSocket>

namespace tallowcrest {

WebEventHub::WebEventHub(const WebApi& api, const NowPlaying& nowPlaying, QObject* parent)
    : QObject(parent), m_api(api), m_server(QStringLiteral("Tallowcrest Server"), QWebSocketServer::NonSecureMode)
{
    connect(&m_server, &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket* socket = m_server.nextPendingConnection())
            subscribe(socket);
    });
    m_pinger.setInterval(kPingIntervalMs);
    connect(&m_pinger, &QTimer::timeout, this, &WebEventHub::pingSubscribers);

    // The page counts the time on by itself; the player's own word only
    // corrects it now and then.
    m_indexLater.setSingleShot(true);
    connect(&m_indexLater, &QTimer::timeout, this, &WebEventHub::scheduleBroadcast);
    connect(&nowPlaying, &NowPlaying::changed, this, [this](NowPlaying::Changes what) {
        using Change = NowPlaying::Change;
        const qint64 since = m_sinceBroadcast.isValid() ? m_sinceBroadcast.elapsed() : kIndexEveryMs;
        if (what == NowPlaying::Changes(Change::Index) && since < kIndexEveryMs) {
            if (!m_indexLater.isActive())
                m_indexLater.start(int(kIndexEveryMs - since));
        } else if (what != NowPlaying::Changes(Change::Position) || since >= kPositionEveryMs) {
            scheduleBroadcast();
        }
    });
}

WebEventHub::~WebEventHub()
{
    for (const Subscriber& subscriber : std::exchange(m_subscribers, {})) {
        subscriber.socket->disconnect(this);
        delete subscriber.socket;
    }
}

void WebEventHub::accept(QTcpSocket* socket)
{
    m_server.handleConnection(socket);
    emit socket->readyRead();
}

void WebEventHub::closeAll()
{
    for (const Subscriber& subscriber : std::vector(m_subscribers))
        subscriber.socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("unpaired"));
}

void WebEventHub::subscribe(QWebSocket* socket)
{
    socket->setParent(this);
    socket->setMaxAllowedIncomingFrameSize(WebApi::kMaxBodyBytes);
    socket->setMaxAllowedIncomingMessageSize(WebApi::kMaxBodyBytes);
    m_subscribers.push_back({socket, true});
    connect(socket, &QWebSocket::pong, this, [this, socket] {
        for (Subscriber& subscriber : m_subscribers)
            subscriber.answered |= subscriber.socket == socket;
    });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        std::erase_if(m_subscribers, [socket](const Subscriber& subscriber) { return subscriber.socket == socket; });
        if (m_subscribers.empty())
            m_pinger.stop();
        socket->deleteLater();
    });
    if (!m_pinger.isActive())
        m_pinger.start();
    socket->sendTextMessage(QString::fromUtf8(QJsonDocument(m_api.state()).toJson(QJsonDocument::Compact)));
}

void WebEventHub::scheduleBroadcast()
{
    if (m_broadcastPending || m_subscribers.empty())
        return;
    m_broadcastPending = true;
    QTimer::singleShot(0, this, &WebEventHub::broadcast);
}

void WebEventHub::broadcast()
{
    m_broadcastPending = false;
    m_indexLater.stop();
    m_sinceBroadcast.start();
    const QString message = QString::fromUtf8(QJsonDocument(m_api.state()).toJson(QJsonDocument::Compact));
    for (const Subscriber& subscriber : std::vector(m_subscribers))
        subscriber.socket->sendTextMessage(message);
}

// A phone that went to sleep without closing would hold its connection for
// ever; one that has not answered the last ping is let go.
void WebEventHub::pingSubscribers()
{
    std::vector<QWebSocket*> silent;
    for (Subscriber& subscriber : m_subscribers) {
        if (!subscriber.answered)
            silent.push_back(subscriber.socket);
        subscriber.answered = false;
        subscriber.socket->ping();
    }
    for (QWebSocket* socket : silent)
        socket->abort();
}

}  // namespace tallowcrest
