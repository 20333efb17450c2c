#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tallowcrest {

// A port that was free a moment ago, for a test to listen on.
int FreePort();

// A plain blocking POSIX TCP client, so that tests meet the server the way a
// real remote does: connection refusals, resets and raw bytes included.
class RawTcpClient {
public:
    // Connects at once; "::1" connects over IPv6, anything else is IPv4.
    RawTcpClient(const char* address, int port);
    ~RawTcpClient();
    RawTcpClient(const RawTcpClient&) = delete;
    RawTcpClient& operator=(const RawTcpClient&) = delete;

    bool Connected() const { return fd_ >= 0 && connectErrno_ == 0; }
    int ConnectErrno() const { return connectErrno_; }
    int Descriptor() const { return fd_; }

    void Send(std::string_view bytes);
    // Orderly close (FIN).
    void Close();
    // Abortive close: SO_LINGER 0 makes the close send a reset.
    void Reset();

    // Takes in whatever has arrived, without waiting.
    void Pump();
    // Run the event loop until the condition holds, pumping meanwhile.
    bool ReceiveAtLeast(std::size_t count, int timeoutMs = 5000);
    bool WaitForEnd(int timeoutMs = 5000);

    const std::string& Received() const { return received_; }
    bool Ended() const { return ended_; }
    bool WasReset() const { return wasReset_; }

    // Blocking read on the calling thread (for use off the main thread while
    // the main thread is held): reads until count bytes in total have arrived,
    // the stream ends or timeoutMs passes without data.
    void ReadBlocking(std::size_t count, int timeoutMs);

private:
    int fd_ = -1;
    int connectErrno_ = 0;
    std::string received_;
    bool ended_ = false;
    bool wasReset_ = false;
};

}  // namespace tallowcrest
