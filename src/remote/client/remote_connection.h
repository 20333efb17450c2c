#pragma once

#include "remote/client/client_options.h"

#include <QByteArray>
#include <QString>
#include <QTcpSocket>

namespace tallowcrest {

// One blocking connection to the server. Every wait is bounded by its caller.
class RemoteConnection {
public:
    explicit RemoteConnection(const ClientOptions& options);

    bool connectToServer();
    // Sends one request in one write and waits until it has left.
    bool send(const QByteArray& request);
    // The next bytes to arrive within waitMs; empty on time-out or when the
    // server has closed the connection (see isClosed()).
    QByteArray waitForBytes(int waitMs);
    // Everything that keeps arriving until quietMs pass without a byte.
    QByteArray readUntilQuiet(int quietMs);
    bool isClosed() const;
    void close();

    QString address() const;
    // Why the last operation failed, for the message on stderr.
    QString errorMessage() const { return m_error; }

private:
    const ClientOptions& m_options;
    QTcpSocket m_socket;
    QString m_error;
};

}  // namespace tallowcrest
