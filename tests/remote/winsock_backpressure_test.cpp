#include "remote/winsock.h"
#include "support/test_client.h"

#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {

TEST(WinsockBackpressure, AClientThatNeverReadsCannotMakeTheServerQueueWithoutBound)
{
    Winsock socket;
    QObject::connect(&socket, &Winsock::connectionRequest, &socket, [&](qint32 id) {
        socket.Close();
        socket.Accept(id);
    });
    socket.SetLocalPort(FreePort());
    socket.Listen();
    TestClient client;  // connects and never reads
    ASSERT_TRUE(client.Connect(static_cast<uint16_t>(socket.LocalPort())));
    SpinUntil([&] { return socket.State() == ISocket::Connected; }, 5000);
    ASSERT_EQ(socket.State(), ISocket::Connected);

    const std::string megabyte(1 << 20, 'x');
    int sent = 0;
    EXPECT_THROW(
        for (; sent < 400; ++sent) socket.SendData(megabyte), std::runtime_error);
    EXPECT_GE(sent, 128);
    EXPECT_LT(sent, 200);
    EXPECT_EQ(socket.State(), ISocket::Connected) << "the client keeps its connection";
}

}  // namespace
}  // namespace tallowcrest::testing
