// The protocol over real sockets on 127.0.0.1, byte for byte, against the
// server assembled from its real components.
#include "support/live_server.h"
#include "support/mp3_fixture.h"
#include "support/spin.h"
#include "support/wire_client.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tallowcrest::testing {
namespace {

void touch(const std::string& path)
{
    ::close(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
}

class ProtocolTest : public ::testing::Test {
protected:
    void startServer(std::function<std::string()> trackListFile = {})
    {
        m_port = freePort();
        m_server = std::make_unique<LiveServer>(library(), std::to_string(m_port), std::move(trackListFile));
        ASSERT_EQ(m_server->winsock.State(), ISocket::Listening);
    }
    void connectClient(WireClient& client)
    {
        ASSERT_TRUE(client.connect(m_port)) << std::strerror(errno);
        ASSERT_TRUE(SpinUntil([&] { return m_server->winsock.State() == ISocket::Connected; }));
    }
    std::string request(const std::string& block, int quietMs = 300)
    {
        m_client.send(block);
        return m_client.receiveQuiet(quietMs);
    }
    std::string requestList() { return m_client.send("00") ? m_client.receiveUntilSuffix("END", 30000) : ""; }
    std::string library() const { return m_work.path().toStdString() + "/library"; }

    QTemporaryDir m_work;
    bool m_made = QDir().mkpath(QString::fromStdString(library()));
    uint16_t m_port = 0;
    std::unique_ptr<LiveServer> m_server;
    WireClient m_client;
};

TEST_F(ProtocolTest, TheListArrivesFramedByteForByteAndRefillsTheWindowsList)
{
    // Names of every byte but NUL, "/" and the line breaks, and a plain one.
    std::string odd;
    for (int byte = 1; byte < 256; ++byte)
        odd += byte == '/' || byte == '\r' || byte == '\n' ? 'x' : char(byte);
    for (const std::string& name : {odd.substr(0, 120) + ".mp3", odd.substr(120) + ".mp3", std::string("a.mp3")})
        touch(library() + "/" + name);
    startServer();
    connectClient(m_client);
    const std::string received = requestList();
    ASSERT_TRUE(received.starts_with("START") && received.ends_with("\r\nEND")) << received;
    std::string expected;
    for (const std::string& row : m_server->rows())
        expected += row + "\r\n";
    EXPECT_EQ(received, "START" + expected + "END");
    EXPECT_EQ(m_server->rows().size(), 3u);
    EXPECT_EQ(m_client.receiveQuiet(), "") << "nothing follows END";
}

TEST_F(ProtocolTest, AStaleLongerListFileLeaksNothingAndGoes)
{
    touch(library() + "/a.mp3");
    const std::string file = m_work.filePath("tracks.temp").toStdString();
    QFile stale(QString::fromStdString(file));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly) && stale.write(QByteArray(20000, 'Z')) == 20000);
    stale.close();
    startServer([file] { return file; });
    connectClient(m_client);
    EXPECT_EQ(requestList(), "START" + library() + "/a.mp3\r\nEND");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(file)));
}

TEST_F(ProtocolTest, EachBlockIsOneRequestAndOnlyTheFirstTwoBytesCount)
{
    startServer();
    connectClient(m_client);
    const std::pair<std::string, std::string> cases[] = {
        {"0203", "CODE_12"}, {"0", ""}, {"2", ""}, {"08", ""}, {"ab", ""}, {"x", ""}, {"99\r\n", ""},
        {"04xyz", "CODE_12"}, {"03", "CODE_12"}, {"0!", ""}};
    for (const auto& [block, reply] : cases)
        EXPECT_EQ(request(block), reply) << block;
}

TEST_F(ProtocolTest, OpenPlaysARealTrackByItsBytesAndRefusesEverythingElse)
{
    const std::string track = MakeMp3(QString::fromStdString(library()), "Caf\xe9 \x01 One.mp3", 30.0);
    MakeMp3(QString::fromStdString(library()), "mp3", 30.0);
    startServer();
    connectClient(m_client);
    ASSERT_EQ(::mkfifo((library() + "/pipe.mp3").c_str(), 0600), 0);
    for (const std::string& bad : {library() + "/missing.mp3", library(), library() + "/pipe.mp3", track + "\r\n",
                                   std::string(), track + std::string(1, '\0')})
        EXPECT_EQ(request("01" + bad), "CODE_12") << bad;
    EXPECT_EQ(m_server->caption(), "Tallowcrest Server");
    for (const char* op : {"02", "03", "04"})
        EXPECT_EQ(request(op), "CODE_12") << op << " before any track was opened";

    EXPECT_EQ(request("01" + track), "CODE_11Caf\xe9 \x01 One");
    EXPECT_EQ(m_server->controller.caption(), "Tallowcrest Server: " + QFile::decodeName("Caf\xe9 \x01 One"));
    EXPECT_EQ(m_server->media.FileName(), track);
    const std::pair<const char*, IMediaPlayer::PlaybackState> controls[] = {
        {"04", IMediaPlayer::PlaybackState::Paused}, {"02", IMediaPlayer::PlaybackState::Playing},
        {"03", IMediaPlayer::PlaybackState::Stopped}, {"02", IMediaPlayer::PlaybackState::Playing}};
    for (const auto& [op, state] : controls) {
        EXPECT_EQ(request(op), "") << op << " once a track is loaded";
        EXPECT_EQ(m_server->media.playbackState(), state) << op;
    }
    // A last element too short for a title still gets its answer.
    EXPECT_EQ(request("01" + library() + "/mp3"), "CODE_11");
    EXPECT_EQ(m_server->caption(), "Tallowcrest Server: ");
    const std::string here = QDir::currentPath().toStdString();
    ASSERT_EQ(::chdir(library().c_str()), 0);
    EXPECT_EQ(request("01Caf\xe9 \x01 One.mp3"), "CODE_11Caf\xe9 \x01 One") << "a path without a separator";
    ASSERT_EQ(::chdir(here.c_str()), 0);
}

