#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tallowcrest::testing {

// A plain POSIX TCP client for the protocol, byte for byte. Every wait polls
// in short steps and runs the Qt event loop between them, so it serves a
// server in the same thread as well as one in another process.
class WireClient {
public:
    WireClient() = default;
    WireClient(const WireClient&) = delete;
    WireClient& operator=(const WireClient&) = delete;
    ~WireClient();

    // Connects to 127.0.0.1:port, retrying a refusal until retryMs pass.
    // Returns false with errno set when it cannot.
    bool connect(uint16_t port, int retryMs = 0);
    // Sends all bytes; false when the connection is gone.
    bool send(std::string_view bytes);
    // What arrives until nothing more came for quietMs.
    std::string receiveQuiet(int quietMs = 300);
    // What arrives until done holds for it, the peer closes or timeoutMs pass.
    std::string receiveUntil(const std::function<bool(const std::string&)>& done, int timeoutMs = 10000);
    std::string receiveUntilSuffix(std::string_view suffix, int timeoutMs = 10000);
    // Closes at once with a reset instead of an orderly close.
    void reset();
    void close();
    // Tells the peer no more requests come; reading goes on.
    void shutdownWrite();
    bool peerClosed() const { return m_peerClosed; }

private:
    bool readSome(std::string& into, int waitMs);

    int m_fd = -1;
    bool m_peerClosed = false;
};

// A port a server can listen on now, below the range outgoing connections
// take their ports from (one of those can linger in TIME_WAIT).
uint16_t freePort();

}  // namespace tallowcrest::testing
