// The protocol over real sockets on 127.0.0.1, byte for byte, against the
// server assembled from its real components.
#include "library/track_scan.h"
#include "support/live_server.h"
#include "support/mp3_fixture.h"
#include "support/test_client.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace tallowcrest::testing {
namespace {

void Touch(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    ::close(fd);
}

// Makes files under folder whose track list is exactly `bytes` long.
void MakeListOfSize(const std::string& folder, size_t bytes)
{
    const size_t overhead = folder.size() + 1 + 2;  // separator, CR LF
    const size_t count = bytes == 0 ? 0 : (bytes + overhead + 199) / (overhead + 200);
    for (size_t i = 0; i < count; ++i) {
        const size_t line = bytes / count + (i < bytes % count ? 1 : 0);
        const size_t nameLength = line - overhead;
        ASSERT_GE(nameLength, 10u);
        ASSERT_LE(nameLength, 255u);
        char prefix[8];
        std::snprintf(prefix, sizeof prefix, "%04zu", i);
        Touch(folder + "/" + prefix + std::string(nameLength - 8, 'n') + ".mp3");
    }
}

std::multiset<std::string> LinesOf(std::string_view body)
{
    const std::vector<std::string> lines = SplitTrackLines(body);
    return {lines.begin(), lines.end()};
}

bool WaitForState(const LiveServer& server, int state, int timeoutMs = 5000)
{
    return SpinUntil([&] { return server.winsock.State() == state; }, timeoutMs);
}

class ProtocolTest : public ::testing::Test {
protected:
    void StartServer(std::function<std::string()> trackListFile = {})
    {
        QDir().mkpath(QString::fromStdString(Library()));
        port_ = FreePort();
        server_ = std::make_unique<LiveServer>(Library(), std::to_string(port_), std::move(trackListFile));
        ASSERT_EQ(server_->winsock.State(), ISocket::Listening);
    }

    void ConnectClient()
    {
        ASSERT_TRUE(client_.Connect(port_)) << std::strerror(errno);
        ASSERT_TRUE(WaitForState(*server_, ISocket::Connected));
    }

    std::string Library() const { return (work_.path() + "/library").toStdString(); }

    std::string RequestList()
    {
        client_.Send("00");
        return client_.ReceiveUntilSuffix("END", 30000);
    }

    QTemporaryDir work_;
    uint16_t port_ = 0;
    std::unique_ptr<LiveServer> server_;
    TestClient client_;
};

TEST_F(ProtocolTest, TrackListArrivesExactlyFramedForEverySize)
{
    for (const size_t size : {0u, 2048u, 2049u, 5000u}) {
        QDir(QString::fromStdString(Library())).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Library())));
        MakeListOfSize(Library(), size);
        StartServer();
        ConnectClient();

        const std::string received = RequestList();
        ASSERT_EQ(received.size(), size + 8) << size;
        ASSERT_TRUE(received.starts_with("START") && received.ends_with("END")) << size;
        const std::string body = received.substr(5, size);
        EXPECT_TRUE(body.empty() || body.ends_with("\r\n"));
        EXPECT_EQ(RowsOf(server_->lstFiles), SplitTrackLines(body)) << "the list shows what was sent";
        EXPECT_EQ(client_.ReceiveQuiet(300), "") << "nothing follows END";
        client_.Close();
        server_.reset();
    }
}

TEST_F(ProtocolTest, AStaleLongerListFileLeaksNothing)
{
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Library())));
    Touch(Library() + "/a.mp3");
    const std::string file = (work_.path() + "/tracks.temp").toStdString();
    {
        QFile stale(QString::fromStdString(file));
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray(20000, 'Z'));
    }
    StartServer([file] { return file; });
    ConnectClient();
    EXPECT_EQ(RequestList(), "START" + Library() + "/a.mp3\r\nEND");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(file)));
}

TEST_F(ProtocolTest, BlocksAreRequestsAsTheyArrive)
{
    StartServer();
    ConnectClient();
    client_.Send("0203");
    EXPECT_EQ(client_.ReceiveQuiet(), "CODE_12") << "one block, one request";
    client_.Send("0");
    EXPECT_EQ(client_.ReceiveQuiet(), "");
    client_.Send("2");
    EXPECT_EQ(client_.ReceiveQuiet(), "") << "two blocks are two requests";
    for (const char* unknown : {"08", "ab", "x", "99\r\n"}) {
        client_.Send(unknown);
        EXPECT_EQ(client_.ReceiveQuiet(), "") << unknown;
    }
    client_.Send("04");
    EXPECT_EQ(client_.ReceiveQuiet(), "CODE_12") << "still served";
}

TEST_F(ProtocolTest, OpenPlaysARealTrackAndRefusesEverythingElse)
{
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Library())));
    const std::string track = MakeMp3(QString::fromStdString(Library()), "Song One.mp3", 3.0);
    StartServer();
    ConnectClient();

    ASSERT_EQ(::mkfifo((Library() + "/pipe.mp3").c_str(), 0600), 0);
    for (const std::string& bad : {Library() + "/missing.mp3", Library(), Library() + "/pipe.mp3", track + "\r\n",
                                   std::string()}) {
        client_.Send("01" + bad);
        EXPECT_EQ(client_.ReceiveQuiet(), "CODE_12") << bad;
    }
    EXPECT_EQ(server_->caption, "Tallowcrest Server");
    EXPECT_EQ(server_->media.FileName(), "");
    for (const char* op : {"02", "03", "04"}) {
        client_.Send(op);
        EXPECT_EQ(client_.ReceiveQuiet(), "CODE_12") << op << " before any track was opened";
    }

    client_.Send("01" + track);
    EXPECT_EQ(client_.ReceiveQuiet(), "CODE_11Song One");
    EXPECT_EQ(server_->caption, "Tallowcrest Server: Song One");
    EXPECT_EQ(server_->media.FileName(), track);
    for (const char* op : {"04", "02", "03"}) {
        client_.Send(op);
        EXPECT_EQ(client_.ReceiveQuiet(), "") << op << " once a track is loaded";
    }
}

