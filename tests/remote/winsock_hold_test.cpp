#include "remote/winsock_test_fixture.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

#include <atomic>
#include <thread>

namespace tallowcrest::testing {
namespace {

qint64 HeldMs(Winsock& socket, int ms)
{
    QElapsedTimer clock;
    clock.start();
    socket.Hold(ms);
    return clock.elapsed();
}

TEST_F(WinsockTest, HoldTakesItsTimeAndHandlesNoEventMeanwhile)
{
    StartListening();
    TestClient client;
    Serve(client);
    client.Send("03");
    bool timerFired = false;
    QTimer::singleShot(0, &socket, [&] { timerFired = true; });

    EXPECT_GE(HeldMs(socket, 200), 190);
    EXPECT_FALSE(timerFired);
    EXPECT_EQ(events, std::vector<std::string>{"request"}) << "no socket event inside the hold";
    ASSERT_TRUE(SpinUntil([&] { return timerFired && received == "03"; }));
    socket.Hold(-5);
}

// The server sends a track list in 2048-byte pieces between "START" and "END"
// and then holds; more than the system buffers take at once, so the hold
// itself must push the rest to a client that reads only once we hold.
TEST_F(WinsockTest, HoldPushesMoreThanTheSystemBuffersTakeAtOnce)
{
    StartListening();
    const std::string list = Payload(12 * 1024 * 1024);
    const std::string expected = "START" + list + "END";
    std::atomic<bool> holding{false}, readerDone{false};
    std::string got;
    std::thread reader([&] {
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port);
        client.waitForConnected(5000);
        while (!holding)
            std::this_thread::yield();
        while (got.size() < expected.size() && client.waitForReadyRead(10000))
            got += client.readAll().toStdString();
        readerDone = true;
    });
    const bool served = SpinUntil([&] { return socket.State() == ISocket::Connected; });
    if (served) {
        socket.SendData("START");
        for (std::size_t offset = 0; offset < list.size(); offset += 2048)
            socket.SendData(std::string_view(list).substr(offset, 2048));
        socket.SendData("END");
    }
    holding = true;
    // Long enough for a loaded machine (or a sanitizer build) to move 12 MiB
    // through loopback; only a Hold that pushed nothing would miss it.
    socket.Hold(2000);
    const bool arrivedDuringHold = readerDone;
    reader.join();

    ASSERT_TRUE(served);
    EXPECT_TRUE(arrivedDuringHold);
    EXPECT_TRUE(got == expected) << got.size() << " of " << expected.size() << " bytes";
}

TEST_F(WinsockTest, HoldEndsInTimeWhenTheClientDoesNotReadAndNothingIsLost)
{
    StartListening();
    TestClient client;
    Serve(client);
    const std::string bytes = Payload(32 * 1024 * 1024);
    socket.SendData(bytes);

    const qint64 held = HeldMs(socket, 200);
    EXPECT_GE(held, 190);
    EXPECT_LT(held, 2000);
    const std::string got = client.ReceiveUntil([&](const std::string& s) { return s.size() >= bytes.size(); }, 30000);
    EXPECT_TRUE(got == bytes) << got.size() << " of " << bytes.size() << " bytes";
    EXPECT_EQ(socket.State(), ISocket::Connected);
}

TEST_F(WinsockTest, ResetFoundWhileHoldingReachesTheHostAfterwardsOnce)
{
    StartListening();
    TestClient client;
    Serve(client);
    // More than the system buffers take, so the hold still has bytes to push.
    socket.SendData(Payload(32 * 1024 * 1024));
    client.Reset();

    socket.Hold(200);
    EXPECT_EQ(peerCloses, 0) << "the close must not reach the host inside the hold";
    EXPECT_EQ(socket.State(), ISocket::Closing) << "pushing bytes during the hold finds the reset";
    EXPECT_THROW(socket.SendData("END"), std::runtime_error);

    ASSERT_TRUE(SpinUntil([&] { return peerCloses == 1; }));
    SpinFor(100);
    EXPECT_EQ(peerCloses, 1);
    EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace tallowcrest::testing
