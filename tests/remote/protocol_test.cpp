// The wire of the server assembled from its real components, byte for byte; the list file; a request's argument.
#include "library/track_scan.h"
#include "remote/remote_request.h"
#include "remote/track_list_file.h"
#include "support/live_server.h"
#include "support/log_capture.h"
#include "support/mp3_fixture.h"
#include "support/spin.h"
#include "support/wire_client.h"
#include <QTcpServer>
#include <gtest/gtest.h>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <set>
#include <sstream>
#include <sys/wait.h>

namespace tallowcrest::testing {
namespace {
namespace fs = std::filesystem;
class ProtocolTest : public ::testing::Test {
protected:
    void start()
    {
        m_server = std::make_unique<LiveServer>(library(), std::to_string(m_port = freePort()));
        ASSERT_TRUE(m_client.connect(m_port)) << std::strerror(errno);
        ASSERT_TRUE(SpinUntil([&] { return m_server->winsock.State() == SocketState::Connected; }));
    }
    // The reply to block: as long as the one expected, or what comes in a while when none is.
    std::string ask(const std::string& block, const std::string& expected)
    {
        m_client.send(block);
        return expected.empty() ? m_client.receiveUntil([](const std::string& got) { return !got.empty(); }, 300)
                                : m_client.receive(expected.size());
    }
    std::string library() const { return m_work.path().toStdString() + "/library"; }
    QTemporaryDir m_work;
    bool m_made = fs::create_directory(library());
    uint16_t m_port = 0;
    std::unique_ptr<LiveServer> m_server;
    WireClient m_client;
};
TEST_F(ProtocolTest, TheListIsStartEachRowWithCrLfAndEndByteForByteAndRefillsTheWindowsList)
{
    // Names of every byte but NUL, "/" and the line breaks, and a plain one.
    std::string odd;
    for (int byte = 1; byte < 256; ++byte)
        odd += byte == '/' || byte == '\r' || byte == '\n' ? 'x' : char(byte);
    const std::multiset<std::string> tracks = {library() + "/" + odd.substr(0, 120) + ".mp3",
                                               library() + "/" + odd.substr(120) + ".mp3", library() + "/a.mp3"};
    for (const std::string& track : tracks)
        std::ofstream{track};
    start();
    m_client.send("00");
    const std::string received = m_client.receiveUntil([](const std::string& s) { return s.ends_with("END"); });
    const std::vector<std::string> rows = m_server->rows();
    EXPECT_EQ(std::multiset(rows.begin(), rows.end()), tracks);
    const auto crLf = [](std::string list, const std::string& row) { return list + row + "\r\n"; };
    EXPECT_EQ(received, std::accumulate(rows.begin(), rows.end(), std::string("START"), crLf) + "END");
}
TEST_F(ProtocolTest, OneClientIsServedAtATimeAndTheNextOnceItLeaves)
{
    const LogCapture log;
    start();
    WireClient second;
    EXPECT_FALSE(second.connect(m_port));
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_EQ(ask("02", "CODE_12"), "CODE_12") << "the first client is not disturbed";
    m_client.send("01" + library() + "/missing.mp3");
    m_client.close();
    ASSERT_TRUE(second.connect(m_port, 5000)) << std::strerror(errno);
    EXPECT_EQ((second.send("03"), second.receive(7)), "CODE_12");
    EXPECT_TRUE(m_server->messageBox.shown.empty()) << "a client leaving is no error";
    EXPECT_TRUE(log.warnings("tallowcrest.remote").empty()) << "nor a warning";
}
// Nothing is loaded till the last row.
TEST_F(ProtocolTest, EachBlockIsOneRequestAnsweredByItsExactBytesOrNothing)
{
    const std::string track = MakeMp3(QString::fromStdString(library()), "Caf\xe9 \x01 One.mp3", 30.0);
    start();
    const struct { const char* name; std::string block, reply; } rows[] = {
        {"two opcodes in one block", "0203", "CODE_12"}, {"half an opcode", "0", ""}, {"a digit", "2", ""},
        {"an opcode nobody knows", "08", ""}, {"letters", "ab", ""}, {"a digit and a sign", "0!", ""},
        {"a missing track", "01" + library() + "/missing.mp3", "CODE_12"},
        {"a real track by the bytes of its name", "01" + track, "CODE_11Caf\xe9 \x01 One"}, {"stop", "03", ""}};
    for (const auto& row : rows)
        EXPECT_EQ(ask(row.block, row.reply), row.reply) << row.name;
    EXPECT_EQ(m_server->nowPlaying().caption(), "Tallowcrest Server: " + QFile::decodeName("Caf\xe9 \x01 One"));
}
TEST_F(ProtocolTest, PortsThatCannotBeListenedOnAreReported)
{
    QTcpServer occupier;
    ASSERT_TRUE(occupier.listen(QHostAddress::Any, 0));
    const std::string taken = std::to_string(occupier.serverPort()), range = "the port must be a whole number from 1 to 65535.";
    const struct { const char* name; std::string port, why; } rows[] = {
        {"a port in use", taken, "The port " + taken + " is in use"}, {"no text", "", range}, {"letters", "abc", range},
        {"above the range", "70000", range}, {"zero", "0", range}, {"below zero", "-5", range}};
    for (const auto& row : rows) {
        LiveServer server(library(), row.port);
        ASSERT_EQ(server.messageBox.shown.size(), 1u) << row.name;
        EXPECT_EQ(std::tuple(server.messageBox.shown[0].title, server.messageBox.shown[0].text, server.winsock.State()),
                  std::tuple("Error", "Cannot listen on port \"" + row.port + "\":\r\n" + row.why, SocketState::Closed)) << row.name;
    }
}
// GStreamer forks its plugin scanner from the player's thread: until it execs, the child holds the listening socket.
TEST_F(ProtocolTest, AListeningSocketAForkedChildHoldsIsListenedOnAgainAndServesTheNextClient)
{
    m_server = std::make_unique<LiveServer>(library(), std::to_string(m_port = freePort()));
    const pid_t child = ::fork();
    if (child == 0)
        ::pause(), ::_exit(0);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(m_client.connect(m_port, 5000)) << i;
        EXPECT_EQ((m_client.send("03"), m_client.receive(7)), "CODE_12") << i;
        m_client.close();
        SpinUntil([&] { return m_server->winsock.State() != SocketState::Connected; });
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(m_server->messageBox.shown.empty()) << m_server->messageBox.shown[0].text;
}
// A folder of forty tracks under long names: a list of several pieces.
class ListFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directory(library);
        for (int i = 0; i < 40; ++i)
            std::ofstream{library + "/" + std::string(240, 'x') + std::to_string(i) + ".mp3"};
        socket.state = SocketState::Connected;
    }
    static std::string read(const std::string& file) { return (std::stringstream() << std::ifstream(file).rdbuf()).str(); }
    QTemporaryDir dir;
    const std::string library = dir.filePath("library").toStdString(), file = dir.filePath("tracks.temp").toStdString();
    FakeSocket socket;
};
TEST_F(ListFileTest, TheListGoesFramedInPiecesOf2048BytesThenAPause)
{
    const struct { const char* name; int length, pieces; } rows[] = {
        {"empty", 0, 0}, {"one byte", 1, 1}, {"one piece", 2048, 1}, {"a byte more", 2049, 2}, {"more", 5000, 3}};
    for (const auto& row : rows) {
        std::string content;
        for (int i = 0; i < row.length; ++i)
            content += char(i * 7);
        std::ofstream{file, std::ios::binary} << content;
        FakeSocket sent;
        sent.state = SocketState::Connected;
        SendTrackList(file, sent);
        EXPECT_EQ((std::tuple{sent.sent.size(), sent.allSent(), sent.holds}),
                  std::tuple(row.pieces + 2u, "START" + content + "END", std::vector{200})) << row.name;
    }
}
// Served from memory, in the same pieces.
TEST_F(ListFileTest, TheListIsOfAFreshScanWrittenWholeBeforeItsFirstPieceAndTheFileGoesAfter)
{
    WriteTrackList(library, file);
    const std::string written = read(file);
    std::ofstream{file} << std::string(20000, 'Z');
    TrackListBuffer = "left over\r\n";
    std::vector<uintmax_t> fileSizes;
    socket.onSend = [&] { fileSizes.push_back(fs::file_size(file)); };
    EXPECT_EQ(serveTrackList(library, file, socket), written);
    EXPECT_EQ(std::pair(socket.allSent(), socket.holds), std::pair("START" + written + "END", std::vector{200}));
    ASSERT_EQ(socket.sent.size(), (written.size() + 2047) / 2048 + 2);
    for (size_t i = 1; i + 2 < socket.sent.size(); ++i)
        EXPECT_EQ(socket.sent[i].size(), 2048u) << i;
    EXPECT_EQ(fileSizes.at(0), written.size()) << "the file is whole, and no more, before anything is sent";
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(TrackListBuffer.capacity(), std::string().capacity()) << "the scan's memory is handed back";
}
TEST_F(ListFileTest, ALinkPlantedAsTheListFileIsNotWrittenThrough)
{
    std::ofstream{file + ".target"} << "kept";
    fs::create_symlink(file + ".target", file);
    EXPECT_THROW(serveTrackList(library, file, socket), std::system_error);
    EXPECT_EQ(std::pair(socket.sent.size(), read(file + ".target")), std::pair(size_t(0), std::string("kept")));
}
TEST(TrackListFilePath, APrivateFolderOfTheRuntimeFolderElseOfTheCache)
{
    QTemporaryDir runtime, cache;
    ::setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
    ::setenv("XDG_CACHE_HOME", cache.path().toLocal8Bit().constData(), 1);
    const std::string inRuntime = runtime.path().toStdString() + "/TallowcrestServer", inCache = cache.path().toStdString() + "/TallowcrestServer";
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
    EXPECT_THROW(trackListFilePath(), std::system_error) << "no place at all";
    ::unsetenv("XDG_RUNTIME_DIR"), ::unsetenv("XDG_CACHE_HOME");
}
TEST(BooleanText, TrueOrFalseInAnyCaseOrANumberTrueUnlessZero)
{
    const struct { const char* name; std::string text; std::optional<bool> value; } rows[] = {
        {"true", "tRuE", true}, {"false", "FALSE", false}, {"one", "1", true}, {"zero", "0", false},
        {"below zero", "-1", true}, {"zero below zero", "-0", false}, {"zero with decimals", "0.0", false},
        {"blanks and an exponent", " \t2.5e3 ", true}, {"a signed exponent", "+.0e-5", false},
        {"a word", "yes", {}}, {"nothing", "", {}}, {"a line end after", "False\n", {}}, {"hex", "0x0", {}},
        {"not a number", "nan", {}}, {"an exponent without digits", "1e", {}}, {"a point alone", ".", {}},
        {"a hundred thousand digits", std::string(100000, '1'), true}};
    for (const auto& row : rows)
        EXPECT_EQ(parseBooleanText(row.text), row.value) << row.name;
}
}  // namespace
}  // namespace tallowcrest::testing
