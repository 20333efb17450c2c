// The folder scan on real trees: order, the name filter, links and cycles,
// names no line can hold, paths past the kernel's limit, unreadable folders.
#include "library/track_scan.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <sys/fsuid.h>
#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace tallowcrest {
namespace {

using namespace std::string_literals;
using Lines = std::multiset<std::string>;

// A fresh folder per test. "x/" makes a folder, "x -> target" a link,
// anything else an empty file; names are raw bytes.
class ScanTest : public ::testing::Test {
protected:
    // QTemporaryDir cannot remove names that are not valid in the locale.
    void TearDown() override { std::filesystem::remove_all(m_root); }

    void make(const std::string& under, const std::vector<std::string>& entries)
    {
        for (const std::string& entry : entries) {
            const std::size_t arrow = entry.find(" -> ");
            const std::string path = under + entry.substr(0, arrow);
            if (arrow != std::string::npos)
                std::filesystem::create_symlink(entry.substr(arrow + 4), path);
            else if (entry.ends_with('/'))
                std::filesystem::create_directory(path);
            else
                ASSERT_TRUE(std::ofstream(path).is_open()) << path;
        }
    }

    // The pieces for the entries of folder, in the order readdir delivers
    // them: the file system, not the test, decides that order.
    std::string inReaddirOrder(const std::string& folder, const std::map<std::string, std::string>& pieces)
    {
        std::string joined;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (const auto piece = pieces.find(entry.path().filename()); piece != pieces.end())
                joined += piece->second;
        }
        return joined;
    }

    // The lines of a scan of top + from, each without top.
    Lines scan(const std::string& top, const std::string& from = "")
    {
        std::string buffer;
        ScanFolder(top + from, buffer);
        EXPECT_TRUE(buffer.empty() || buffer.ends_with("\r\n")) << buffer;
        Lines lines;
        for (std::size_t start = 0, end; (end = buffer.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.insert(buffer.substr(start + top.size(), end - start - top.size()));
        return lines;
    }

    QTemporaryDir m_temp;
    const std::string m_root = m_temp.path().toStdString() + "/";
};

// Wide enough for the walk to be shared out between threads; each subtree
// still ends the cycle through the link that leads back to the top.
TEST_F(ScanTest, TracksComeInPreOrderWithEachSubtreeWhereItsFolderStands)
{
    make(m_root, {"a.mp3"});
    for (int a = 0; a < 8; ++a) {
        const std::string top = "A" + std::to_string(a) + "/";
        make(m_root, {top, top + "a.Mp3"});
        for (int b = 0; b < 12; ++b) {
            const std::string sub = top + "B" + std::to_string(b) + "/";
            make(m_root, {sub, sub + "t.MP3", sub + "Deep/", sub + "Deep/d.mp3", sub + "Deep/up -> ../../.."});
        }
    }
    std::string expected = "kept\r\n";
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_root)) {
        if (entry.is_regular_file())
            expected += entry.path().string() + "\r\n";
    }
    std::string buffer = "kept\r\n";
    // Nothing comes from what is no folder.
    ScanFolder(m_root + "missing/", buffer);
    ScanFolder(m_root + "a.mp3/", buffer);
    ScanFolder(m_root, buffer);
    EXPECT_EQ(buffer, expected);
}

TEST_F(ScanTest, TheFilterLooksAtTheLastThreeCharactersOfFilesOnly)
{
    const std::vector<std::string> tracks = {"Track01.mp3", "LIVE.MP3", "x.mP3", "demo_mp3", "mp3",
                                             ".h.mp3", ".hidden/in.mp3", "Best.mp3/x.mp3", "Caf\xe9/\xe9t\xe9 \xff.mp3"};
    make(m_root, {".hidden/", "Best.mp3/", "Caf\xe9/", "p3", "song.mp3.bak", "song.mp4", "blank.mp3 ", "m3p",
                  "line\nbreak.mp3", "carriage\rreturn.mp3", "bad\nfolder/", "bad\nfolder/in.mp3"});
    make(m_root, tracks);
    EXPECT_EQ(scan(m_root), Lines(tracks.begin(), tracks.end()));
}

