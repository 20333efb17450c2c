// The folder scan on real trees: order, the name filter, links and cycles,
// names no line can hold, paths past the kernel's limit, unreadable folders.
#include "library/track_scan.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tallowcrest {
namespace {

using namespace std::string_literals;
using Lines = std::multiset<std::string>;

// A fresh folder per test. "x/" makes a folder, "x -> target" a link,
// anything else an empty file; names are raw bytes.
class ScanTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // QTemporaryDir cannot remove names that are not valid in the locale.
        auto remove = [](const char* path, const struct stat*, int, FTW* walk) {
            return walk->level > 0 ? (::remove(path), 0) : 0;
        };
        ::nftw(m_root.c_str(), remove, 16, FTW_DEPTH | FTW_PHYS);
    }

    void make(const std::string& under, const std::vector<std::string>& entries)
    {
        for (const std::string& entry : entries) {
            const std::size_t arrow = entry.find(" -> ");
            const std::string path = under + entry.substr(0, arrow);
            int result = 0;
            if (arrow != std::string::npos)
                result = ::symlink(entry.substr(arrow + 4).c_str(), path.c_str());
            else if (entry.ends_with('/'))
                result = ::mkdir(path.c_str(), 0755);
            else if ((result = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)) >= 0)
                result = ::close(result);
            ASSERT_EQ(result, 0) << path << ": " << std::strerror(errno);
        }
    }

    // The pieces for the entries of folder, in the order readdir delivers
    // them: the file system, not the test, decides that order.
    std::string inReaddirOrder(const std::string& folder, const std::map<std::string, std::string>& pieces)
    {
        std::string joined;
        DIR* dir = ::opendir(folder.c_str());
        while (const dirent* entry = dir ? ::readdir(dir) : nullptr) {
            if (const auto piece = pieces.find(entry->d_name); piece != pieces.end())
                joined += piece->second;
        }
        ::closedir(dir);
        return joined;
    }

    // The lines of a scan of top + from, each without top.
    Lines scan(const std::string& top, const std::string& from = "")
    {
        std::string buffer;
        ScanFolder(top + from, buffer);
        Lines lines;
        for (std::size_t start = 0, end; start < buffer.size(); start = end + 2) {
            end = buffer.find("\r\n", start);
            EXPECT_NE(end, std::string::npos) << "a line without CR LF";
            lines.insert(buffer.substr(start, end - start).substr(top.size()));
        }
        return lines;
    }

    QTemporaryDir m_temp;
    const std::string m_root = m_temp.path().toStdString() + "/";
};

TEST_F(ScanTest, TracksComeInPreOrderWithEachSubtreeWhereItsFolderStands)
{
    make(m_root, {"a.mp3", "Sub/", "Sub/b.MP3", "Sub/notes.txt", "Sub/Inner/", "Sub/Inner/i.mp3", "c.Mp3", "d.wav"});
    const std::string sub = inReaddirOrder(m_root + "Sub", {{"b.MP3", m_root + "Sub/b.MP3\r\n"},
                                                            {"Inner", m_root + "Sub/Inner/i.mp3\r\n"}});
    std::string buffer = "kept\r\n";
    ScanFolder(m_root, buffer);
    EXPECT_EQ(buffer, "kept\r\n" + inReaddirOrder(m_root, {{"a.mp3", m_root + "a.mp3\r\n"},
                                                           {"Sub", sub},
                                                           {"c.Mp3", m_root + "c.Mp3\r\n"}}));
    TrackListBuffer = "earlier\r\n";
    ScanFolder(m_root + "Sub/Inner/");
    ScanFolder(m_root + "Sub/Inner/");
    EXPECT_EQ(TrackListBuffer, "earlier\r\n" + m_root + "Sub/Inner/i.mp3\r\n" + m_root + "Sub/Inner/i.mp3\r\n");
    TrackListBuffer.clear();
}

