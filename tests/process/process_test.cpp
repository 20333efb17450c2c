// The real server program: thousands of short sessions answered exactly and
// nothing held on to afterwards; hostile clients get no crash and no hang.
#include "support/mp3_fixture.h"
#include "support/server_process.h"
#include "support/wire_client.h"

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>

namespace tallowcrest::testing {
namespace {

namespace fs = std::filesystem;
using Step = std::pair<std::string, std::string>;  // a request and its whole reply

// Real 30 s tracks on three levels (none ends while a test runs, so the
// server never speaks unasked), a file that is no track, and copies under
// long names that make a few unread lists more than the connection buffers.
struct Library {
    Library()
    {
        fs::create_directories(root() + "/Album/Deeper");
        fs::create_directories(root() + "/Copies");
        for (const auto& [name, title] : {std::pair{"One.mp3", "One"}, {"Album/Two.mp3", "Two"},
                                          {"Album/Deeper/Three.MP3", "Three"}, {"Four Space.mp3", "Four Space"}})
            opens.push_back({"01" + MakeMp3(dir.path(), name, 30.0), std::string("CODE_11") + title});
        fs::copy_file(opens[0].first.substr(2), root() + "/Album/cover.jpg");
        for (int i = 0; i < 1000; ++i)
            fs::create_hard_link(opens[1].first.substr(2), root() + "/Copies/" + std::string(200, 'c') + std::to_string(i) + ".mp3");
    }
    std::string root() const { return dir.path().toStdString(); }

    QTemporaryDir dir;
    std::vector<Step> opens;
};

// A fresh client's list, checked against an independent walk of the folder.
std::string checkedList(uint16_t port, const std::string& root)
{
    std::vector<std::string> walked, listed;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && (entry.path().extension() == ".mp3" || entry.path().extension() == ".MP3"))
            walked.push_back(entry.path().string());
    }
    WireClient client;
    EXPECT_TRUE(client.connect(port, 10000) && client.send("00"));
    const std::string reply = client.receiveUntilSuffix("\r\nEND", 30000);
    EXPECT_TRUE(reply.starts_with("START") && reply.ends_with("\r\nEND")) << reply.substr(0, 100);
    for (std::size_t at = 5, end; (end = reply.find("\r\n", at)) != std::string::npos; at = end + 2)
        listed.push_back(reply.substr(at, end - at));
    std::sort(walked.begin(), walked.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, walked);
    return reply;
}

// One session: every reply exactly, then nothing more before the server
// closes behind the client's end of writing. A cut session leaves once the
// last reply has begun as expected: with a reset (1) or a close (2).
std::string session(uint16_t port, const std::vector<Step>& steps, int cut = 0)
{
    WireClient client;
    if (!client.connect(port, 10000))
        return "cannot connect";
    for (const auto& [request, reply] : steps) {
        if (!client.send(request))
            return "cannot send " + request.substr(0, 2);
        const std::string got = client.receiveUntil([size = reply.size()](const std::string& s) { return s.size() >= size; }, 30000);
        if (got != reply && !(cut && &reply == &steps.back().second && got.starts_with(reply)))
            return request.substr(0, 100) + " got \"" + got.substr(0, 100) + "\"";
    }
    if (cut == 1)
        client.reset();
    if (cut)
        return {};
    client.shutdownWrite();
    const std::string after = client.receiveUntil([](const std::string&) { return false; }, 30000);
    return after.empty() && client.peerClosed() ? "" : "then \"" + after.substr(0, 100) + "\", closed: " + std::to_string(client.peerClosed());
}

// Waits up to 20 s for value() to come down to bound; returns the last value.
long settled(const std::function<long()>& value, long bound)
{
    long now = value();
    for (QDeadlineTimer deadline(20000); now > bound && !deadline.hasExpired(); now = value())
        QThread::msleep(100);
    return now;
}

// How many copies of word make up the whole text; -1 when anything else is there.
int copies(const std::string& text, const std::string& word)
{
    for (std::size_t at = 0; at < text.size(); at += word.size()) {
        if (text.compare(at, word.size(), word) != 0)
            return -1;
    }
    return static_cast<int>(text.size() / word.size());
}