TEST_F(ProtocolTest, VolumeAndShuffleAreSilentAndALoudestRaiseChangesNothing)
{
    StartServer();
    ConnectClient();
    server_->media.SetVolume(IMediaPlayer::kLoudest);
    client_.Send("05");
    EXPECT_EQ(client_.ReceiveQuiet(), "");
    EXPECT_EQ(server_->media.Volume(), IMediaPlayer::kLoudest);
    client_.Send("06");
    EXPECT_EQ(client_.ReceiveQuiet(), "");
    EXPECT_EQ(server_->media.Volume(), -100);
    EXPECT_TRUE(server_->messageBox.shown.empty());

    for (const auto& [argument, expected] : std::vector<std::pair<std::string, bool>>{
             {"true", true}, {"FALSE", false}, {"1", true}, {"0", false}, {"-1", true}, {"yes", true},
             {"", true}, {"0.0", false}, {" 2.5e3 ", true}, {"False\n", true}, {"0x0", true}, {"-0", false},
             {"nan", false}, {"tRuE", true}}) {
        client_.Send("07" + argument);
        EXPECT_EQ(client_.ReceiveQuiet(), "") << argument;
        EXPECT_EQ(server_->controller.ShuffleOn(), expected) << argument;
    }
}

TEST_F(ProtocolTest, OneClientAtATimeAndTheNextGetsInWhenItLeaves)
{
    StartServer();
    ConnectClient();
    TestClient second;
    EXPECT_FALSE(second.Connect(port_));
    EXPECT_EQ(errno, ECONNREFUSED);

    client_.Send("02");
    EXPECT_EQ(client_.ReceiveQuiet(), "CODE_12") << "the first client is not disturbed";

    client_.Close();
    ASSERT_TRUE(WaitForState(*server_, ISocket::Listening));
    ASSERT_TRUE(second.Connect(port_)) << std::strerror(errno);
    second.Send("03");
    EXPECT_EQ(second.ReceiveUntilSuffix("CODE_12", 5000), "CODE_12");
    EXPECT_TRUE(server_->messageBox.shown.empty()) << "a client leaving is no error";
}

TEST_F(ProtocolTest, AClientThatLeavesInTheMiddleOfALargeListDoesNotStopTheServer)
{
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Library())));
    const std::string pad(120, 'p');
    for (int i = 0; i < 40000; ++i)
        Touch(Library() + "/" + std::to_string(i) + pad + ".mp3");
    StartServer();
    ConnectClient();
    client_.Send("00");
    const std::string start = client_.ReceiveUntil([](const std::string& s) { return s.size() > 100000; });
    ASSERT_TRUE(start.starts_with("START"));
    client_.Reset();
    ASSERT_TRUE(WaitForState(*server_, ISocket::Listening, 10000));
    EXPECT_TRUE(server_->messageBox.shown.empty());

    ConnectClient();
    const std::string full = RequestList();
    ASSERT_TRUE(full.starts_with("START") && full.ends_with("END"));
    EXPECT_EQ(LinesOf(full.substr(5, full.size() - 8)).size(), 40000u);
    EXPECT_EQ(server_->lstFiles.Count(), 40000);
}

TEST_F(ProtocolTest, AnUnwritableListFileSendsNothingAndTheNextRequestWorks)
{
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Library())));
    Touch(Library() + "/a.mp3");
    const std::string blocker = (work_.path() + "/not-a-folder").toStdString();
    Touch(blocker);
    StartServer([blocker] { return blocker + "/tracks.temp"; });
    ConnectClient();
    client_.Send("00");
    EXPECT_EQ(client_.ReceiveQuiet(500), "");
    client_.Send("02");
    EXPECT_EQ(client_.ReceiveQuiet(), "CODE_12");
}

TEST_F(ProtocolTest, APortInUseIsReportedAndTheServerStillRuns)
{
    QTcpServer occupier;
    ASSERT_TRUE(occupier.listen(QHostAddress::Any, 0));
    const std::string portText = std::to_string(occupier.serverPort());
    LiveServer server(Library(), portText);
    ASSERT_EQ(server.messageBox.shown.size(), 2u);  // the missing folder, then the port
    EXPECT_EQ(server.messageBox.shown[1].title, "Error");
    EXPECT_TRUE(server.messageBox.shown[1].text.starts_with("Cannot listen on port \"" + portText + "\":\r\n"))
        << server.messageBox.shown[1].text;
    EXPECT_GT(server.messageBox.shown[1].text.size(), portText.size() + 30) << "the reason is given";
    EXPECT_EQ(server.winsock.State(), ISocket::Closed);
    server.prompt.answers = {"/srv"};
    server.controller.cmdDir_Click();
    EXPECT_EQ(server.controller.MediaFolder(), "/srv");
}

}  // namespace
}  // namespace tallowcrest::testing
