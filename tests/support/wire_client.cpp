#include "support/wire_client.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <random>

namespace tallowcrest::testing {

namespace {

constexpr int kStepMs = 5;

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

WireClient::~WireClient() { close(); }

bool WireClient::connect(uint16_t port, int retryMs)
{
    close();
    m_peerClosed = false;
    const QDeadlineTimer deadline(retryMs);
    const sockaddr_in address = loopback(port);
    for (;;) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return true;
        const int error = errno;
        close();
        if (error != ECONNREFUSED || deadline.hasExpired()) {
            errno = error;
            return false;
        }
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, kStepMs);
        QThread::msleep(1);
    }
}

bool WireClient::send(std::string_view bytes)
{
    while (m_fd >= 0 && !bytes.empty()) {
        const ssize_t sent = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return bytes.empty();
}

bool WireClient::readSome(std::string& into, int waitMs)
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents, kStepMs);
    pollfd readable{m_fd, POLLIN, 0};
    if (m_fd < 0 || ::poll(&readable, 1, waitMs) <= 0)
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
    QDeadlineTimer quiet(quietMs);
    while (!quiet.hasExpired() && !m_peerClosed) {
        if (readSome(received, kStepMs))
            quiet.setRemainingTime(quietMs);
    }
    return received;
}

std::string WireClient::receiveUntil(const std::function<bool(const std::string&)>& done, int timeoutMs)
{
    std::string received;
    const QDeadlineTimer deadline(timeoutMs);
    while (!done(received) && !deadline.hasExpired() && !m_peerClosed)
        readSome(received, kStepMs);
    return received;
}

std::string WireClient::receiveUntilSuffix(std::string_view suffix, int timeoutMs)
{
    return receiveUntil([suffix](const std::string& s) { return s.ends_with(suffix); }, timeoutMs);
}

void WireClient::reset()
{
    if (m_fd < 0)
        return;
    linger hard{1, 0};
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
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    int lowestEphemeral = 32768;
    range >> lowestEphemeral;
    static std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> pick(10000, lowestEphemeral - 1);
    for (;;) {
        const auto port = static_cast<uint16_t>(pick(random));
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address = loopback(port);
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (bound)
            return port;
    }
}

}  // namespace tallowcrest::testing
