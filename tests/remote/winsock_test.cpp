#include "remote/winsock_test_fixture.h"

#include <QTcpServer>

#include <cerrno>
#include <stdexcept>
#include <string>

namespace tallowcrest {
namespace {

std::string ListenFailure(Winsock& socket, int port)
{
    socket.SetLocalPort(port);
    try {
        socket.Listen();
    } catch (const std::runtime_error& failure) {
        return failure.what();
    }
    return "(no failure)";
}

TEST_F(WinsockTest, StateFollowsListenAcceptPeerCloseAndRelisten)
{
    EXPECT_EQ(socket.State(), ISocket::Closed);
    StartListening();
    EXPECT_EQ(socket.State(), ISocket::Listening);

    auto client = ServedClient();
    EXPECT_EQ(stateBeforeClose, ISocket::Listening);
    EXPECT_EQ(stateAfterClose, ISocket::Closed);
    EXPECT_EQ(stateAfterAccept, ISocket::Connected);

    client->Close();
    ASSERT_TRUE(SpinUntil([&] { return peerCloses == 1; }));
    EXPECT_EQ(socket.State(), ISocket::Closing);

    socket.Close();
    EXPECT_EQ(socket.State(), ISocket::Closed);
    socket.Close();
    EXPECT_EQ(socket.State(), ISocket::Closed);
    socket.Listen();
    EXPECT_EQ(socket.State(), ISocket::Listening);
    EXPECT_EQ(socket.LocalPort(), port);
    EXPECT_TRUE(errors.empty());
}

TEST_F(WinsockTest, CarriesEveryByteValueBothWaysUnchanged)
{
    StartListening();
    auto client = ServedClient();
    const std::string bytes = std::string("\0\r\n", 3) + EveryByteValue() + "\r\n" + EveryByteValue();

    client->Send(bytes);
    ASSERT_TRUE(SpinUntil([&] { return received.size() >= bytes.size(); }));
    EXPECT_EQ(received, bytes);
    EXPECT_EQ(socket.GetData(), "") << "GetData must remove what it returned";

    socket.SendData(bytes);
    socket.SendData("END");
    ASSERT_TRUE(client->ReceiveAtLeast(bytes.size() + 3));
    EXPECT_EQ(client->Received(), bytes + "END");
    EXPECT_TRUE(errors.empty());
}

TEST_F(WinsockTest, SuccessiveSendsArriveAsOneStreamInCallOrder)
{
    StartListening();
    auto client = ServedClient();
    const std::string list = Payload(5000);

    socket.SendData("START");
    socket.SendData(std::string_view(list).substr(0, 2048));
    socket.SendData(std::string_view(list).substr(2048, 2048));
    socket.SendData(std::string_view(list).substr(4096));
    socket.SendData("");
    socket.SendData("END");

    const std::string expected = "START" + list + "END";
    ASSERT_TRUE(client->ReceiveAtLeast(expected.size()));
    EXPECT_EQ(client->Received(), expected);
}

TEST_F(WinsockTest, SecondClientIsRefusedWhileOneIsServed)
{
    StartListening();
    auto first = ServedClient();

    RawTcpClient second("127.0.0.1", port);
    EXPECT_FALSE(second.Connected());
    EXPECT_EQ(second.ConnectErrno(), ECONNREFUSED);

    first->Send("02");
    ASSERT_TRUE(SpinUntil([&] { return received == "02"; }));
    socket.SendData("CODE_12");
    ASSERT_TRUE(first->ReceiveAtLeast(7));
    EXPECT_EQ(first->Received(), "CODE_12");
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_EQ(socket.State(), ISocket::Connected);
    EXPECT_TRUE(errors.empty());
}

TEST_F(WinsockTest, OfClientsArrivingTogetherOneIsServedTheOthersAreCut)
{
    StartListening();
    std::vector<std::unique_ptr<RawTcpClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<RawTcpClient>("127.0.0.1", port));
        ASSERT_TRUE(clients.back()->Connected()) << "the system queues them before we accept";
    }

    const auto endedCount = [&] {
        int ended = 0;
        for (auto& client : clients) {
            client->Pump();
            ended += client->Ended() ? 1 : 0;
        }
        return ended;
    };
    ASSERT_TRUE(SpinUntil([&] { return endedCount() == 2; }));
    RunEventsFor(100);
    EXPECT_EQ(endedCount(), 2);
    EXPECT_EQ(requests.size(), 1u);
    ASSERT_EQ(socket.State(), ISocket::Connected);

