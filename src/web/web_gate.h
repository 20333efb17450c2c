#pragma once

#include <QTcpServer>

#include <functional>
#include <memory>

class QTcpSocket;

namespace tallowcrest {

class WebAuthorisation;

// Takes every connection to the web port before Qt's HTTP server does, for
// what Qt 6.4's QHttpServer cannot do: it counts no connections and closes
// none after an answer; it reads a head of any size and a whole body, chunked
// too, into memory before any handler runs, with no deadline; and it takes
// any WebSocket upgrade whose path has a route (answering with that route's
// reply as well), with no hook to refuse one first.
class WebGate : public QTcpServer {
    Q_OBJECT

public:
    static constexpr int kMaxConnections = 32;
    static constexpr qsizetype kMaxHeadBytes = 16 * 1024;
    static constexpr int kHeadTimeoutMs = 10000;

    // upgrade takes a WebSocket request that was let in, its head unread.
    WebGate(const WebAuthorisation& authorisation, std::function<void(QTcpSocket*)> upgrade,
            QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void screen(QTcpSocket* socket, const QByteArray& head);
    void handToHttp(QTcpSocket* socket);

    const WebAuthorisation& m_authorisation;
    std::function<void(QTcpSocket*)> m_upgrade;
    std::shared_ptr<int> m_open = std::make_shared<int>(0);
};

}  // namespace tallowcrest
