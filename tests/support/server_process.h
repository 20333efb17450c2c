#pragma once

#include <QTemporaryDir>

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace tallowcrest::testing {

// The real server program, started as a user would have it: its own home,
// config and runtime folders, a settings file naming the media folder and a
// free port, no display (offscreen). The constructor returns once the port
// listens (after the splash); the destructor ends the process.
class ServerProcess {
public:
    explicit ServerProcess(const std::string& mediaFolder);
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess();

    // Empty when the server listens; otherwise why it does not.
    const std::string& startFailure() const { return m_startFailure; }
    uint16_t port() const { return m_port; }
    bool running() const;
    // The last few KiB the server printed, for failure messages.
    std::string output() const;
    int openDescriptorCount() const;
    // Resident memory in KiB (VmRSS), or -1 when the process is gone.
    long residentKiB() const;

private:
    QTemporaryDir m_home;
    std::string m_startFailure;
    pid_t m_pid = -1;
    uint16_t m_port = 0;
    mutable bool m_ended = false;
};

// True when something listens on TCP port (IPv4 or IPv6, any address).
bool portListens(uint16_t port);

}  // namespace tallowcrest::testing
