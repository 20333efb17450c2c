#pragma once

#include <sys/types.h>

#include <QTemporaryDir>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace tallowcrest::testing {

// The real server program, started as a user would have it: its own home,
// config and runtime folders, a settings file naming the media folder and a
// free port, no display (offscreen) and the GStreamer player. The constructor
// returns once the port listens (after the two-second splash); the destructor
// ends the process.
class ServerProcess {
public:
    explicit ServerProcess(const std::string& mediaFolder);
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess();

    // Empty when the server listens; otherwise why it does not.
    const std::string& StartFailure() const { return startFailure_; }
    pid_t Pid() const { return pid_; }
    uint16_t Port() const { return port_; }
    bool Running() const;
    // The last few KiB the server printed, for failure messages.
    std::string Output() const;
    // Every thread's stack as gdb sees it, when gdb is installed: for the
    // failure message of a server that stopped answering.
    std::string ThreadStacks() const;

    // The kinds of the open file descriptors and how many of each: "socket",
    // "pipe", "anon_inode:[eventfd]", or the path of a file or device.
    std::map<std::string, int> OpenDescriptorKinds() const;
    int OpenDescriptorCount() const;
    // Resident memory in KiB (VmRSS), or -1 when the process is gone.
    long ResidentKiB() const;
    // The most it ever had resident (VmHWM), in KiB.
    long PeakResidentKiB() const;

private:
    long StatusKiB(const std::string& field) const;

    QTemporaryDir home_;
    std::string startFailure_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
    mutable int exitStatus_ = -1;
};

// True when something listens on TCP port (IPv4 or IPv6, any address).
bool PortListens(uint16_t port);

// A blocking TCP client for talking to a server in another process: every
// wait is a poll with a bound, and no Qt event loop runs.
class WireClient {
public:
    WireClient() = default;
    WireClient(const WireClient&) = delete;
    WireClient& operator=(const WireClient&) = delete;
    ~WireClient();

    // Connects to 127.0.0.1:port, retrying while it is refused (the server
    // is between two clients) until timeoutMs pass.
    bool Connect(uint16_t port, int timeoutMs = 10000);
    // Sends all bytes; false when the connection is gone.
    bool Send(std::string_view bytes);
    // Reads exactly count bytes, or fewer when the peer closes or timeoutMs
    // pass first.
    std::string ReadExactly(std::size_t count, int timeoutMs = 10000);
    // Reads until the peer closes (or timeoutMs pass; then *closed is false).
    std::string ReadToEnd(int timeoutMs, bool* closed);
    // Reads whatever arrives until nothing came for quietMs.
    std::string ReadQuiet(int quietMs);
    // No more requests: the server sees the client leave, answers what it
    // still owes and closes its end.
    void ShutdownWrite();
    // Closes at once with a reset instead of an orderly close.
    void Reset();
    void Close();

private:
    // Waits up to timeoutMs for bytes and appends what is there; returns
    // false on end of stream, error or time-out.
    bool ReadSome(std::string& into, int timeoutMs, bool* ended);

    int fd_ = -1;
};

}  // namespace tallowcrest::testing
