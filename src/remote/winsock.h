#pragma once

#include "remote/socket.h"

#include <QHash>
#include <QList>
#include <QObject>
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
//
// Events, always delivered from the event loop and never from inside one of
// the calls below, so a host is not re-entered in the middle of a request:
//   connectionRequest(id)  - the ConnectionRequest event: a client asks to
//                            connect while listening; Accept(id) takes it on.
//   dataArrival()          - the DataArrival event: GetData() has bytes.
//   peerClosed()           - the Close event: the connection is gone (the
//                            client closed or reset it, or it failed); once
//                            per connection. The host calls Close() then.
//   error(number, text)    - the Error event, with a Winsock error number.
//                            A client closing or resetting the connection is
//                            never reported as an error.
class Winsock : public QObject, public ISocket {
    Q_OBJECT

public:
    explicit Winsock(QObject* parent = nullptr);
    ~Winsock() override;

    void SetLocalPort(int32_t port) override;
    int32_t LocalPort() const { return localPort_; }
    void Listen() override;
    void Accept(int32_t requestId) override;
    void Close() override;
    std::string GetData() override;
    void SendData(std::string_view bytes) override;
    int State() const override;
    void Hold(int ms) override;

signals:
    void connectionRequest(qint32 requestId);
    void dataArrival();
    void peerClosed();
    void error(int number, const QString& description);

private:
    void takePendingConnections();
    void onConnectionReadyRead();
    void onConnectionLost();
    void onConnectionError();
    void onAcceptError(QAbstractSocket::SocketError socketError);
    void scheduleDelivery();
    void deliverEvents();
    void dropPendingConnections();
    void releaseConnection();
    void pushQueuedBytes(int ms);
    bool connectionIsUsable() const;
    qint32 nextRequestId();

    struct ErrorEvent {
        int number;
        QString description;
    };

    QTcpServer server_;
    QHash<qint32, QTcpSocket*> pending_;
    QTcpSocket* connection_ = nullptr;
    int32_t localPort_ = 0;
    qint32 lastRequestId_ = 0;

    bool peerGone_ = false;
    bool failed_ = false;

    // Events noticed but not yet delivered to the host.
    bool dataArrivalDue_ = false;
    bool peerClosedDue_ = false;
    QList<ErrorEvent> errorsDue_;
    bool deliveryScheduled_ = false;
};

}  // namespace tallowcrest
