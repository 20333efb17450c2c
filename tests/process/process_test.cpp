#include "library/track_scan.h"
#include "support/mp3_fixture.h"
#include "support/server_process.h"
#include "support/spin.h"
#include <gtest/gtest.h>
#include <numeric>
#include <random>

namespace tallowcrest::testing {
namespace {
using Step = std::pair<std::string, std::string>;  // a request and its whole reply
// The real server program on 30 s tracks on three levels (none ends while a test runs, so the server never speaks
// unasked), a file that is no track, and copies under long names that make unread lists more than the buffers hold.
struct ServerProgram : ::testing::Test {
    void SetUp() override
    {
        std::filesystem::create_directories(root() + "/Album/Deeper");
        for (const char* name : {"One.mp3", "Album/Two.mp3", "Album/Deeper/Three.MP3", "Four Space.mp3"}) {
            const std::string track = MakeMp3(dir.path(), name, 30.0);
            opens.push_back({"01" + track, "CODE_11" + std::string(TrackTitle(track))});
        }
        std::filesystem::copy_file(opens[0].first.substr(2), root() + "/Album/cover.jpg");
        for (int i = 0; i < 1000; ++i)
            std::filesystem::create_hard_link(opens[1].first.substr(2), root() + "/Album/" + std::string(200, 'c') + std::to_string(i) + ".mp3");
        std::string rows;
        ScanFolder(root() + "/", rows);
        list = {"00", "START" + rows + "END"};
        server = std::make_unique<ServerProcess>(root());
        ASSERT_EQ(server->startFailure(), "");
    }
    std::string root() const { return dir.path().toStdString(); }
    QTemporaryDir dir;
    std::vector<Step> opens;
    Step list;
    std::unique_ptr<ServerProcess> server;
};
using Soak = ServerProgram;
using Garbage = ServerProgram;
// One session: every reply exactly, then nothing more before the server closes behind the client's end of writing.
// A cut session leaves once the last reply has begun as expected: with a reset (1) or a close (2).
std::string session(uint16_t port, const std::vector<Step>& steps, int cut = 0)
{
    WireClient client;
    if (!client.connect(port, 10000))
        return "cannot connect";
    for (const Step& step : steps) {
        if (!client.send(step.first))
            return "cannot send " + step.first.substr(0, 2);
        const std::string got = client.receive(step.second.size());
        if (got != step.second && !(cut && &step == &steps.back() && got.starts_with(step.second)))
            return step.first.substr(0, 100) + " got \"" + got.substr(0, 100) + "\"";
    }
    if (cut == 1)
        client.reset();
    if (cut)
        return {};
    client.shutdownWrite();
    const std::string after = client.receiveUntil([](const std::string&) { return false; }, 30000);
    return after.empty() && client.peerClosed() ? "" : "then \"" + after.substr(0, 100) + "\" and no close";
}
// The items of a that b lacks, one a line; both sorted.
std::string listed(const std::vector<std::string>& a, const std::vector<std::string>& b = {})
{
    std::vector<std::string> missing;
    std::ranges::set_difference(a, b, std::back_inserter(missing));
    return std::accumulate(missing.begin(), missing.end(), std::string(), [](auto text, auto& item) {
        return text + "\n  " + item;
    });
}
TEST_F(Soak, ThousandsOfSessionsAreAnsweredExactlyAndLeaveNothingBehind)
{
    constexpr int kWarmUp = 100, kSessions = 5000;
    // After opening a track each session does one of these; the last two leave in the middle of the list.
    const std::vector<Step> kinds = {{"02", ""}, {"04", ""}, {"03", ""}, {"05", ""}, {"06", ""}, {"07True", ""},
        {"07False", ""}, {"01" + root() + "/None.mp3", "CODE_12"}, {std::string("99\0\xff junk", 9), ""}, list,
        {"00", "START"}, {"00", "START"}};
    // At rest the player is stopped, no connection is open, and no thread runs but the program's own: the idle
    // threads that Qt's and GLib's pools keep for a while after use (each of Qt's with a descriptor) have ended.
    const auto rest = [&](std::vector<std::string>& descriptors) {
        EXPECT_EQ(session(server->port(), {opens[0], {"03", ""}}), "");
        // Nor is the library index, which reads the media folder in the background at idle priority, holding any of it.
        const auto busy = [&](const std::string& d) {
            return (d.starts_with("socket tcp") && !d.starts_with("socket tcp LISTEN")) || d == root() || d.starts_with(root() + "/");
        };
        EXPECT_TRUE(SpinUntil([&] {
            return server->helperThreads().empty() && std::ranges::none_of(descriptors = server->openDescriptors(), busy);
        }, 60000)) << "never at rest; threads:" << listed(server->helperThreads()) << "\nopen:" << listed(descriptors);
    };
    std::vector<std::string> before, after;
    long resident = 0;
    for (int i = 0; i < kWarmUp + kSessions; ++i) {
        if (i == kWarmUp)
            rest(before), resident = server->residentKiB();
        const int kind = i % static_cast<int>(kinds.size());
        ASSERT_EQ(session(server->port(), {opens[i / kinds.size() % 4], kinds[kind]}, std::max(kind - 9, 0)), "")
            << "session " << i << "; the server " << (server->running() ? "runs: " : "has ended: ") << server->output();
    }
    rest(after);
    EXPECT_TRUE(after == before) << "kept:" << listed(after, before) << "\ngone:" << listed(before, after);
    // A kilobyte kept per session would pass this bound well before the end.
    EXPECT_TRUE(SpinUntil([&] { return server->residentKiB() <= resident + 4096; }, 20000)) << resident << " KiB";
}
TEST_F(Garbage, HostileClientsGetNoCrashNoHangAndTheServerKeepsServing)
{
    // The first open loads the player's plugins once; the bound is on what comes after.
    ASSERT_EQ(session(server->port(), {opens[0], list}), "");
    QThread::msleep(1000);
    const long resident = server->residentKiB();
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto junk = [&](std::size_t size) {  // any byte but a digit, so that no piece of a block reads as an opcode
        std::string bytes(size, '\0');
        for (char& c : bytes)
            c = static_cast<char>((c = static_cast<char>(random())) >= '0' && c <= '9' ? c | 0x80 : c);
        return bytes;
    };
    const char* prefixes[] = {"01", "02", "03", "04", "05", "06", "07", "08", "9", ""};
    const auto listRequest = [] { return std::string("00"); };
    struct Hostile {
        const char* what;
        std::function<std::string()> block;  // sent `times` times, pauseMs apart, nothing read meanwhile
        int times, pauseMs;
        std::string word;  // what comes back once it stops asking: copies of this, from least to most
        std::size_t least, most;  // none: it resets the connection once a reply has begun
    };
    const Hostile hostiles[] = {
        {"a 16 MiB block", [&] { return "01" + junk(16 << 20); }, 1, 0, "CODE_12", 1, 1},
        {"binary junk", [&] { return prefixes[random() % 10] + junk(random() % 4096); }, 300, 0, "CODE_12", 0, 300},
        {"a client that reads nothing until it stops asking", listRequest, 30, 200, list.second, 1, 30},
        {"a reset in the middle of unread lists", listRequest, 30, 200, "", 0, 0},
    };
    for (const Hostile& hostile : hostiles) {
        WireClient client;
        ASSERT_TRUE(client.connect(server->port(), 10000)) << hostile.what;
        for (int i = 0; i < hostile.times; ++i, QThread::msleep(hostile.pauseMs))
            client.send(hostile.block());
        if (hostile.word.empty()) {
            EXPECT_TRUE(client.receive(5).starts_with("START"));
            client.reset();
        } else {
            client.shutdownWrite();
            const std::string got = client.receiveUntil([](const std::string&) { return false; }, 120000);
            const std::size_t count = got.size() / hostile.word.size();  // copies of the word if they make up the reply
            const bool copies = got == QByteArray::fromStdString(hostile.word).repeated(int(count)).toStdString();
            EXPECT_TRUE(copies && count >= hostile.least && count <= hostile.most)
                << hostile.what << ": " << count << " copies of " << got.size() << " bytes";
        }
        ASSERT_EQ(session(server->port(), {opens[0], list}), "") << "after " << hostile.what << server->output();
    }
    EXPECT_TRUE(SpinUntil([&] { return server->residentKiB() <= resident + 8192; }, 20000)) << "memory not given back";
}
}  // namespace
}  // namespace tallowcrest::testing
