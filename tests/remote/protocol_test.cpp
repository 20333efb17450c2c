// The protocol over real sockets on 127.0.0.1, byte for byte, against the
// server assembled from its real components; the list file it goes through.
#include "library/track_scan.h"
#include "remote/track_list_file.h"
#include "support/live_server.h"
#include "support/log_capture.h"
#include "support/mp3_fixture.h"
#include "support/spin.h"
#include "support/wire_client.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <csignal>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tallowcrest::testing {
namespace {

namespace fs = std::filesystem;

class ProtocolTest : public ::testing::Test {
protected:
    // Starts the server on the library folder and connects m_client to it.
    void start(std::function<std::string()> trackListFile = {})
    {
        m_port = freePort();
        m_server = std::make_unique<LiveServer>(library(), std::to_string(m_port), std::move(trackListFile));
        ASSERT_TRUE(m_client.connect(m_port)) << std::strerror(errno);
        ASSERT_TRUE(SpinUntil([&] { return m_server->winsock.State() == SocketState::Connected; }));
    }
    std::string request(const std::string& block, int quietMs = 300)
    {
        m_client.send(block);
        return m_client.receiveQuiet(quietMs);
    }
    std::string library() const { return m_work.path().toStdString() + "/library"; }

    QTemporaryDir m_work;
    bool m_made = QDir().mkpath(QString::fromStdString(library()));
    uint16_t m_port = 0;
    std::unique_ptr<LiveServer> m_server;
    WireClient m_client;
};

TEST_F(ProtocolTest, TheListArrivesFramedByteForByteFromAPrivateFileAndRefillsTheWindowsList)
{
    // Names of every byte but NUL, "/" and the line breaks, and a plain one.
    std::string odd;
    for (int byte = 1; byte < 256; ++byte)
        odd += byte == '/' || byte == '\r' || byte == '\n' ? 'x' : char(byte);
    const std::multiset<std::string> tracks = {library() + "/" + odd.substr(0, 120) + ".mp3",
                                               library() + "/" + odd.substr(120) + ".mp3", library() + "/a.mp3"};
    for (const std::string& track : tracks)
        std::ofstream{track};
    // A link planted as the list file is not written through: nothing is sent.
    const std::string file = m_work.filePath("tracks.temp").toStdString(), target = file + ".target";
    std::ofstream{target} << "kept";
    fs::create_symlink(target, file);
    start([file] { return file; });
    EXPECT_EQ(request("00", 500), "");
    QFile kept(QString::fromStdString(target));
    EXPECT_TRUE(kept.open(QIODevice::ReadOnly) && kept.readAll() == "kept");

    // A longer file left from before and an earlier scan's lines leak nothing.
    fs::remove(file);
    std::ofstream{file} << std::string(20000, 'Z');
    TrackListBuffer = "left over\r\n";
    m_client.send("00");
    const std::string received = m_client.receiveUntilSuffix("END", 30000);
    const std::vector<std::string> rows = m_server->rows();
    EXPECT_EQ(std::multiset(rows.begin(), rows.end()), tracks);
    std::string expected;
    for (const std::string& row : rows)
        expected += row + "\r\n";
    EXPECT_EQ(received, "START" + expected + "END");
    EXPECT_EQ(m_client.receiveQuiet(), "") << "nothing follows END";
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(TrackListBuffer.capacity(), std::string().capacity()) << "the scan's memory is handed back";
}

// A client leaving in the middle of a list is left to the process tests.
TEST_F(ProtocolTest, OneClientAtATimeEachBlockOneRequestAndARealTrackOpenedByItsBytes)
{
    const LogCapture log;
    const std::string track = MakeMp3(QString::fromStdString(library()), "Caf\xe9 \x01 One.mp3", 30.0);
    MakeMp3(QString::fromStdString(library()), "mp3", 30.0);
    ASSERT_EQ(::mkfifo((library() + "/pipe.mp3").c_str(), 0600), 0);
    start();
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

    // Nothing is loaded yet, and only regular files open.
    const std::pair<std::string, std::string> cases[] = {
        {"0203", "CODE_12"}, {"0", ""}, {"2", ""}, {"08", ""}, {"ab", ""}, {"x", ""}, {"99\r\n", ""},
        {"04xyz", "CODE_12"}, {"03", "CODE_12"}, {"0!", ""}, {"01" + library() + "/missing.mp3", "CODE_12"},
        {"01" + library(), "CODE_12"}, {"01" + library() + "/pipe.mp3", "CODE_12"}, {"01", "CODE_12"},
        {"01" + track + std::string(1, '\0'), "CODE_12"}};
    for (const auto& [block, reply] : cases)
        EXPECT_EQ(request(block), reply) << block;
    EXPECT_EQ(m_server->caption(), "Tallowcrest Server");

    EXPECT_EQ(request("01" + track), "CODE_11Caf\xe9 \x01 One");
    EXPECT_EQ(m_server->controller.nowPlaying().caption(), "Tallowcrest Server: " + QFile::decodeName("Caf\xe9 \x01 One"));
    EXPECT_EQ(m_server->media.fileName(), track);
    using State = IMediaPlayer::PlaybackState;
    for (const auto& [op, state] : {std::pair{"04", State::Paused}, {"02", State::Playing}, {"03", State::Stopped},
                                    {"02", State::Playing}}) {
        EXPECT_EQ(request(op), "") << op << " once a track is loaded";
        EXPECT_EQ(m_server->media.playbackState(), state) << op;
    }
    // A last element too short for a title still gets its answer.
    EXPECT_EQ(request("01" + library() + "/mp3"), "CODE_11");
    EXPECT_EQ(m_server->caption(), "Tallowcrest Server: ");

    // A step past either end of the volume changes nothing.
    const std::tuple<const char*, int, int> levels[] = {
        {"06", -600, -700}, {"05", -700, -600}, {"05xyz", -600, -500}, {"05", 0, 0}, {"06", -10000, -10000}};
    for (const auto& [op, before, after] : levels) {
        m_server->media.setVolume(before);
        EXPECT_EQ(request(op), "") << op;
        EXPECT_EQ(m_server->media.volume(), after) << op << " from " << before;
    }
    const std::pair<std::string, bool> shuffles[] = {
        {"true", true}, {"FALSE", false}, {"1", true}, {"0", false}, {"-1", true}, {"yes", true}, {"", true},
        {"0.0", false}, {" 2.5e3 ", true}, {"False\n", true}, {"0x0", true}, {"-0", false}, {"nan", false},
        {"tRuE", true}, {"1e", true}, {".", true}, {"+.0e-5", false}, {std::string(100000, '1'), true}};
    for (const auto& [argument, expected] : shuffles) {
        EXPECT_EQ(request("07" + argument), "") << argument;
        EXPECT_EQ(m_server->controller.ShuffleOn(), expected) << argument;
    }
    EXPECT_TRUE(m_server->messageBox.shown.empty()) << "a client leaving is no error";
    EXPECT_TRUE(log.warnings("tallowcrest.remote").empty()) << "nor a warning";
}

TEST_F(ProtocolTest, PortsThatCannotBeListenedOnAreReported)
{
    QTcpServer occupier;
    ASSERT_TRUE(occupier.listen(QHostAddress::Any, 0));
    const std::string taken = std::to_string(occupier.serverPort());
    for (const std::string& port : {taken, std::string(""), std::string("abc"), std::string("70000"),
                                    std::string("0"), std::string("-5")}) {
        LiveServer server(library(), port);
        const std::string why =
            port == taken ? "The port " + port + " is in use" : "the port must be a whole number from 1 to 65535.";
        ASSERT_EQ(server.messageBox.shown.size(), 1u) << port;
        EXPECT_EQ(server.messageBox.shown[0].title, "Error");
        EXPECT_EQ(server.messageBox.shown[0].text, "Cannot listen on port \"" + port + "\":\r\n" + why);
        EXPECT_EQ(server.winsock.State(), SocketState::Closed);
    }
}

// GStreamer forks its plugin scanner from the player's thread: until it execs, the child holds the listening socket.
TEST_F(ProtocolTest, AListeningSocketAForkedChildHoldsIsListenedOnAgainAndServesTheNextClient)
{
    m_port = freePort();
    m_server = std::make_unique<LiveServer>(library(), std::to_string(m_port));
    const pid_t child = ::fork();
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(m_client.connect(m_port, 5000)) << i;
        EXPECT_EQ((m_client.send("03"), m_client.receiveUntilSuffix("CODE_12", 5000)), "CODE_12") << i;
        m_client.close();
        SpinUntil([&] { return m_server->winsock.State() != SocketState::Connected; });
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(m_server->messageBox.shown.empty()) << m_server->messageBox.shown[0].text;
}

// The bytes are checked on the wire above, the pause after them by the server tests.
TEST(SendTrackList, FramedPiecesOfAtMost2048Bytes)
{
    QTemporaryDir dir;
    const std::string file = dir.filePath("tracks.temp").toStdString();
    for (const auto& [length, pieces] : {std::pair{0, 0}, {1, 1}, {2048, 1}, {2049, 2}, {5000, 3}}) {
        std::string content;
        for (int i = 0; i < length; ++i)
            content += char(i * 7);
        std::ofstream{file, std::ios::binary} << content;
        FakeSocket socket;
        socket.state = SocketState::Connected;
        SendTrackList(file, socket);
        EXPECT_EQ(socket.sent.size(), pieces + 2u) << length;
        EXPECT_EQ(socket.allSent(), "START" + content + "END") << length;
    }
}

// The pieces come from memory: those of the finished file, never ahead of it.
TEST(ServeTrackList, PiecesOfTheWrittenFile)
{
    QTemporaryDir dir;
    const std::string library = dir.filePath("library").toStdString(), file = dir.filePath("tracks.temp").toStdString();
    fs::create_directory(library);
    for (int i = 0; i < 40; ++i)
        std::ofstream{library + "/" + std::string(240, 'x') + std::to_string(i) + ".mp3"};
    WriteTrackList(library, file);
    std::stringstream written;
    written << std::ifstream(file, std::ios::binary).rdbuf();
    const std::string expected = written.str();

    struct WatchingSocket : FakeSocket {
        void SendData(std::string_view bytes) override
        {
            FakeSocket::SendData(bytes);
            fileSizes.push_back(fs::file_size(file));
        }
        std::string file;
        std::vector<uintmax_t> fileSizes;
    } socket;
    socket.state = SocketState::Connected;
    socket.file = file;
    EXPECT_EQ(serveTrackList(library, file, socket), expected);
    EXPECT_EQ(socket.allSent(), "START" + expected + "END");
    ASSERT_EQ(socket.sent.size(), (expected.size() + 2047) / 2048 + 2);
    for (size_t i = 1; i + 2 < socket.sent.size(); ++i)
        EXPECT_EQ(socket.sent[i].size(), 2048u) << i;
    EXPECT_EQ(socket.fileSizes.front(), expected.size()) << "the file is whole before anything is sent";
}

TEST(TrackListFilePath, APrivateFolderOfTheRuntimeFolderElseOfTheCache)
{
    QTemporaryDir runtime, cache;
    ::setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
    ::setenv("XDG_CACHE_HOME", cache.path().toLocal8Bit().constData(), 1);
    const std::string inRuntime = runtime.path().toStdString() + "/TallowcrestServer";
    const std::string inCache = cache.path().toStdString() + "/TallowcrestServer";
    EXPECT_EQ(trackListFilePath(), inRuntime + "/tracks.temp");
    EXPECT_EQ(fs::status(inRuntime).permissions(), fs::perms::owner_all);
    fs::remove(inRuntime);
    fs::create_directory_symlink("/tmp", inRuntime);
    EXPECT_EQ(trackListFilePath(), inCache + "/tracks.temp") << "a planted link";
    fs::remove(inRuntime);
    fs::create_directory(inRuntime);
    fs::permissions(inRuntime, fs::perms::all);
    EXPECT_EQ(trackListFilePath(), inCache + "/tracks.temp") << "a folder others can write";
    fs::remove(inCache);
    std::ofstream{inCache};
    EXPECT_THROW(trackListFilePath(), std::system_error);
    ::unsetenv("XDG_RUNTIME_DIR");
    ::unsetenv("XDG_CACHE_HOME");
}

}  // namespace
}  // namespace tallowcrest::testing
