#include "remote/client/remote_connection.h"

#include <QDeadlineTimer>
#include <QThread>

namespace tallowcrest {

namespace {

constexpr int kRefusedRetryMs = 2000;
constexpr int kRefusedPauseMs = 20;

}  // namespace

RemoteConnection::RemoteConnection(const ClientOptions& options)
    : m_options(options)
{
}

QString RemoteConnection::address() const
{
    return QStringLiteral("%1:%2").arg(QString::fromLocal8Bit(m_options.host)).arg(m_options.port);
}

bool RemoteConnection::connectToServer()
{
    // The server listens again only once it has handled the previous
    // client's leaving, which can take the pause after a list: a refusal is
    // tried again for a while before it counts.
    const QDeadlineTimer refusalsEnd(kRefusedRetryMs);
    for (;;) {
        m_socket.connectToHost(QString::fromLocal8Bit(m_options.host), m_options.port);
        if (m_socket.waitForConnected(m_options.timeoutMs))
            return true;
        if (m_socket.error() != QAbstractSocket::ConnectionRefusedError || refusalsEnd.hasExpired())
            break;
        m_socket.abort();
        QThread::msleep(kRefusedPauseMs);
    }
    const QString reason = m_socket.error() == QAbstractSocket::SocketTimeoutError
        ? QStringLiteral("no answer within %1 s").arg(QString::fromLocal8Bit(m_options.timeoutText))
        : m_socket.errorString();
    m_error = QStringLiteral("cannot connect to %1: %2").arg(address(), reason);
    m_socket.abort();
    return false;
}

bool RemoteConnection::send(const QByteArray& request)
{
    if (m_socket.write(request) != request.size()) {
        m_error = QStringLiteral("cannot send to %1: %2").arg(address(), m_socket.errorString());
        return false;
    }
    while (m_socket.bytesToWrite() > 0) {
        if (!m_socket.waitForBytesWritten(m_options.timeoutMs)) {
            m_error = QStringLiteral("cannot send to %1: %2").arg(address(), m_socket.errorString());
            return false;
        }
    }
    return true;
}

QByteArray RemoteConnection::waitForBytes(int waitMs)
{
    if (m_socket.bytesAvailable() == 0 && m_socket.state() == QAbstractSocket::ConnectedState)
        m_socket.waitForReadyRead(waitMs);
    return m_socket.readAll();
}

QByteArray RemoteConnection::readUntilQuiet(int quietMs)
{
    QByteArray collected;
    while (true) {
        const QByteArray more = waitForBytes(quietMs);
        if (more.isEmpty())
            return collected;
        collected += more;
    }
}

bool RemoteConnection::isClosed() const
{
    return m_socket.state() != QAbstractSocket::ConnectedState && m_socket.bytesAvailable() == 0;
}

void RemoteConnection::close()
{
    m_socket.disconnectFromHost();
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.waitForDisconnected(1000);
}

}  // namespace tallowcrest
