#include "library/track_scan.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include "library/scan_tree.h"

namespace tallowcrest {
namespace {

using testing::InReaddirOrder;
using testing::MakeTree;
using Lines = std::multiset<std::string>;

// The lines of a buffer, each without the `top` it starts with; a piece not
// ended by CR LF fails the test.
Lines LinesOf(const std::string& buffer, const std::string& top)
{
    Lines lines;
    for (std::size_t start = 0, end; start < buffer.size(); start = end + 2) {
        if ((end = buffer.find("\r\n", start)) == std::string::npos) {
            ADD_FAILURE() << "buffer does not end with CR LF: " << buffer.substr(start);
            break;
        }
        const std::string line = buffer.substr(start, end - start);
        lines.insert(line.starts_with(top) ? line.substr(top.size()) : line);
    }
    return lines;
}

Lines Scan(const std::string& top, const std::string& from = "")
{
    std::string buffer;
    ScanFolder(top + from, buffer);
    return LinesOf(buffer, top);
}

using ScanFolderTest = testing::TreeTest;

TEST_F(ScanFolderTest, ListsTracksInPreOrderWithEachSubtreeWhereItsFolderStands)
{
    MakeTree(root_, {"a.mp3", "Sub/", "Sub/b.MP3", "Sub/notes.txt", "Sub/Inner/", "Sub/Inner/i.mp3", "c.Mp3",
                     "d.wav"});
    const std::string sub = InReaddirOrder(root_ + "Sub", {{"b.MP3", root_ + "Sub/b.MP3\r\n"},
                                                           {"Inner", root_ + "Sub/Inner/i.mp3\r\n"}});
    const std::string expected = InReaddirOrder(
        root_, {{"a.mp3", root_ + "a.mp3\r\n"}, {"Sub", sub}, {"c.Mp3", root_ + "c.Mp3\r\n"}});

    std::string buffer;
    ScanFolder(root_, buffer);
    EXPECT_EQ(buffer, expected);
}

TEST_F(ScanFolderTest, FolderTextIsThePrefixExactlyAsGiven)
{
    // "empty/" delivers only "." and ".."; the rest cannot be listed at all.
    MakeTree(root_, {"Music/", "Music/a.mp3", "empty/", "plain.mp3"});
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Music/", "Music/a.mp3"},  {"Music//", "Music//a.mp3"}, {"Music/../Music/", "Music/../Music/a.mp3"},
        {"Music", "Musica.mp3"},    {"empty/", ""},              {"missing/", ""},
        {"plain.mp3/", ""},         {"plain.mp3", ""}};
    for (const auto& [folder, line] : cases) {
        std::string buffer = "kept\r\n";
        ScanFolder(root_ + folder, buffer);
        EXPECT_EQ(buffer, "kept\r\n" + (line.empty() ? "" : root_ + line + "\r\n")) << folder;
    }
    std::string buffer;
    ScanFolder("", buffer);
    EXPECT_EQ(buffer, "");
}

TEST_F(ScanFolderTest, NameFilterLooksAtTheLastThreeCharactersOfFilesOnly)
{
    const std::vector<std::string> tracks = {"Track01.mp3", "LIVE.MP3",       "x.mP3",         "demo_mp3",
                                             "mp3",         ".h.mp3",         ".hidden/in.mp3", "Best.mp3/x.mp3"};
    MakeTree(root_, {".hidden/", "Best.mp3/", "p3", "3", "song.mp3.bak", "song.mp4", "blank.mp3 ", "m3p"});
    MakeTree(root_, tracks);
    EXPECT_EQ(Scan(root_), Lines(tracks.begin(), tracks.end()));
}

TEST_F(ScanFolderTest, ScansAppendSoTwoScansListEveryTrackTwice)
{
    MakeTree(root_, {"a.mp3", "Sub/", "Sub/b.mp3"});
    const std::string once =
        InReaddirOrder(root_, {{"a.mp3", root_ + "a.mp3\r\n"}, {"Sub", root_ + "Sub/b.mp3\r\n"}});
    TrackListBuffer = "earlier\r\n";
    ScanFolder(root_);
    ScanFolder(root_);
    EXPECT_EQ(TrackListBuffer, "earlier\r\n" + once + once);
    TrackListBuffer.clear();
}

TEST_F(ScanFolderTest, LinksAreFollowedAndCyclesEndWhereTheyComeRound)
{
    struct Case {
        const char* name;
        std::vector<std::string> tree;
        std::string from;
        Lines expected;
    };
    const Case cases[] = {
        {"ancestor", {"top.mp3", "A/", "A/a.mp3", "A/B/", "A/B/b.mp3", "A/B/toTop -> ../..", "A/B/up -> ..",
                      "A/self -> ."},
         "", {"top.mp3", "A/a.mp3", "A/B/b.mp3"}},
        // Started inside the loop, the other folder is listed once through
        // the link before the loop comes round.
        {"loop", {"A/", "A/a.mp3", "B/", "B/b.mp3", "A/toB -> ../B", "B/toA -> ../A"},
         "A/", {"A/a.mp3", "A/toB/b.mp3"}},
        // Through "shortcut" and "back" the walk is in X again, whose plain
        // sub-folder Y is then already on the way down.
        {"plain", {"X/", "X/x.mp3", "X/Y/", "X/Y/y.mp3", "X/Y/back -> ..", "shortcut -> X/Y"},
         "", {"X/x.mp3", "X/Y/y.mp3", "shortcut/y.mp3", "shortcut/back/x.mp3"}},
        {"twice", {"real/", "real/x.mp3", "first -> real", "second -> real/", "alias.mp3 -> real/x.mp3",
                   "alias.txt -> real/x.mp3", "dangling.mp3 -> nowhere", "dangling -> nowhere"},
         "", {"real/x.mp3", "first/x.mp3", "second/x.mp3", "alias.mp3", "dangling.mp3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string top = root_ + c.name + "/";
        MakeTree(root_, {c.name + std::string("/")});
        MakeTree(top, c.tree);
        EXPECT_EQ(Scan(top, c.from), c.expected);
    }
}

TEST_F(ScanFolderTest, NamesWithLineBreaksAreSkippedAndOtherBytesKeptAsTheyAre)
{
    MakeTree(root_, {"a.mp3", "line\nbreak.mp3", "carriage\rreturn.mp3", "bad\nfolder/", "bad\nfolder/in.mp3",
                     "Caf\xe9/", "Caf\xe9/\xe9t\xe9 \xff.mp3", "z.mp3"});
    EXPECT_EQ(Scan(root_), (Lines{"a.mp3", "Caf\xe9/\xe9t\xe9 \xff.mp3", "z.mp3"}));
}

TEST_F(ScanFolderTest, PathsLongerThanTheKernelLimitAreStillWalked)
{
    // Whole paths fail at this depth, so the chain is built and removed level
    // by level.
    const std::string name(200, 'd');
    MakeTree(root_, {"top.mp3"});
    std::vector<int> levels{::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    std::string deep;
    while (root_.size() + deep.size() <= PATH_MAX) {
        ASSERT_EQ(::mkdirat(levels.back(), name.c_str(), 0755), 0);
        levels.push_back(::openat(levels.back(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        deep += name + "/";
    }
    ::close(::openat(levels.back(), "deep.mp3", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));

    EXPECT_EQ(Scan(root_), (Lines{"top.mp3", deep + "deep.mp3"}));

    ::unlinkat(levels.back(), "deep.mp3", 0);
    for (std::size_t level = levels.size() - 1; level > 0; --level) {
        ::close(levels[level]);
        ::unlinkat(levels[level - 1], name.c_str(), AT_REMOVEDIR);
    }
    ::close(levels[0]);
}

// Root reads folders whatever their permission bits say, so the walk runs in
// a child that gives root up and hands its buffer back through a pipe (in one
// write: the buffer is shorter than the pipe's atomic size).
std::string ScanAsUnprivilegedUser(const std::string& folder)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        std::string buffer;
        ScanFolder(folder, buffer);
        ::_exit(::write(channel[1], buffer.data(), buffer.size()) == static_cast<ssize_t>(buffer.size()) ? 0 : 3);
    }
    ::close(channel[1]);
    char chunk[PIPE_BUF];
    const ssize_t got = ::read(channel[0], chunk, sizeof chunk);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (got < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child failed: " + std::to_string(status);
    return std::string(chunk, static_cast<std::size_t>(got));
}

TEST_F(ScanFolderTest, UnreadableFolderAddsNothingAndTheWalkGoesOn)
{
    ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
    MakeTree(root_, {"a.mp3", "Locked/", "Locked/hidden.mp3", "Listable/", "Listable/seen.mp3", "z.mp3"});
    ASSERT_EQ(::chmod((root_ + "Locked").c_str(), 0), 0);
    const std::string buffer = ScanAsUnprivilegedUser(root_);
    ::chmod((root_ + "Locked").c_str(), 0755);

    EXPECT_EQ(LinesOf(buffer, root_), (Lines{"a.mp3", "Listable/seen.mp3", "z.mp3"}));
}

TEST(TrackText, TrimAtNulSplitTrackLinesAndTrackTitle)
{
    using namespace std::string_literals;
    const std::pair<std::string, std::string> trimmed[] = {
        {"abc\0def"s, "abc"}, {"\0abc"s, ""}, {"abc", "abc"}, {"", ""}, {"abc\0\0\0"s, "abc"}};
    for (const auto& [text, expected] : trimmed)
        EXPECT_EQ(TrimAtNul(text), expected) << text;

    // Only the pair CR LF ends a line; a piece cut short is kept, not lost.
    const std::pair<std::string, std::vector<std::string>> split[] = {
        {"", {}},           {"a\r\nb\r\n", {"a", "b"}}, {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"\r\n", {""}},     {"a\nb\rc\r\n", {"a\nb\rc"}}, {"a\r\r\n", {"a\r"}},
        {"a\r\nb", {"a", "b"}}, {"a\r\nb\r", {"a", "b\r"}}, {"\xe9\0x\r\n"s, {"\xe9\0x"s}}};
    for (const auto& [text, expected] : split)
        EXPECT_EQ(SplitTrackLines(text), expected) << text;

    const std::pair<std::string, std::string> titles[] = {
        {"/x/Music/Song.mp3", "Song"}, {"Song.mp3", "Song"},       {"/x/Music/demo_mp3", "demo"},
        {"/x/Best.mp3/x.mp3", "x"},    {"/x/.mp3", ""},            {"/x/\xe9t\xe9.mp3", "\xe9t\xe9"},
        {"/x/Music/mp3", ""},          {"/x/Music/", ""},          {"mp3", ""},
        {"", ""}};
    for (const auto& [path, expected] : titles)
        EXPECT_EQ(TrackTitle(path), expected) << path;
}

}  // namespace
}  // namespace tallowcrest
