#include "support/wire_client.h"

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
#include <random>

namespace tallowcrest::testing {

namespace {

constexpr int kStepMs = 5;

void runEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents, kStepMs);
}

}  // namespace

bool WireClient::connect(uint16_t port, int retryMs)
{
    close();
    m_peerClosed = false;
    sockaddr_in to{.sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    for (const QDeadlineTimer deadline(retryMs);; QThread::msleep(1), runEvents()) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
            return true;
        const int error = errno;
        close();
        errno = error;
        if (error != ECONNREFUSED || deadline.hasExpired())
            return false;
    }
}

bool WireClient::send(std::string_view bytes)
{
    while (m_fd >= 0 && !bytes.empty()) {
        const ssize_t sent = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0 && errno != EINTR)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(std::max<ssize_t>(sent, 0)));
    }
    return bytes.empty();
}

bool WireClient::readSome(std::string& into)
{
    runEvents();
    pollfd readable{m_fd, POLLIN, 0};
    if (m_fd < 0 || ::poll(&readable, 1, kStepMs) <= 0)
        return false;
    char chunk[65536];
    const ssize_t got = ::recv(m_fd, chunk, sizeof chunk, 0);
    if (got <= 0) {
        m_peerClosed = got == 0 || errno != EINTR;
        return false;
    }
    into.append(chunk, static_cast<std::size_t>(got));
    return true;
}

std::string WireClient::receiveQuiet(int quietMs)
{
    std::string received;
    for (QDeadlineTimer quiet(quietMs); !quiet.hasExpired() && !m_peerClosed;)
        if (readSome(received))
            quiet.setRemainingTime(quietMs);
    return received;
}

std::string WireClient::receiveUntil(const std::function<bool(const std::string&)>& done, int timeoutMs)
{
    std::string received;
    for (const QDeadlineTimer deadline(timeoutMs); !done(received) && !deadline.hasExpired() && !m_peerClosed;)
        readSome(received);
    return received;
}

void WireClient::reset()
{
    const linger hard{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close();
}

void WireClient::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void WireClient::shutdownWrite()
{
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_WR);
}

uint16_t freePort()
{
    int lowestEphemeral = 32768;
    std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> lowestEphemeral;
    static std::mt19937 random(std::random_device{}());
    for (std::uniform_int_distribution<int> pick(10000, lowestEphemeral - 1);;)
        if (const auto port = static_cast<uint16_t>(pick(random)); QTcpServer().listen(QHostAddress::AnyIPv4, port))
            return port;
}

}  // namespace tallowcrest::testing