    RawTcpClient* served = nullptr;
    for (auto& client : clients)
        if (!client->Ended())
            served = client.get();
    served->Send("05");
    ASSERT_TRUE(SpinUntil([&] { return received == "05"; }));
    socket.SendData("ok");
    ASSERT_TRUE(served->ReceiveAtLeast(2));
    EXPECT_EQ(served->Received(), "ok");
    EXPECT_TRUE(errors.empty());
}

TEST_F(WinsockTest, AcceptWithoutClosingFirstStillStopsListening)
{
    acceptsLikeTheHost = false;
    QObject::connect(&socket, &Winsock::connectionRequest, &socket,
                     [this](qint32 requestId) { socket.Accept(requestId); });
    StartListening();
    RawTcpClient first("127.0.0.1", port);
    ASSERT_TRUE(SpinUntil([&] { return socket.State() == ISocket::Connected; }));

    RawTcpClient second("127.0.0.1", port);
    EXPECT_EQ(second.ConnectErrno(), ECONNREFUSED);
}

TEST_F(WinsockTest, ClientClosingIsOneCloseEventAndNoError)
{
    StartListening();
    auto client = ServedClient();
    client->Close();

    ASSERT_TRUE(SpinUntil([&] { return peerCloses == 1; }));
    RunEventsFor(200);
    EXPECT_EQ(peerCloses, 1);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(socket.State(), ISocket::Closing);
    EXPECT_THROW(socket.SendData("CODE_12"), std::runtime_error);
}

TEST_F(WinsockTest, ClientResetIsOneCloseEventAndNoError)
{
    StartListening();
    auto client = ServedClient();
    client->Reset();

    ASSERT_TRUE(SpinUntil([&] { return peerCloses == 1; }));
    RunEventsFor(200);
    EXPECT_EQ(peerCloses, 1);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(socket.State(), ISocket::Closing);
    EXPECT_THROW(socket.SendData("CODE_12"), std::runtime_error);
}

TEST_F(WinsockTest, ResetFoundWhileSendingThrowsThereAndIsOneLaterCloseEvent)
{
    StartListening();
    auto client = ServedClient();
    client->Reset();

    const std::string piece = Payload(1 << 20);
    bool threw = false;
    try {
        for (int i = 0; i < 64; ++i)
            socket.SendData(piece);
    } catch (const std::runtime_error&) {
        threw = true;
    }
    EXPECT_TRUE(threw);
    EXPECT_EQ(peerCloses, 0) << "the close must not reach the host inside its own call";

    ASSERT_TRUE(SpinUntil([&] { return peerCloses == 1; }));
    RunEventsFor(100);
    EXPECT_EQ(peerCloses, 1);
    EXPECT_TRUE(errors.empty());
}

TEST_F(WinsockTest, ClientThatSpeaksAndLeavesBeforeBeingAcceptedIsHeard)
{
    StartListening();
    {
        RawTcpClient client("127.0.0.1", port);
        ASSERT_TRUE(client.Connected());
        client.Send("0203");
    }
    ASSERT_TRUE(SpinUntil([&] { return peerCloses == 1; }));
    EXPECT_EQ(received, "0203");
    EXPECT_EQ(events, (std::vector<std::string>{"request", "data", "close"}));
}

TEST_F(WinsockTest, ListensAgainAtOnceOnTheSamePortAfterTheClientLeft)
{
    StartListening();
    auto first = ServedClient();
    first->Close();
    ASSERT_TRUE(SpinUntil([&] { return peerCloses == 1; }));

    socket.Close();
    ASSERT_NO_THROW(socket.Listen());
    auto second = ServedClient();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0], requests[1]);

    second->Send("00");
    ASSERT_TRUE(SpinUntil([&] { return received == "00"; }));
    socket.SendData("STARTEND");
    ASSERT_TRUE(second->ReceiveAtLeast(8));
    EXPECT_EQ(second->Received(), "STARTEND");
}

