#pragma once

#include "remote/socket.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QTcpServer>

#include <cstdint>
#include <string>
#include <string_view>

class QTcpSocket;

namespace tallowcrest {

// The server's one TCP socket: it listens on LocalPort (all interfaces, IPv4
// and IPv6) and then carries the one connection it accepted. While it carries
// a connection nothing listens, so further clients are refused by the system.
class Winsock : public ISocket {
    Q_OBJECT

public:
    explicit Winsock(QObject* parent = nullptr);
    ~Winsock() override;

    void SetLocalPort(int32_t port) override;
    int32_t LocalPort() const { return m_localPort; }
    void Listen() override;
    void Accept(int32_t requestId) override;
    void Close() override;
    std::string GetData() override;
    void SendData(std::string_view bytes) override;
    SocketState State() const override;
    void hold(int ms) override;

private:
    void takePendingConnections();
    void onConnectionReadyRead();
    void onConnectionLost();
    void onConnectionError();
    void onAcceptError(QAbstractSocket::SocketError socketError);
    void noteError(QAbstractSocket::SocketError socketError, const QString& description);
    void scheduleDelivery();
    void deliverEvents();
    void dropPendingConnections();
    void stopListening();
    void releaseConnection();
    bool connectionIsUsable() const;
    qint32 nextRequestId();

    struct ErrorEvent {
        int number;
        QString description;
    };

    QTcpServer m_server;
    QHash<qint32, QTcpSocket*> m_pending;
    QTcpSocket* m_connection = nullptr;
    int32_t m_localPort = 0;
    qint32 m_lastRequestId = 0;

    bool m_peerGone = false;
    bool m_failed = false;
    // What the last push of a long transfer left queued: the kernel took no
    // more, so the next push waits for another 64 KiB rather than ask again
    // at every piece.
    qint64 m_queuedAfterPush = 0;

    // Events noticed but not yet delivered to the host.
    bool m_dataArrivalDue = false;
    bool m_peerClosedDue = false;
    QList<ErrorEvent> m_errorsDue;
    bool m_deliveryScheduled = false;
};

}  // namespace tallowcrest
