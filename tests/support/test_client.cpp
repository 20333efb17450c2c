#include "support/test_client.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <fstream>
#include <random>
#include <utility>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tallowcrest::testing {

namespace {

void SpinOnce()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace

TestClient::~TestClient() { Close(); }

bool TestClient::Connect(uint16_t port)
{
    Close();
    peerClosed_ = false;
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        errno = error;
        return false;
    }
    return true;
}

void TestClient::Send(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0)
            throw std::runtime_error("test client cannot send");
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
}

bool TestClient::ReadAvailable(std::string& into)
{
    bool got = false;
    char chunk[65536];
    while (fd_ >= 0) {
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            into.append(chunk, static_cast<size_t>(n));
            got = true;
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            peerClosed_ = true;
        break;
    }
    return got;
}

std::string TestClient::ReceiveQuiet(int quietMs)
{
    std::string received;
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < quietMs) {
        SpinOnce();
        if (ReadAvailable(received))
            quiet.restart();
    }
    return received;
}

std::string TestClient::ReceiveUntil(const std::function<bool(const std::string&)>& done, int timeoutMs)
{
    std::string received;
    QElapsedTimer clock;
    clock.start();
    while (!done(received) && clock.elapsed() < timeoutMs && !peerClosed_) {
        SpinOnce();
        ReadAvailable(received);
    }
    return received;
}

std::string TestClient::ReceiveUntilSuffix(std::string_view suffix, int timeoutMs)
{
    return ReceiveUntil([suffix](const std::string& s) { return s.ends_with(suffix); }, timeoutMs);
}

void TestClient::Reset()
{
    if (fd_ < 0)
        return;
    linger hard{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    Close();
}

void TestClient::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

namespace {

// The ports connect() hands out to outgoing sockets. One of them that a
// client of an earlier test left in TIME_WAIT cannot be listened on, even with
// SO_REUSEADDR, for a minute after the soak test's thousands of sessions.
std::pair<int, int> EphemeralPortRange()
{
    std::ifstream file("/proc/sys/net/ipv4/ip_local_port_range");
    int low = 32768;
    int high = 60999;
    file >> low >> high;
    return {low, high};
}

bool CanListenOn(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

uint16_t AnyPortTheKernelPicks()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace

uint16_t FreePort()
{
    // Below the ephemeral range no outgoing connection can take the port
    // between this check and the server's listen.
    constexpr int kLowest = 10000;
    const int highest = EphemeralPortRange().first - 1;
    if (highest - kLowest < 1000)
        return AnyPortTheKernelPicks();
    static std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> pick(kLowest, highest);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<uint16_t>(pick(random));
        if (CanListenOn(port))
            return port;
    }
    return AnyPortTheKernelPicks();
}

}  // namespace tallowcrest::testing