TEST_F(ScanTest, TheFolderTextIsThePrefixExactlyAsGiven)
{
    make(m_root, {"Music/", "Music/a.mp3", "empty/", "plain.mp3"});
    const std::pair<std::string, Lines> cases[] = {
        {"Music/", {"Music/a.mp3"}},  {"Music//", {"Music//a.mp3"}}, {"Music/../Music/", {"Music/../Music/a.mp3"}},
        {"Music", {"Musica.mp3"}},    {"empty/", {}},                {"missing/", {}},
        {"plain.mp3/", {}},           {"plain.mp3", {}}};
    for (const auto& [folder, expected] : cases)
        EXPECT_EQ(scan(m_root, folder), expected) << folder;
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
    struct Case {
        const char* name;
        std::vector<std::string> tree;
        std::string from;
        Lines expected;
    };
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
    std::vector<int> levels{::open(m_root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    std::string deep;
    while (m_root.size() + deep.size() <= PATH_MAX) {
        ASSERT_EQ(::mkdirat(levels.back(), name.c_str(), 0755), 0);
        levels.push_back(::openat(levels.back(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        deep += name + "/";
    }
    ::close(::openat(levels.back(), "deep.mp3", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    EXPECT_EQ(scan(m_root), (Lines{"top.mp3", deep + "deep.mp3"}));

    ::unlinkat(levels.back(), "deep.mp3", 0);
    for (std::size_t level = levels.size() - 1; level > 0; --level) {
        ::close(levels[level]);
        ::unlinkat(levels[level - 1], name.c_str(), AT_REMOVEDIR);
    }
    ::close(levels[0]);
}

TEST_F(ScanTest, AnUnreadableFolderAddsNothingAndTheWalkGoesOn)
{
    ASSERT_EQ(::chmod(m_root.c_str(), 0755), 0);
    make(m_root, {"a.mp3", "Locked/", "Locked/hidden.mp3", "Listable/", "Listable/seen.mp3"});
    ASSERT_EQ(::chmod((m_root + "Locked").c_str(), 0), 0);
    // Root reads any folder, so the walk runs in a child that gives root up.
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    if (::fork() == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        std::string buffer;
        ScanFolder(m_root, buffer);
        ::_exit(::write(channel[1], buffer.data(), buffer.size()) == ssize_t(buffer.size()) ? 0 : 3);
    }
    ::close(channel[1]);
    char chunk[PIPE_BUF];
    const ssize_t got = ::read(channel[0], chunk, sizeof chunk);
    ::close(channel[0]);
    ::wait(nullptr);
    ::chmod((m_root + "Locked").c_str(), 0755);
    ASSERT_GT(got, 0);
    const std::string buffer(chunk, static_cast<std::size_t>(got));
    EXPECT_EQ(buffer.size(), 2 * m_root.size() + "a.mp3\r\nListable/seen.mp3\r\n"s.size()) << buffer;
    EXPECT_EQ(buffer.find("hidden"), std::string::npos);
}

TEST(TrackText, TrimAtNulTrackTitleAndTheFolderCheck)
{
    const std::pair<std::string, std::string> trimmed[] = {
        {"abc\0def"s, "abc"}, {"\0abc"s, ""}, {"abc", "abc"}, {"", ""}, {"abc\0\0\0"s, "abc"}};
    for (const auto& [text, expected] : trimmed)
        EXPECT_EQ(TrimAtNul(text), expected) << text;
    const std::pair<std::string, std::string> titles[] = {
        {"/x/Music/Song.mp3", "Song"}, {"Song.mp3", "Song"}, {"/x/Music/demo_mp3", "demo"},
        {"/x/Best.mp3/x.mp3", "x"},    {"/x/.mp3", ""},      {"/x/\xe9t\xe9.mp3", "\xe9t\xe9"},
        {"/x/Music/mp3", ""},          {"/x/Music/", ""},    {"", ""}};
    for (const auto& [path, expected] : titles)
        EXPECT_EQ(TrackTitle(path), expected) << path;
    for (const auto& [folder, passes] : std::vector<std::pair<std::string, bool>>{
             {"/", true}, {"/etc/hostname", true}, {"", false}, {"/no/such/folder", false}, {"not set", false}})
        EXPECT_EQ(folderCheckPasses(folder), passes) << folder;
    EXPECT_EQ(withTrailingSeparator("/m") + withTrailingSeparator("/m/") + withTrailingSeparator(""), "/m//m//");
}

}  // namespace
}  // namespace tallowcrest