TEST_F(WinsockTest, ListensAgainWhileTheOldConnectionLingersInTimeWait)
{
    StartListening();
    auto first = ServedClient();
    // We close first, so our end of the old connection goes to TIME_WAIT.
    socket.Close();
    ASSERT_TRUE(first->WaitForEnd());
    first->Close();

    ASSERT_NO_THROW(socket.Listen());
    auto second = ServedClient();
    socket.SendData("CODE_13True");
    ASSERT_TRUE(second->ReceiveAtLeast(11));
    EXPECT_EQ(second->Received(), "CODE_13True");
}

TEST_F(WinsockTest, ClosingDeliversWhatWasSentAndEndsTheStreamCleanly)
{
    StartListening();
    auto client = ServedClient();
    socket.SendData("CODE_11Song");
    socket.Close();
    EXPECT_EQ(socket.State(), ISocket::Closed);

    ASSERT_TRUE(client->WaitForEnd());
    EXPECT_FALSE(client->WasReset());
    EXPECT_EQ(client->Received(), "CODE_11Song");
    EXPECT_EQ(peerCloses, 0);
}

TEST_F(WinsockTest, ServesAnIpv6Client)
{
    StartListening();
    auto client = ServedClient("::1");
    client->Send("07True");
    ASSERT_TRUE(SpinUntil([&] { return received == "07True"; }));
    socket.SendData("CODE_12");
    ASSERT_TRUE(client->ReceiveAtLeast(7));
    EXPECT_EQ(client->Received(), "CODE_12");
}

TEST_F(WinsockTest, SendDataWithoutAConnectionThrows)
{
    EXPECT_THROW(socket.SendData("CODE_12"), std::runtime_error);
    StartListening();
    EXPECT_THROW(socket.SendData("CODE_12"), std::runtime_error);
    EXPECT_EQ(socket.State(), ISocket::Listening);
    EXPECT_EQ(socket.GetData(), "");
}

TEST_F(WinsockTest, ListenOnAPortInUseSaysSoAndLeavesTheSocketUsable)
{
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::Any, 0));
    const int taken = occupant.serverPort();

    EXPECT_EQ(ListenFailure(socket, taken), "The port " + std::to_string(taken) + " is in use");
    EXPECT_EQ(socket.State(), ISocket::Closed);

    StartListening();
    EXPECT_EQ(socket.State(), ISocket::Listening);
}

TEST_F(WinsockTest, ListenRejectsPortsOutsideTheValidRange)
{
    for (int bad : {0, -1, 65536, 70000}) {
        const std::string reason = ListenFailure(socket, bad);
        EXPECT_NE(reason.find("The port " + std::to_string(bad) + " is not a valid port"), std::string::npos)
            << reason;
        EXPECT_EQ(socket.State(), ISocket::Closed);
    }
}

TEST_F(WinsockTest, ListenAndAcceptRefuseWhatTheStateDoesNotAllow)
{
    EXPECT_THROW(socket.Accept(1), std::runtime_error);
    StartListening();
    EXPECT_THROW(socket.Listen(), std::runtime_error);
    EXPECT_EQ(socket.State(), ISocket::Listening);

    auto client = ServedClient();
    EXPECT_THROW(socket.Accept(requests.front()), std::runtime_error) << "already taken on";
    EXPECT_THROW(socket.Accept(requests.front() + 1), std::runtime_error);
    EXPECT_THROW(socket.Listen(), std::runtime_error);
    EXPECT_EQ(socket.State(), ISocket::Connected);

    client->Send("01");
    ASSERT_TRUE(SpinUntil([&] { return received == "01"; }));
}

TEST(WinsockLifetime, DestroyingTheSocketEndsTheConnectionAndFreesThePort)
{
    const int port = FreePort();
    auto socket = std::make_unique<Winsock>();
    QObject::connect(socket.get(), &Winsock::connectionRequest, socket.get(), [&](qint32 requestId) {
        socket->Close();
        socket->Accept(requestId);
    });
    socket->SetLocalPort(port);
    socket->Listen();
    RawTcpClient client("127.0.0.1", port);
    ASSERT_TRUE(SpinUntil([&] { return socket->State() == ISocket::Connected; }));

    socket.reset();
    EXPECT_TRUE(client.WaitForEnd());

    Winsock successor;
    successor.SetLocalPort(port);
    EXPECT_NO_THROW(successor.Listen());
}

}  // namespace
}  // namespace tallowcrest