TEST_F(ScanTest, LinksAreFollowedAndCyclesEndWhereTheyComeRound)
{
    struct Case { const char* name; std::vector<std::string> tree; std::string from; Lines expected; };
    const Case cases[] = {
        {"ancestor", {"top.mp3", "A/", "A/a.mp3", "A/B/", "A/B/b.mp3", "A/B/toTop -> ../..", "A/B/up -> ..",
                      "A/self -> ."}, "", {"top.mp3", "A/a.mp3", "A/B/b.mp3"}},
        // Started inside the loop, the other folder is listed once through
        // the link before the loop comes round.
        {"loop", {"A/", "A/a.mp3", "B/", "B/b.mp3", "A/toB -> ../B", "B/toA -> ../A"}, "A/", {"A/a.mp3", "A/toB/b.mp3"}},
        {"plain", {"X/", "X/x.mp3", "X/Y/", "X/Y/y.mp3", "X/Y/back -> ..", "shortcut -> X/Y"}, "",
         {"X/x.mp3", "X/Y/y.mp3", "shortcut/y.mp3", "shortcut/back/x.mp3"}},
        {"twice", {"real/", "real/x.mp3", "first -> real", "second -> real/", "alias.mp3 -> real/x.mp3",
                   "alias.txt -> real/x.mp3", "dangling.mp3 -> nowhere", "dangling -> nowhere"}, "",
         {"real/x.mp3", "first/x.mp3", "second/x.mp3", "alias.mp3", "dangling.mp3"}},
    };
    for (const Case& c : cases) {
        const std::string top = m_root + c.name + "/";
        make(m_root, {c.name + "/"s});
        make(top, c.tree);
        EXPECT_EQ(scan(top, c.from), c.expected) << c.name;
    }
}

TEST_F(ScanTest, PathsLongerThanTheKernelLimitAreStillWalked)
{
    const std::string name(200, 'd');
    make(m_root, {"top.mp3"});
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(m_root);
    std::string deep;
    for (; m_root.size() + deep.size() <= PATH_MAX; deep += name + "/") {
        std::filesystem::create_directory(name);
        std::filesystem::current_path(name);
    }
    std::ofstream("deep.mp3");
    std::filesystem::current_path(here);
    EXPECT_EQ(scan(m_root), (Lines{"top.mp3", deep + "deep.mp3"}));
}

TEST_F(ScanTest, AnUnreadableFolderAddsNothingAndTheWalkGoesOn)
{
    ASSERT_EQ(::chmod(m_root.c_str(), 0755), 0);
    make(m_root, {"a.mp3", "Locked/", "Locked/hidden.mp3", "Listable/", "Listable/seen.mp3"});
    ASSERT_EQ(::chmod((m_root + "Locked").c_str(), 0), 0);
    std::string buffer;
    const int was = ::setfsuid(65534);  // as nobody on this thread: root reads any folder
    ScanFolder(m_root, buffer);
    ::setfsuid(was);
    ::chmod((m_root + "Locked").c_str(), 0755);
    EXPECT_EQ(buffer, inReaddirOrder(m_root, {{"a.mp3", m_root + "a.mp3\r\n"},
                                              {"Listable", m_root + "Listable/seen.mp3\r\n"}}));
}

TEST(TrackText, TrimAtNulKeepsWhatComesBeforeTheFirstNul)
{
    for (const auto& [name, text, expected] :
         {std::tuple{"a NUL inside", "abc\0def"s, "abc"}, {"a NUL first", "\0abc"s, ""}, {"no NUL", "abc"s, "abc"},
          {"empty", ""s, ""}, {"NULs last", "abc\0\0\0"s, "abc"}})
        EXPECT_EQ(TrimAtNul(text), expected) << name;
}

TEST(TrackText, AFolderGetsOneTrailingSeparator)
{
    for (const auto& [name, folder, expected] :
         {std::tuple{"without one", "/m", "/m/"}, {"with one", "/m/", "/m/"}, {"empty", "", "/"}})
        EXPECT_EQ(withTrailingSeparator(folder), expected) << name;
}

}  // namespace
}  // namespace tallowcrest
