#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tallowcrest::testing {

// A plain POSIX TCP client for the protocol, byte for byte. Every wait runs
// the Qt event loop too, so the server may live in this thread.
class WireClient {
public:
    ~WireClient() { close(); }
    // Connects to 127.0.0.1:port, retrying a refusal for retryMs; false with errno set.
    bool connect(uint16_t port, int retryMs = 0);
    bool send(std::string_view bytes);
    // What arrives until nothing more came for quietMs.
    std::string receiveQuiet(int quietMs = 300);
    // What arrives until done holds for it, the peer closes or timeoutMs pass.
    std::string receiveUntil(const std::function<bool(const std::string&)>& done, int timeoutMs = 10000);
    // What arrives until it is as long as size.
    std::string receive(std::size_t size) { return receiveUntil([=](const std::string& s) { return s.size() >= size; }); }
    // Closes with a reset instead of an orderly close.
    void reset();
    void close();
    void shutdownWrite();
    bool peerClosed() const { return m_peerClosed; }

private:
    bool readSome(std::string& into);

    int m_fd = -1;
    bool m_peerClosed = false;
};

// A free port below the range outgoing connections take theirs from (one of
// those can linger in TIME_WAIT).
uint16_t freePort();

}  // namespace tallowcrest::testing
