#pragma once

#include "remote/winsock.h"
#include "remote/winsock_test_client.h"
#include "support/event_loop_wait.h"

#include <gtest/gtest.h>

#include <QString>

#include <memory>
#include <string>
#include <vector>

namespace tallowcrest {

// A Winsock on a free port with a host that behaves like the server's main
// window: on a connection request it closes the socket and accepts; on data
// arrival it reads everything. Every event is recorded in order.
class WinsockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QObject::connect(&socket, &Winsock::connectionRequest, &socket, [this](qint32 requestId) {
            events.push_back("request");
            requests.push_back(requestId);
            if (!acceptsLikeTheHost)
                return;
            stateBeforeClose = socket.State();
            socket.Close();
            stateAfterClose = socket.State();
            socket.Accept(requestId);
            stateAfterAccept = socket.State();
        });
        QObject::connect(&socket, &Winsock::dataArrival, &socket, [this] {
            events.push_back("data");
            received += socket.GetData();
        });
        QObject::connect(&socket, &Winsock::peerClosed, &socket, [this] {
            events.push_back("close");
            ++peerCloses;
        });
        QObject::connect(&socket, &Winsock::error, &socket, [this](int number, const QString& description) {
            events.push_back("error");
            errors.push_back(std::to_string(number) + " " + description.toStdString());
        });
    }

    void StartListening()
    {
        port = FreePort();
        socket.SetLocalPort(port);
        socket.Listen();
    }

    // A client that the host has taken on, the socket being connected.
    std::unique_ptr<RawTcpClient> ServedClient(const char* address = "127.0.0.1")
    {
        const std::size_t before = requests.size();
        auto client = std::make_unique<RawTcpClient>(address, port);
        EXPECT_TRUE(client->Connected()) << "connect errno " << client->ConnectErrno();
        EXPECT_TRUE(SpinUntil([&] { return requests.size() > before; }));
        EXPECT_EQ(socket.State(), ISocket::Connected);
        return client;
    }

    // Lets the event loop run a while to show that something does NOT happen.
    static void RunEventsFor(int ms) { SpinUntil([] { return false; }, ms); }

    Winsock socket;
    int port = 0;
    bool acceptsLikeTheHost = true;
    int stateBeforeClose = -1;
    int stateAfterClose = -1;
    int stateAfterAccept = -1;

    std::vector<std::string> events;
    std::vector<qint32> requests;
    std::string received;
    int peerCloses = 0;
    std::vector<std::string> errors;
};

inline std::string EveryByteValue()
{
    std::string bytes;
    for (int value = 0; value < 256; ++value)
        bytes.push_back(static_cast<char>(value));
    return bytes;
}

// Recognisable, non-repeating-looking bytes so a lost or shifted piece shows.
inline std::string Payload(std::size_t size)
{
    std::string bytes(size, '\0');
    uint32_t state = 2463534242u;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state);
    }
    return bytes;
}

}  // namespace tallowcrest
