#include "remote/winsock.h"

#include "remote/socket_error_numbers.h"

#include <QTcpSocket>
#include <QTimer>

#include <poll.h>

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

std::runtime_error Failure(const QString& reason)
{
    return std::runtime_error(reason.toStdString());
}

}  // namespace

Winsock::Winsock(QObject* parent)
    : QObject(parent)
{
    server_.setMaxPendingConnections(1);
    connect(&server_, &QTcpServer::newConnection, this, &Winsock::takePendingConnections);
    connect(&server_, &QTcpServer::acceptError, this, &Winsock::onAcceptError);
}

Winsock::~Winsock()
{
    if (connection_) {
        connection_->disconnect(this);
        connection_->abort();
    }
    server_.close();
    // Pending and closing sockets are children and are aborted as they go.
}

void Winsock::SetLocalPort(int32_t port)
{
    localPort_ = port;
}

void Winsock::Listen()
{
    if (connection_)
        throw Failure(QStringLiteral("The socket carries a connection; close it before listening"));
    if (server_.isListening())
        throw Failure(QStringLiteral("The socket is already listening on port %1").arg(server_.serverPort()));
    if (localPort_ < 1 || localPort_ > 65535)
        throw Failure(QStringLiteral("The port %1 is not a valid port number (1 to 65535)").arg(localPort_));

    // Requests nobody accepted while we were listening last time are stale.
    dropPendingConnections();

    if (!server_.listen(QHostAddress::Any, static_cast<quint16>(localPort_))) {
        if (server_.serverError() == QAbstractSocket::AddressInUseError)
            throw Failure(QStringLiteral("The port %1 is in use").arg(localPort_));
        throw Failure(QStringLiteral("Cannot listen on port %1: %2").arg(localPort_).arg(server_.errorString()));
    }
}

void Winsock::Accept(int32_t requestId)
{
    const auto found = pending_.find(requestId);
    if (found == pending_.end())
        throw Failure(QStringLiteral("There is no pending connection with request id %1").arg(requestId));
    if (connection_)
        throw Failure(QStringLiteral("The socket already carries a connection; close it before accepting another"));

    // One socket: carrying a connection means nobody else can connect.
    server_.close();

    connection_ = found.value();
    pending_.erase(found);
    dropPendingConnections();
    peerGone_ = false;
    failed_ = false;

    connect(connection_, &QIODevice::readyRead, this, &Winsock::onConnectionReadyRead);
    connect(connection_, &QAbstractSocket::disconnected, this, &Winsock::onConnectionLost);
    connect(connection_, &QAbstractSocket::errorOccurred, this, &Winsock::onConnectionError);

    // The client may have spoken, or even left, before we took it on.
    if (connection_->bytesAvailable() > 0)
        onConnectionReadyRead();
    if (connection_->state() != QAbstractSocket::ConnectedState)
        onConnectionLost();
}

void Winsock::Close()
{
    server_.close();
    releaseConnection();
    peerGone_ = false;
    failed_ = false;
    dataArrivalDue_ = false;
    peerClosedDue_ = false;
}

std::string Winsock::GetData()
{
    if (!connection_)
        return {};
    const qint64 available = connection_->bytesAvailable();
    if (available <= 0)
        return {};
    std::string bytes(static_cast<std::size_t>(available), '\0');
    const qint64 read = connection_->read(bytes.data(), available);
    bytes.resize(static_cast<std::size_t>(std::max<qint64>(read, 0)));
    return bytes;
}

void Winsock::SendData(std::string_view bytes)
{
    if (!connection_)
        throw Failure(QStringLiteral("There is no connection to send on"));
    if (!connectionIsUsable())
        throw Failure(QStringLiteral("The connection is closed"));
    if (bytes.empty())
        return;
    if (connection_->bytesToWrite() > kMaxQueuedBytes)
        throw Failure(QStringLiteral("The client is not reading what was sent"));

    const auto size = static_cast<qint64>(bytes.size());
    if (connection_->write(bytes.data(), size) != size)
        throw Failure(QStringLiteral("Sending failed: %1").arg(connection_->errorString()));
    connection_->flush();
    if (!connectionIsUsable())
        throw Failure(QStringLiteral("The connection was lost while sending"));
}

