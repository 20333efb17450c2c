#pragma once
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QThread>
#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>
#include <cerrno>
#include <fstream>
#include <functional>
#include <random>
#include <string>

namespace tallowcrest::testing {
// A plain POSIX TCP client for the protocol, byte for byte. Every wait runs Qt's events too: the server may live here.
class WireClient {
public:
    ~WireClient() { close(); }
    // Connects to 127.0.0.1:port, retrying a refusal for retryMs; false with errno set.
    bool connect(uint16_t port, int retryMs = 0)
    {
        close();
        m_peerClosed = false;
        const sockaddr_in to{.sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
        for (const QDeadlineTimer deadline(retryMs);; QThread::msleep(1), runEvents()) {
            m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const int on = 1;
            ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
                return true;
            const int error = errno;
            close();
            if ((errno = error) != ECONNREFUSED || deadline.hasExpired())
                return false;
        }
    }
    bool send(std::string_view bytes)
    {
        for (ssize_t sent = 0; m_fd >= 0 && !bytes.empty(); bytes.remove_prefix(std::max<ssize_t>(sent, 0)))
            if ((sent = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL)) <= 0 && errno != EINTR)
                return false;
        return bytes.empty();
    }
    // What arrives until done holds for it, the peer closes or timeoutMs pass.
    std::string receiveUntil(const std::function<bool(const std::string&)>& done, int timeoutMs = 10000)
    {
        std::string received;
        for (const QDeadlineTimer deadline(timeoutMs); !done(received) && !deadline.hasExpired() && !m_peerClosed;)
            readSome(received);
        return received;
    }
    // What arrives until it is as long as size.
    std::string receive(std::size_t size) { return receiveUntil([=](const std::string& s) { return s.size() >= size; }); }
    // Closes with a reset instead of an orderly close.
    void reset()
    {
        const linger hard{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        close();
    }
    void close() { m_fd >= 0 ? void(::close(std::exchange(m_fd, -1))) : void(); }
    void shutdownWrite() { m_fd >= 0 ? void(::shutdown(m_fd, SHUT_WR)) : void(); }
    bool peerClosed() const { return m_peerClosed; }
private:
    static constexpr int kStepMs = 5;
    static void runEvents() { QCoreApplication::instance() ? QCoreApplication::processEvents(QEventLoop::AllEvents, kStepMs) : void(); }
    bool readSome(std::string& into)
    {
        runEvents();
        pollfd readable{m_fd, POLLIN, 0};
        if (m_fd < 0 || ::poll(&readable, 1, kStepMs) <= 0)
            return false;
        char chunk[65536];
        const ssize_t got = ::recv(m_fd, chunk, sizeof chunk, 0);
        m_peerClosed |= got == 0 || (got < 0 && errno != EINTR);
        return got > 0 && (into.append(chunk, static_cast<std::size_t>(got)), true);
    }
    int m_fd = -1;
    bool m_peerClosed = false;
};
// A free port below the range outgoing connections take theirs from (one of those can linger in TIME_WAIT).
inline uint16_t freePort()
{
    int lowestEphemeral = 32768;
    std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> lowestEphemeral;
    static std::mt19937 random(std::random_device{}());
    for (std::uniform_int_distribution<int> pick(10000, lowestEphemeral - 1);;)
        if (const auto port = static_cast<uint16_t>(pick(random)); QTcpServer().listen(QHostAddress::AnyIPv4, port))
            return port;
}
}  // namespace tallowcrest::testing
