#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "support/spin.h"

namespace tallowcrest::testing {

// A plain POSIX TCP client for tests that run the server in the same thread:
// every wait spins the Qt event loop so the server keeps working meanwhile.
class TestClient {
public:
    TestClient() = default;
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;
    ~TestClient();

    // Connects to 127.0.0.1:port. Returns false and keeps errno when refused.
    bool Connect(uint16_t port);
    void Send(std::string_view bytes);
    // Everything received so far (spinning the event loop for at least
    // quietMs, until no byte came for that long).
    std::string ReceiveQuiet(int quietMs = 300);
    // Receives until the bytes received so far satisfy done, or the timeout.
    std::string ReceiveUntil(const std::function<bool(const std::string&)>& done, int timeoutMs = 10000);
    std::string ReceiveUntilSuffix(std::string_view suffix, int timeoutMs = 10000);
    // Closes at once with a reset instead of an orderly close.
    void Reset();
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // True when the server has closed our connection.
    bool PeerClosed() const { return peerClosed_; }

private:
    bool ReadAvailable(std::string& into);

    int fd_ = -1;
    bool peerClosed_ = false;
};

// A port a server can listen on now, outside the range outgoing connections
// take their ports from.
uint16_t FreePort();

}  // namespace tallowcrest::testing
