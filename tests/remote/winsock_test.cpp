#include "remote/winsock_test_fixture.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <stdexcept>

namespace tallowcrest::testing {
namespace {

// However the client leaves, the host hears it once, as a close and not an
// error, and can listen again at once on the same port.
TEST_F(WinsockTest, StateFollowsListenAcceptClientLeavingAndRelisten)
{
    EXPECT_EQ(socket.State(), ISocket::Closed);
    StartListening();
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "close");
        EXPECT_EQ(socket.State(), ISocket::Listening);
        states.clear();
        peerCloses = 0;
        TestClient client;
        Serve(client);
        EXPECT_EQ(states, (std::vector<int>{ISocket::Listening, ISocket::Closed, ISocket::Connected}));

        reset ? client.Reset() : client.Close();
        ASSERT_TRUE(SpinUntil([&] { return peerCloses == 1; }));
        SpinFor(200);
        EXPECT_EQ(peerCloses, 1);
        EXPECT_EQ(socket.State(), ISocket::Closing);
        EXPECT_THROW(socket.SendData("CODE_12"), std::runtime_error);
        socket.Close();
        EXPECT_EQ(socket.State(), ISocket::Closed);
        socket.Listen();
    }
    EXPECT_EQ(socket.State(), ISocket::Listening);
    EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(WinsockTest, SecondClientIsRefusedWhileOneIsServed)
{
    StartListening();
    TestClient first, second;
    Serve(first);

    EXPECT_FALSE(second.Connect(port));
    EXPECT_EQ(errno, ECONNREFUSED);

    first.Send("02");
    ASSERT_TRUE(SpinUntil([&] { return received == "02"; }));
    socket.SendData("CODE_12");
    EXPECT_EQ(first.ReceiveUntilSuffix("CODE_12"), "CODE_12");
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_TRUE(errors.empty());
}

TEST_F(WinsockTest, CarriesEveryByteValueBothWaysUnchanged)
{
    StartListening();
    TestClient client;
    Serve(client);
    std::string bytes("\0\r\n", 3);
    for (int value = 0; value < 512; ++value)
        bytes.push_back(static_cast<char>(value));

    client.Send(bytes);
    ASSERT_TRUE(SpinUntil([&] { return received.size() >= bytes.size(); }));
    EXPECT_EQ(received, bytes);
    EXPECT_EQ(socket.GetData(), "") << "GetData must remove what it returned";

    socket.SendData(bytes);
    socket.SendData("");
    socket.SendData("END");
    EXPECT_EQ(client.ReceiveUntilSuffix("END"), bytes + "END");
    EXPECT_TRUE(errors.empty());
}

TEST_F(WinsockTest, ClientThatSpeaksAndLeavesBeforeBeingAcceptedIsHeard)
{
    StartListening();
    TestClient client;
    ASSERT_TRUE(client.Connect(port));
    client.Send("0203");
    client.Close();
    ASSERT_TRUE(SpinUntil([&] { return peerCloses == 1; }));
    EXPECT_EQ(received, "0203");
    EXPECT_EQ(events, (std::vector<std::string>{"request", "data", "close"}));
}

// We close first, so our end of the old connection lingers in TIME_WAIT.
TEST_F(WinsockTest, ClosingDeliversWhatWasSentAndListensAgainAtOnceOnTheSamePort)
{
    StartListening();
    TestClient first, second;
    Serve(first);
    socket.SendData("CODE_11Song");
    socket.Close();
    EXPECT_EQ(first.ReceiveUntil([](const std::string&) { return false; }), "CODE_11Song");
    EXPECT_TRUE(first.PeerClosed());

    ASSERT_NO_THROW(socket.Listen());
    Serve(second);
    socket.SendData("STARTEND");
    EXPECT_EQ(second.ReceiveUntilSuffix("END"), "STARTEND");
    EXPECT_EQ(peerCloses, 0);
}

TEST_F(WinsockTest, ServesAnIpv6Client)
{
    StartListening();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHostIPv6, port);
    ASSERT_TRUE(client.waitForConnected(5000)) << client.errorString().toStdString();
    ASSERT_TRUE(SpinUntil([&] { return socket.State() == ISocket::Connected; }));
    client.write("07True");
    ASSERT_TRUE(SpinUntil([&] { return received == "07True"; }));
    socket.SendData("CODE_12");
    ASSERT_TRUE(client.waitForReadyRead(5000));
    EXPECT_EQ(client.readAll(), "CODE_12");
}

TEST_F(WinsockTest, SendDataWithoutAConnectionThrows)
{
    EXPECT_THROW(socket.SendData("CODE_12"), std::runtime_error);
    StartListening();
    EXPECT_THROW(socket.SendData("CODE_12"), std::runtime_error);
    EXPECT_EQ(socket.State(), ISocket::Listening);
}

TEST_F(WinsockTest, ListenRefusesTakenAndInvalidPortsWithTheReason)
{
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::Any, 0));
    const int taken = occupant.serverPort();
    const std::string invalid = " is not a valid port number (1 to 65535)";
    for (const auto& [bad, reason] : std::vector<std::pair<int, std::string>>{
             {taken, " is in use"}, {0, invalid}, {-1, invalid}, {65536, invalid}, {70000, invalid}}) {
        socket.SetLocalPort(bad);
        try {
            socket.Listen();
            ADD_FAILURE() << "listens on " << bad;
        } catch (const std::runtime_error& failure) {
            EXPECT_EQ(failure.what(), "The port " + std::to_string(bad) + reason);
        }
        EXPECT_EQ(socket.State(), ISocket::Closed);
    }
    StartListening();
    EXPECT_EQ(socket.State(), ISocket::Listening);
}

}  // namespace
}  // namespace tallowcrest::testing
