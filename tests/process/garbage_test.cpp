// Random bytes over TCP against the real server program: it answers only in
// its own vocabulary, stays up, and lets go of what a huge block took.
#include "process/process_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>
#include <thread>

namespace tallowcrest::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConnections = 6;
constexpr int kBlocksPerConnection = 500;

// What the server may send a client that never opened a track: "CODE_12"
// (a request to open something that is no file, or to play, stop or pause
// with nothing loaded) and the whole list for a block that begins with "00".
// Returns the first bytes that are neither.
std::string OutsideTheVocabulary(std::string_view sent, const std::string& list)
{
    while (!sent.empty()) {
        if (sent.starts_with("CODE_12"))
            sent.remove_prefix(7);
        else if (sent.starts_with(list))
            sent.remove_prefix(list.size());
        else
            return Printable(sent);
    }
    return {};
}

class Garbage {
public:
    explicit Garbage(uint64_t seed) : random_(seed) {}

    std::string Block()
    {
        std::string block;
        switch (Below(16)) {
        case 0:  // a list request with junk after it; each costs the list's pause
            if (Below(8) == 0)
                block = "00";
            break;
        case 1: case 2: case 3: case 4: case 5:
            block = "0" + std::to_string(1 + Below(7));  // "01" to "07" and junk
            break;
        case 6:
            block = "07" + std::string(Below(65536), static_cast<char>('0' + Below(10)));
            break;
        case 7:
            block = "01/" + Bytes(Below(300), "/.mp3\r\n ");
            break;
        }
        const std::size_t size = Size();
        switch (Below(3)) {
        case 0: block += Bytes(size, {}); break;
        case 1: block += Bytes(size, std::string("\0\x80\xfe\xff", 4)); break;
        default: block += Bytes(size, "0123456789\r\n"); break;
        }
        return block;
    }

    std::string Bytes(std::size_t size, const std::string& alphabet)
    {
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            const uint64_t r = random_();
            c = alphabet.empty() ? static_cast<char>(r)
                                 : (r & 1) ? alphabet[(r >> 1) % alphabet.size()]
                                           : static_cast<char>(r >> 8);
        }
        return bytes;
    }

private:
    uint64_t Below(uint64_t bound) { return random_() % bound; }

    // Mostly a few bytes, sometimes a few KiB, now and then up to 64 KiB.
    std::size_t Size()
    {
        switch (Below(10)) {
        case 0: return Below(65537);
        case 1: case 2: return Below(4097);
        default: return Below(17);
        }
    }

    std::mt19937_64 random_;
};

uint64_t ChosenSeed()
{
    if (const char* given = std::getenv("TALLOWCREST_GARBAGE_SEED"))
        return std::strtoull(given, nullptr, 10);
    return std::random_device{}();
}

TEST(Garbage, RandomBlocksGetOnlyProtocolRepliesAndAHugeBlockIsLetGo)
{
    const auto began = Clock::now();
    const uint64_t seed = ChosenSeed();
    SCOPED_TRACE("seed " + std::to_string(seed) + " (run again with TALLOWCREST_GARBAGE_SEED=" + std::to_string(seed)
                 + ")");
    const SmallLibrary library;
    ServerProcess server(library.Root());
    ASSERT_EQ(server.StartFailure(), "");
    const std::string list = RequestCheckedList(server, library);
    ASSERT_FALSE(HasFailure()) << server.Output();

    Garbage garbage(seed);
    for (int connection = 0; connection < kConnections; ++connection) {
        WireClient client;
        ASSERT_TRUE(client.Connect(server.Port())) << "connection " << connection;
        std::string received;
        for (int block = 0; block < kBlocksPerConnection; ++block) {
            ASSERT_TRUE(client.Send(garbage.Block())) << "connection " << connection << ", block " << block;
            // A moment between blocks, so most of them arrive as requests of
            // their own; the server answers whatever arrived as one.
            received += client.ReadQuiet(2);
        }
        client.ShutdownWrite();
        bool closed = false;
        received += client.ReadToEnd(30000, &closed);
        EXPECT_TRUE(closed) << "connection " << connection;
        ASSERT_EQ(OutsideTheVocabulary(received, list), "") << "connection " << connection;
        ASSERT_TRUE(server.Running()) << server.Output();
    }
    EXPECT_EQ(RequestCheckedList(server, library), list);

    const long residentBefore = server.ResidentKiB();
    const long peakBefore = server.PeakResidentKiB();
    {
        WireClient client;
        ASSERT_TRUE(client.Connect(server.Port()));
        ASSERT_TRUE(client.Send("01" + garbage.Bytes(16 << 20, std::string("\0\x80\xff/", 4))));
        client.ShutdownWrite();
        bool closed = false;
        const std::string received = client.ReadToEnd(60000, &closed);
        EXPECT_TRUE(closed);
        EXPECT_EQ(OutsideTheVocabulary(received, list), "");
    }
    const long residentPeak = server.PeakResidentKiB();
    EXPECT_EQ(RequestCheckedList(server, library), list) << "the next list request is served";
    // The block passes through the socket's buffers in pieces, which takes
    // the server some 8 MiB above where it was; once they are freed the
    // allocator keeps up to about 3 MiB for later. 5 MiB allows for that,
    // while a block (or a large part of it) kept would go past it.
    long residentAfter = server.ResidentKiB();
    for (const auto deadline = Clock::now() + std::chrono::seconds(5);
         residentAfter > residentBefore + 5 * 1024 && Clock::now() < deadline;
         residentAfter = server.ResidentKiB())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LE(residentAfter, residentBefore + 5 * 1024)
        << "resident memory " << residentBefore << " KiB before the 16 MiB block, " << residentAfter << " KiB after";
    EXPECT_TRUE(server.Running()) << server.Output();

    std::cout << "[ garbage ] seed " << seed << "; " << kConnections * kBlocksPerConnection << " blocks and one of 16 MiB; "
              << std::chrono::duration<double>(Clock::now() - began).count() << " s; resident " << residentBefore
              << " KiB before the big block (peak so far " << peakBefore << "), peak " << residentPeak << ", " << residentAfter << " at the end"
              << std::endl;
}

}  // namespace
}  // namespace tallowcrest::testing
