#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

namespace tallowcrest {

// The socket's state, numbered as the protocol's hosts have always counted
// them: closed and listening are the two the server tests.
enum class SocketState : int {
    Closed = 0,
    Listening = 2,
    ConnectionPending = 3,
    Connected = 7,
    Closing = 8,
    Error = 9,
};

// What the server needs of its one TCP socket: it first listens, then carries
// the one accepted connection.
//
// Events are always delivered from the event loop, never from inside one of
// the calls below, so a host is not re-entered in the middle of a request:
//   connectionRequest(id)  a client asks to connect while listening;
//                          Accept(id) takes it on.
//   dataArrival()          GetData() has bytes.
//   peerClosed()           the connection is gone (the client closed or reset
//                          it, or it failed); once per connection. The host
//                          calls Close() then.
//   error(number, text)    with a Winsock error number. A client closing or
//                          resetting the connection is never an error.
class ISocket : public QObject {
    Q_OBJECT

public:

    using QObject::QObject;
    ~ISocket() override = default;

    virtual void SetLocalPort(int32_t port) = 0;
    // Throws std::runtime_error (with the reason) when listening cannot start.
    virtual void Listen() = 0;
    // Takes on the pending connection with that id; throws when it is gone.
    virtual void Accept(int32_t requestId) = 0;
    // Closes whether listening or connected.
    virtual void Close() = 0;
    // Every byte received and not yet read; removes them from the buffer.
    virtual std::string GetData() = 0;
    // Queues the bytes unchanged; they leave in the order of the calls. A short
    // send starts pushing at once; the pieces of a long transfer may wait to
    // be joined, at the latest until the next short send, hold() or the
    // return to the event loop.
    // Throws std::runtime_error when there is no connection to send on.
    virtual void SendData(std::string_view bytes) = 0;
    virtual SocketState State() const = 0;
    // Holds the calling thread for ms milliseconds, handling no events, while
    // still pushing bytes already queued to the peer.
    virtual void hold(int ms) = 0;

signals:
    void connectionRequest(qint32 requestId);
    void dataArrival();
    void peerClosed();
    void error(int number, const QString& description);
};

}  // namespace tallowcrest
