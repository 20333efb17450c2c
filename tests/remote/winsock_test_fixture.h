#pragma once

#include "remote/winsock.h"
#include "support/test_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace tallowcrest::testing {

// A Winsock on a free port with a host that behaves like the server's main
// window: on a request it closes the socket and accepts; on data arrival it
// reads everything. Every event is recorded in order.
class WinsockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QObject::connect(&socket, &Winsock::connectionRequest, &socket, [this](qint32 requestId) {
            events.push_back("request");
            requests.push_back(requestId);
            states.push_back(socket.State());
            socket.Close();
            states.push_back(socket.State());
            socket.Accept(requestId);
            states.push_back(socket.State());
        });
        QObject::connect(&socket, &Winsock::dataArrival, &socket, [this] {
            events.push_back("data");
            received += socket.GetData();
        });
        QObject::connect(&socket, &Winsock::peerClosed, &socket, [this] {
            events.push_back("close");
            ++peerCloses;
        });
        QObject::connect(&socket, &Winsock::error, &socket, [this](int number, const QString& text) {
            errors.push_back(std::to_string(number) + " " + text.toStdString());
        });
    }

    void StartListening()
    {
        port = FreePort();
        socket.SetLocalPort(port);
        socket.Listen();
    }

    void Serve(TestClient& client)
    {
        const std::size_t before = requests.size();
        ASSERT_TRUE(client.Connect(port)) << std::strerror(errno);
        ASSERT_TRUE(SpinUntil([&] { return requests.size() > before; }));
        ASSERT_EQ(socket.State(), ISocket::Connected);
    }

    Winsock socket;
    uint16_t port = 0;
    std::vector<std::string> events;
    std::vector<qint32> requests;
    std::vector<int> states;  // before Close, after Close, after Accept
    std::string received;
    int peerCloses = 0;
    std::vector<std::string> errors;
};

// Bytes whose pattern does not repeat every 2048, so a lost or shifted piece shows.
inline std::string Payload(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 131 % 251);
    return bytes;
}

}  // namespace tallowcrest::testing
