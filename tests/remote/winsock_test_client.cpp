#include "remote/winsock_test_client.h"

#include "support/event_loop_wait.h"

#include <QTcpServer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tallowcrest {

int FreePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::Any, 0))
        throw std::runtime_error("no free port");
    return probe.serverPort();
}

RawTcpClient::RawTcpClient(const char* address, int port)
{
    sockaddr_storage peer{};
    socklen_t length = 0;
    if (std::strchr(address, ':')) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&peer);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET6, address, &v6->sin6_addr);
        length = sizeof(*v6);
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&peer);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, address, &v4->sin_addr);
        length = sizeof(*v4);
    }
    fd_ = ::socket(peer.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        connectErrno_ = errno;
        return;
    }
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&peer), length) != 0)
        connectErrno_ = errno;
}

RawTcpClient::~RawTcpClient()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void RawTcpClient::Send(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error(std::string("send failed: ") + std::strerror(errno));
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

void RawTcpClient::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void RawTcpClient::Reset()
{
    if (fd_ < 0)
        return;
    const linger abortive{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
    Close();
}

void RawTcpClient::Pump()
{
    if (fd_ < 0 || ended_)
        return;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::recv(fd_, chunk, sizeof(chunk), MSG_DONTWAIT);
        if (got > 0) {
            received_.append(chunk, static_cast<std::size_t>(got));
            continue;
        }
        if (got == 0) {
            ended_ = true;
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            ended_ = true;
            wasReset_ = errno == ECONNRESET;
        }
        return;
    }
}

bool RawTcpClient::ReceiveAtLeast(std::size_t count, int timeoutMs)
{
    return SpinUntil([&] {
        Pump();
        return received_.size() >= count || ended_;
    }, timeoutMs) && received_.size() >= count;
}

bool RawTcpClient::WaitForEnd(int timeoutMs)
{
    return SpinUntil([&] {
        Pump();
        return ended_;
    }, timeoutMs);
}

void RawTcpClient::ReadBlocking(std::size_t count, int timeoutMs)
{
    while (received_.size() < count && !ended_) {
        pollfd readable{fd_, POLLIN, 0};
        const int ready = ::poll(&readable, 1, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return;
        Pump();
    }
}

}  // namespace tallowcrest