TEST(Soak, ThousandsOfSessionsAreAnsweredExactlyAndLeaveNothingBehind)
{
    constexpr int kWarmUp = 100, kSessions = 5000;
    const Library library;
    ServerProcess server(library.root());
    ASSERT_EQ(server.startFailure(), "");
    const std::string list = checkedList(server.port(), library.root());
    // After opening a track each session does one of these; the last two
    // leave in the middle of the list, with a reset and with a close.
    const std::vector<Step> kinds = {{"02", ""}, {"04", ""}, {"03", ""}, {"05", ""}, {"06", ""}, {"07True", ""},
        {"07False", ""}, {"01" + library.root() + "/None.mp3", "CODE_12"}, {std::string("99\0\xff junk", 9), ""},
        {"00", list}, {"00", "START"}, {"00", "START"}};
    long descriptors = 0, resident = 0;
    for (int i = 0; i < kWarmUp + kSessions; ++i) {
        if (i == kWarmUp) {
            QThread::msleep(1000);
            descriptors = server.openDescriptorCount();
            resident = server.residentKiB();
        }
        const int kind = i % static_cast<int>(kinds.size());
        ASSERT_EQ(session(server.port(), {library.opens[i / kinds.size() % 4], kinds[kind]}, std::max(kind - 9, 0)), "")
            << "session " << i << "; the server " << (server.running() ? "runs: " : "has ended: ") << server.output();
    }
    EXPECT_LE(settled([&] { return server.openDescriptorCount(); }, descriptors), descriptors);
    // A kilobyte kept per session would pass this bound well before the end.
    EXPECT_LE(settled([&] { return server.residentKiB(); }, resident + 4096), resident + 4096);
    EXPECT_EQ(checkedList(server.port(), library.root()), list);
}

TEST(Garbage, HostileClientsGetNoCrashNoHangAndTheServerKeepsServing)
{
    const Library library;
    ServerProcess server(library.root());
    ASSERT_EQ(server.startFailure(), "");
    const std::string list = checkedList(server.port(), library.root());
    // The first open loads the player's plugins once; the bound is on what comes after.
    ASSERT_EQ(session(server.port(), {library.opens[0], {"00", list}}), "");
    QThread::msleep(1000);
    const long resident = server.residentKiB();
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // Any byte but a digit, so that no piece of a block reads as an opcode.
    const auto junk = [&](std::size_t size) {
        std::string bytes(size, '\0');
        for (char& c : bytes)
            c = static_cast<char>((c = static_cast<char>(random())) >= '0' && c <= '9' ? c | 0x80 : c);
        return bytes;
    };
    const auto never = [](const std::string&) { return false; };
    const auto unreadLists = [](WireClient& client) {
        for (int i = 0; i < 30; ++i, QThread::msleep(200))
            client.send("00");
    };
    const char* prefixes[] = {"01", "02", "03", "04", "05", "06", "07", "08", "9", ""};
    struct Hostile {
        const char* what;
        std::function<std::string(WireClient&)> act;
        std::string word;  // what the client gets back: copies of this, from least to most
        int least, most;
    };
    const Hostile hostiles[] = {
        {"a 16 MiB block", [&](WireClient& c) { c.send("01" + junk(16 << 20)); c.shutdownWrite(); return c.receiveUntil(never, 60000); },
         "CODE_12", 1, 1},
        {"binary junk", [&](WireClient& c) {
             for (int i = 0; i < 300; ++i)
                 c.send(prefixes[random() % 10] + junk(random() % 4096));
             c.shutdownWrite();
             return c.receiveUntil(never, 60000);
         }, "CODE_12", 0, 300},
        {"a client that reads nothing until it stops asking", [&](WireClient& c) {
             unreadLists(c);
             c.shutdownWrite();
             return c.receiveUntil(never, 120000);
         }, list, 1, 30},
        {"a reset in the middle of unread lists", [&](WireClient& c) {
             unreadLists(c);
             const std::string got = c.receiveUntil([](const std::string& s) { return s.size() >= 5; });
             c.reset();
             return got.substr(0, 5);
         }, "START", 1, 1},
    };
    for (const Hostile& hostile : hostiles) {
        WireClient client;
        ASSERT_TRUE(client.connect(server.port(), 10000)) << hostile.what;
        const int count = copies(hostile.act(client), hostile.word);
        EXPECT_TRUE(count >= hostile.least && count <= hostile.most) << hostile.what << ": " << count << " copies";
        ASSERT_TRUE(server.running()) << hostile.what << ": " << server.output();
        EXPECT_EQ(session(server.port(), {library.opens[0], {"00", list}}), "") << "after " << hostile.what;
    }
    // What the huge block and the unread lists took is given back.
    EXPECT_LE(settled([&] { return server.residentKiB(); }, resident + 8192), resident + 8192);
}

}  // namespace
}  // namespace tallowcrest::testing