TEST_F(ProtocolTest, VolumeAndShuffleAreSilentAndALoudestRaiseChangesNothing)
{
    startServer();
    connectClient(m_client);
    const std::pair<const char*, int> levels[] = {{"06", -700}, {"05", -600}, {"05xyz", -500}};
    for (const auto& [op, level] : levels) {
        EXPECT_EQ(request(op), "") << op;
        EXPECT_EQ(m_server->media.Volume(), level) << op;
    }
    m_server->media.SetVolume(IMediaPlayer::kLoudest);
    EXPECT_EQ(request("05"), "");
    EXPECT_EQ(m_server->media.Volume(), IMediaPlayer::kLoudest);
    m_server->media.SetVolume(IMediaPlayer::kSilent);
    EXPECT_EQ(request("06"), "");
    EXPECT_EQ(m_server->media.Volume(), IMediaPlayer::kSilent);
    EXPECT_TRUE(m_server->messageBox.shown.empty());

    const std::pair<std::string, bool> shuffles[] = {
        {"true", true}, {"FALSE", false}, {"1", true}, {"0", false}, {"-1", true}, {"yes", true}, {"", true},
        {"0.0", false}, {" 2.5e3 ", true}, {"False\n", true}, {"0x0", true}, {"-0", false}, {"nan", false},
        {"tRuE", true}, {"1e", true}, {".", true}, {"+.0e-5", false}, {std::string(100000, '1'), true}};
    for (const auto& [argument, expected] : shuffles) {
        EXPECT_EQ(request("07" + argument), "") << argument;
        EXPECT_EQ(m_server->controller.ShuffleOn(), expected) << argument;
    }
}

TEST_F(ProtocolTest, OneClientAtATimeAndTheNextGetsInWhenItLeaves)
{
    startServer();
    connectClient(m_client);
    WireClient second;
    EXPECT_FALSE(second.connect(m_port));
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_EQ(request("02"), "CODE_12") << "the first client is not disturbed";

    // A client that speaks and leaves at once is heard all the same.
    m_client.send("01" + library() + "/missing.mp3");
    m_client.close();
    ASSERT_TRUE(second.connect(m_port, 5000)) << std::strerror(errno);
    EXPECT_EQ((second.send("03"), second.receiveUntilSuffix("CODE_12", 5000)), "CODE_12");
    second.reset();
    ASSERT_TRUE(m_client.connect(m_port, 5000));
    EXPECT_EQ(request("04"), "CODE_12") << "served after a reset";
    EXPECT_TRUE(m_server->messageBox.shown.empty()) << "a client leaving is no error";
}

TEST_F(ProtocolTest, AClientThatLeavesInTheMiddleOfALargeListDoesNotStopTheServer)
{
    const std::string pad(120, 'p');
    for (int i = 0; i < 40000; ++i)
        touch(library() + "/" + std::to_string(i) + pad + ".mp3");
    startServer();
    connectClient(m_client);
    m_client.send("00");
    ASSERT_TRUE(m_client.receiveUntil([](const std::string& s) { return s.size() > 100000; }).starts_with("START"));
    m_client.reset();
    ASSERT_TRUE(SpinUntil([&] { return m_server->winsock.State() == ISocket::Listening; }));

    connectClient(m_client);
    std::size_t size = 5 + 3;
    for (int i = 0; i < 40000; ++i)
        size += library().size() + 1 + std::to_string(i).size() + pad.size() + 4 + 2;
    EXPECT_EQ(requestList().size(), size);
    EXPECT_EQ(m_server->lstFiles.Count(), 40000);
    EXPECT_TRUE(m_server->messageBox.shown.empty());
}

TEST_F(ProtocolTest, AnUnwritableListFileSendsNothingAndTheNextRequestWorks)
{
    touch(library() + "/a.mp3");
    const std::string blocker = m_work.filePath("not-a-folder").toStdString();
    touch(blocker);
    startServer([blocker] { return blocker + "/tracks.temp"; });
    connectClient(m_client);
    EXPECT_EQ(request("00", 500), "");
    EXPECT_EQ(request("02"), "CODE_12");
}

TEST_F(ProtocolTest, PortsThatCannotBeListenedOnAreReportedAndTheRestWorks)
{
    QTcpServer occupier;
    ASSERT_TRUE(occupier.listen(QHostAddress::Any, 0));
    const std::string taken = std::to_string(occupier.serverPort());
    for (const std::string& port : {taken, std::string(""), std::string("abc"), std::string("70000"),
                                    std::string("0"), std::string("-5")}) {
        LiveServer server(library(), port);
        ASSERT_EQ(server.messageBox.shown.size(), 1u) << port;
        EXPECT_EQ(server.messageBox.shown[0].title, "Error");
        const std::string& text = server.messageBox.shown[0].text;
        EXPECT_TRUE(text.starts_with("Cannot listen on port \"" + port + "\":\r\n")) << text;
        if (port != taken)
            EXPECT_TRUE(text.ends_with(":\r\nthe port must be a whole number from 1 to 65535.")) << text;
        else
            EXPECT_NE(text.find("in use"), std::string::npos) << text;
        EXPECT_EQ(server.winsock.State(), ISocket::Closed);
    }
}

}  // namespace
}  // namespace tallowcrest::testing
