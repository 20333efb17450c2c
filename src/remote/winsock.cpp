#include "remote/winsock.h"

#include "remote/protocol.h"
#include "remote/remote_log.h"
#include "remote/socket_error_numbers.h"

#include <QTcpSocket>
#include <QTimer>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <thread>
#include <utility>

namespace tallowcrest {

namespace {

// A connection we close gracefully gets this long to hand its last queued
// bytes to a client before it is cut.
constexpr int kCloseLingerMs = 10000;

// A client that asks and asks but never reads would otherwise make us queue
// without bound; past this much unsent data its requests fail instead.
constexpr qint64 kMaxQueuedBytes = qint64(128) << 20;

// Sends of a whole list piece or more are parts of a long transfer: they are
// joined and pushed this much at a time, one system call and one wake-up of
// the client per 64 KiB instead of per piece. A shorter send (a reply, a
// notice, a list's last piece or "END") pushes everything queued at once.
constexpr qint64 kJoinedBytes = qint64(64) << 10;

std::runtime_error failure(const QString& reason)
{
    return std::runtime_error(reason.toStdString());
}

}  // namespace

Winsock::Winsock(QObject* parent)
    : ISocket(parent)
{
    m_server.setMaxPendingConnections(1);
    connect(&m_server, &QTcpServer::newConnection, this, &Winsock::takePendingConnections);
    connect(&m_server, &QTcpServer::acceptError, this, &Winsock::onAcceptError);
}

Winsock::~Winsock()
{
    if (m_connection) {
        m_connection->disconnect(this);
        m_connection->abort();
    }
    stopListening();
    // Pending and closing sockets are children and are aborted as they go.
}

void Winsock::SetLocalPort(int32_t port)
{
    m_localPort = port;
}

void Winsock::Listen()
{
    if (m_connection)
        throw failure(QStringLiteral("The socket carries a connection; close it before listening"));
    if (m_server.isListening())
        throw failure(QStringLiteral("The socket is already listening on port %1").arg(m_server.serverPort()));
    if (m_localPort < 1 || m_localPort > 65535)
        throw failure(QStringLiteral("The port %1 is not a valid port number (1 to 65535)").arg(m_localPort));

    // Requests nobody accepted while we were listening last time are stale.
    dropPendingConnections();

    if (!m_server.listen(QHostAddress::Any, static_cast<quint16>(m_localPort))) {
        if (m_server.serverError() == QAbstractSocket::AddressInUseError)
            throw failure(QStringLiteral("The port %1 is in use").arg(m_localPort));
        throw failure(QStringLiteral("Cannot listen on port %1: %2").arg(m_localPort).arg(m_server.errorString()));
    }
}

void Winsock::Accept(int32_t requestId)
{
    const auto found = m_pending.find(requestId);
    if (found == m_pending.end())
        throw failure(QStringLiteral("There is no pending connection with request id %1").arg(requestId));
    if (m_connection)
        throw failure(QStringLiteral("The socket already carries a connection; close it before accepting another"));

    // One socket: carrying a connection means nobody else can connect.
    stopListening();

    m_connection = found.value();
    m_pending.erase(found);
    dropPendingConnections();
    m_peerGone = false;
    m_failed = false;
    m_queuedAfterPush = 0;

    connect(m_connection, &QIODevice::readyRead, this, &Winsock::onConnectionReadyRead);
    connect(m_connection, &QAbstractSocket::disconnected, this, &Winsock::onConnectionLost);
    connect(m_connection, &QAbstractSocket::errorOccurred, this, &Winsock::onConnectionError);

    // The client may have spoken, or even left, before we took it on.
    if (m_connection->bytesAvailable() > 0)
        onConnectionReadyRead();
    if (m_connection->state() != QAbstractSocket::ConnectedState)
        onConnectionLost();
}

void Winsock::Close()
{
    stopListening();
    releaseConnection();
    m_peerGone = false;
    m_failed = false;
    m_dataArrivalDue = false;
    m_peerClosedDue = false;
}

std::string Winsock::GetData()
{
    if (!m_connection)
        return {};
    const qint64 available = m_connection->bytesAvailable();
    if (available <= 0)
        return {};
    std::string bytes(static_cast<std::size_t>(available), '\0');
    const qint64 read = m_connection->read(bytes.data(), available);
    bytes.resize(static_cast<std::size_t>(std::max<qint64>(read, 0)));
    return bytes;
}

void Winsock::SendData(std::string_view bytes)
{
    if (!m_connection)
        throw failure(QStringLiteral("There is no connection to send on"));
    if (!connectionIsUsable())
        throw failure(QStringLiteral("The connection is closed"));
    if (bytes.empty())
        return;
    if (m_connection->bytesToWrite() > kMaxQueuedBytes)
        throw failure(QStringLiteral("The client is not reading what was sent"));

    const auto size = static_cast<qint64>(bytes.size());
    if (m_connection->write(bytes.data(), size) != size)
        throw failure(QStringLiteral("Sending failed: %1").arg(m_connection->errorString()));
    if (bytes.size() < protocol::kListPieceSize) {
        m_connection->flush();
        m_queuedAfterPush = 0;
    } else if (m_connection->bytesToWrite() >= m_queuedAfterPush + kJoinedBytes) {
        m_connection->flush();
        m_queuedAfterPush = m_connection->bytesToWrite();
    }
    if (!connectionIsUsable())
        throw failure(QStringLiteral("The connection was lost while sending"));
}

SocketState Winsock::State() const
{
    if (m_connection) {
        if (m_failed)
            return SocketState::Error;
        if (m_peerGone || m_connection->state() != QAbstractSocket::ConnectedState)
            return SocketState::Closing;
        return SocketState::Connected;
    }
    return m_server.isListening() ? SocketState::Listening : SocketState::Closed;
}

// Holding runs no event loop, so no timer, socket or window event is handled
// meanwhile. Bytes already queued keep flowing: we wait for the socket to take
// more and flush by hand. A failure noticed while flushing only sets flags;
// the events reach the host later from the event loop (see deliverEvents).
void Winsock::hold(int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    while (connectionIsUsable() && m_connection->bytesToWrite() > 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd writable{static_cast<int>(m_connection->socketDescriptor()), POLLOUT, 0};
        const int ready = ::poll(&writable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || !m_connection->flush())
            break;
    }
    std::this_thread::sleep_until(deadline);
}

void Winsock::takePendingConnections()
{
    QTcpSocket* taken = m_server.nextPendingConnection();
    if (!taken)
        return;
    while (QTcpSocket* extra = m_server.nextPendingConnection()) {
        extra->abort();
        extra->deleteLater();
    }
    taken->setParent(this);
    const qint32 requestId = nextRequestId();
    m_pending.insert(requestId, taken);
    emit connectionRequest(requestId);
}

void Winsock::onConnectionReadyRead()
{
    m_dataArrivalDue = true;
    scheduleDelivery();
}

void Winsock::onConnectionLost()
{
    if (m_peerGone)
        return;
    m_peerGone = true;
    m_peerClosedDue = true;
    scheduleDelivery();
}

void Winsock::onConnectionError()
{
    const QAbstractSocket::SocketError socketError = m_connection->error();
    // A client that closes or resets its end has simply left.
    if (socketError != QAbstractSocket::RemoteHostClosedError) {
        m_failed = true;
        noteError(socketError, m_connection->errorString());
    }
    if (socketError == QAbstractSocket::RemoteHostClosedError
        || m_connection->state() == QAbstractSocket::UnconnectedState) {
        onConnectionLost();
    }
}

void Winsock::onAcceptError(QAbstractSocket::SocketError socketError)
{
    noteError(socketError, m_server.errorString());
}

void Winsock::noteError(QAbstractSocket::SocketError socketError, const QString& description)
{
    const ErrorEvent event{winsockErrorNumber(socketError), description};
    qCWarning(remoteLog).nospace().noquote() << "socket error " << event.number << ": " << event.description;
    m_errorsDue.append(event);
    scheduleDelivery();
}

// Socket events are delivered from a queued call so that they never reach
// the host from inside SendData, hold or Accept, i.e. in the middle of the
// host's own handling of a request.
void Winsock::scheduleDelivery()
{
    if (m_deliveryScheduled)
        return;
    m_deliveryScheduled = true;
    QMetaObject::invokeMethod(this, &Winsock::deliverEvents, Qt::QueuedConnection);
}

void Winsock::deliverEvents()
{
    m_deliveryScheduled = false;
    // Each flag is cleared before its signal goes out: the host may close the
    // socket or run a nested event loop from its handler.
    if (std::exchange(m_dataArrivalDue, false) && m_connection && m_connection->bytesAvailable() > 0)
        emit dataArrival();
    while (!m_errorsDue.isEmpty()) {
        const ErrorEvent event = m_errorsDue.takeFirst();
        emit error(event.number, event.description);
    }
    if (std::exchange(m_peerClosedDue, false))
        emit peerClosed();
}

void Winsock::dropPendingConnections()
{
    for (QTcpSocket* socket : std::as_const(m_pending)) {
        socket->abort();
        socket->deleteLater();
    }
    m_pending.clear();
}

// A child forked meanwhile (GStreamer forks its plugin scanner from the
// player's thread) shares the listening socket until it execs. Closed alone,
// the socket would listen on in the child, keep the port from being bound
// again and take the next client into a backlog nobody accepts from; shut
// down, it stops listening for both.
void Winsock::stopListening()
{
    if (m_server.isListening())
        ::shutdown(static_cast<int>(m_server.socketDescriptor()), SHUT_RDWR);
    m_server.close();
}

void Winsock::releaseConnection()
{
    QTcpSocket* socket = std::exchange(m_connection, nullptr);
    if (!socket)
        return;
    socket->disconnect(this);
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    // Let the bytes already queued leave; the socket deletes itself once it
    // is closed, or is cut when the client does not take them in time.
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kCloseLingerMs, socket, &QAbstractSocket::abort);
    socket->disconnectFromHost();
}

bool Winsock::connectionIsUsable() const
{
    return m_connection && !m_peerGone && !m_failed && m_connection->state() == QAbstractSocket::ConnectedState;
}

qint32 Winsock::nextRequestId()
{
    m_lastRequestId = m_lastRequestId == std::numeric_limits<qint32>::max() ? 1 : m_lastRequestId + 1;
    return m_lastRequestId;
}

}  // namespace tallowcrest