int Winsock::State() const
{
    if (connection_) {
        if (failed_)
            return Error;
        if (peerGone_ || connection_->state() != QAbstractSocket::ConnectedState)
            return Closing;
        return Connected;
    }
    return server_.isListening() ? Listening : Closed;
}

// Holding runs no event loop, so no timer, socket or window event is handled
// meanwhile. Bytes already queued keep flowing: we wait for the socket to take
// more and flush by hand. A failure noticed while flushing only sets flags;
// the events reach the host later from the event loop (see deliverEvents).
void Winsock::Hold(int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    while (connectionIsUsable() && connection_->bytesToWrite() > 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd writable{static_cast<int>(connection_->socketDescriptor()), POLLOUT, 0};
        const int ready = ::poll(&writable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || !connection_->flush())
            break;
    }
    std::this_thread::sleep_until(deadline);
}

void Winsock::takePendingConnections()
{
    QTcpSocket* taken = server_.nextPendingConnection();
    if (!taken)
        return;
    while (QTcpSocket* extra = server_.nextPendingConnection()) {
        extra->abort();
        extra->deleteLater();
    }
    taken->setParent(this);
    const qint32 requestId = nextRequestId();
    pending_.insert(requestId, taken);
    emit connectionRequest(requestId);
}

void Winsock::onConnectionReadyRead()
{
    dataArrivalDue_ = true;
    scheduleDelivery();
}

void Winsock::onConnectionLost()
{
    if (peerGone_)
        return;
    peerGone_ = true;
    peerClosedDue_ = true;
    scheduleDelivery();
}

void Winsock::onConnectionError()
{
    const QAbstractSocket::SocketError socketError = connection_->error();
    // A client that closes or resets its end has simply left.
    if (socketError != QAbstractSocket::RemoteHostClosedError) {
        failed_ = true;
        errorsDue_.append({WinsockErrorNumber(socketError), connection_->errorString()});
        scheduleDelivery();
    }
    if (socketError == QAbstractSocket::RemoteHostClosedError
        || connection_->state() == QAbstractSocket::UnconnectedState) {
        onConnectionLost();
    }
}

void Winsock::onAcceptError(QAbstractSocket::SocketError socketError)
{
    errorsDue_.append({WinsockErrorNumber(socketError), server_.errorString()});
    scheduleDelivery();
}

// Socket events are delivered from a queued call so that they never reach
// the host from inside SendData, Hold or Accept, i.e. in the middle of the
// host's own handling of a request.
void Winsock::scheduleDelivery()
{
    if (deliveryScheduled_)
        return;
    deliveryScheduled_ = true;
    QMetaObject::invokeMethod(this, &Winsock::deliverEvents, Qt::QueuedConnection);
}

void Winsock::deliverEvents()
{
    deliveryScheduled_ = false;
    // Each flag is cleared before its signal goes out: the host may close the
    // socket or run a nested event loop from its handler.
    if (std::exchange(dataArrivalDue_, false) && connection_ && connection_->bytesAvailable() > 0)
        emit dataArrival();
    while (!errorsDue_.isEmpty()) {
        const ErrorEvent event = errorsDue_.takeFirst();
        emit error(event.number, event.description);
    }
    if (std::exchange(peerClosedDue_, false))
        emit peerClosed();
}

void Winsock::dropPendingConnections()
{
    for (QTcpSocket* socket : std::as_const(pending_)) {
        socket->abort();
        socket->deleteLater();
    }
    pending_.clear();
}

void Winsock::releaseConnection()
{
    QTcpSocket* socket = std::exchange(connection_, nullptr);
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
    return connection_ && !peerGone_ && !failed_ && connection_->state() == QAbstractSocket::ConnectedState;
}

qint32 Winsock::nextRequestId()
{
    lastRequestId_ = lastRequestId_ == std::numeric_limits<qint32>::max() ? 1 : lastRequestId_ + 1;
    return lastRequestId_;
}

}  // namespace tallowcrest
