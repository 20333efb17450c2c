#pragma once

#include <QTcpServer>

#include <functional>
#include <memory>

class QTcpSocket;

namespace tallowcrest {

class WebAuthorisation;

// Takes every connection to the web port before Qt's HTTP server does.
// Qt 6.4's QHttpServer keeps no count of connections, reads a request's head
// and whole body (chunked too) into memory with no limit and no deadline, and
// accepts a WebSocket upgrade (or answers it with a route's reply as well)
// without asking first; it also keeps every connection open. So this gate
// caps the connections, reads each first head itself within 16 KiB and 10 s,
// refuses chunked and oversized bodies unread, lets upgrades through only with
// the token and the server's own Origin, and closes each connection once its
// answer is out.
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
