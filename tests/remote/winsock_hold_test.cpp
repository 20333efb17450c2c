#include "remote/winsock_test_fixture.h"

#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

namespace tallowcrest {
namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST_F(WinsockTest, HoldTakesItsTimeAndHandlesNoEventMeanwhile)
{
    StartListening();
    auto client = ServedClient();
    client->Send("03");
    bool timerFired = false;
    QTimer::singleShot(0, &socket, [&] { timerFired = true; });

    const auto start = Clock::now();
    socket.Hold(200);
    const long long held = MillisecondsSince(start);

    EXPECT_GE(held, 190);
    EXPECT_LT(held, 2000);
    EXPECT_FALSE(timerFired);
    EXPECT_TRUE(events == std::vector<std::string>{"request"}) << "no socket event inside the hold";

    ASSERT_TRUE(SpinUntil([&] { return timerFired && received == "03"; }));
}

TEST_F(WinsockTest, HoldWithoutAnyConnectionStillTakesItsTime)
{
    const auto start = Clock::now();
    socket.Hold(200);
    const long long held = MillisecondsSince(start);
    EXPECT_GE(held, 190);
    EXPECT_LT(held, 2000);

    socket.Hold(0);
    socket.Hold(-5);
}

// Sends a track list of listSize bytes the way the server does, in 2048-byte
// pieces between "START" and "END", then holds; returns whether the client
// had all of it by the time the hold returned.
bool ListArrivesWithinHold(Winsock& socket, RawTcpClient& client, std::size_t listSize, int holdMs)
{
    const std::string list = Payload(listSize);
    const std::string expected = "START" + list + "END";

    // The client starts reading only once we hold, so what the system could
    // not take at once must be pushed out by the hold itself.
    std::atomic<bool> holding{false};
    std::atomic<bool> readerDone{false};
    std::thread reader([&] {
        while (!holding)
            std::this_thread::yield();
        client.ReadBlocking(expected.size(), 10000);
        readerDone = true;
    });

    socket.SendData("START");
    for (std::size_t offset = 0; offset < list.size(); offset += 2048)
        socket.SendData(std::string_view(list).substr(offset, 2048));
    socket.SendData("END");
    holding = true;
    socket.Hold(holdMs);
    const bool arrivedDuringHold = readerDone;

    reader.join();
    EXPECT_TRUE(client.Received() == expected)
        << client.Received().size() << " of " << expected.size() << " bytes, or changed bytes";
    return arrivedDuringHold;
}

TEST_F(WinsockTest, HoldKeepsPushingQueuedBytesToAReadingClient)
{
    StartListening();
    auto client = ServedClient();
    EXPECT_TRUE(ListArrivesWithinHold(socket, *client, 2 * 1024 * 1024, 200));
}

TEST_F(WinsockTest, HoldPushesMoreThanTheSystemBuffersTakeAtOnce)
{
    StartListening();
    auto client = ServedClient();
    EXPECT_TRUE(ListArrivesWithinHold(socket, *client, 12 * 1024 * 1024, 500));
}

TEST_F(WinsockTest, HoldEndsInTimeWhenTheClientDoesNotReadAndNothingIsLost)
{
    StartListening();
    auto client = ServedClient();
    const std::string bytes = Payload(32 * 1024 * 1024);
    socket.SendData(bytes);

    const auto start = Clock::now();
    socket.Hold(200);
    const long long held = MillisecondsSince(start);
    EXPECT_GE(held, 190);
    EXPECT_LT(held, 2000);

    ASSERT_TRUE(client->ReceiveAtLeast(bytes.size(), 30000));
    EXPECT_TRUE(client->Received() == bytes);
    EXPECT_EQ(socket.State(), ISocket::Connected);
}

TEST_F(WinsockTest, ResetFoundWhileHoldingReachesTheHostAfterwardsOnce)
{
    StartListening();
    auto client = ServedClient();
    // More than the system buffers take, so the hold still has bytes to push.
    socket.SendData(Payload(32 * 1024 * 1024));
    client->Reset();

    socket.Hold(200);
    EXPECT_EQ(peerCloses, 0) << "the close must not reach the host inside the hold";
    EXPECT_EQ(socket.State(), ISocket::Closing) << "pushing bytes during the hold finds the reset";
    EXPECT_THROW(socket.SendData("END"), std::runtime_error);

    ASSERT_TRUE(SpinUntil([&] { return peerCloses == 1; }));
    RunEventsFor(100);
    EXPECT_EQ(peerCloses, 1);
    EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace tallowcrest
