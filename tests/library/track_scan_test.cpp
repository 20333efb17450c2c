#include "library/track_scan.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "library/scan_tree.h"

namespace tallowcrest {
namespace {

using testing::BufferLines;
using testing::MakeFile;
using testing::MakeFolder;
using testing::MakeLink;
using testing::ReaddirNames;
using Lines = std::vector<std::string>;

class ScanFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp_.isValid());
        root_ = temp_.path().toStdString() + "/";
    }
    void TearDown() override { testing::RemoveContents(root_); }

    Lines Scan(const std::string& folder)
    {
        std::string buffer;
        ScanFolder(folder, buffer);
        return BufferLines(buffer);
    }

    static Lines Sorted(Lines lines)
    {
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    QTemporaryDir temp_;
    std::string root_;
};

TEST_F(ScanFolderTest, ListsTracksInPreOrderOfTheDirectoryDelivery)
{
    MakeFile(root_ + "a.mp3");
    MakeFolder(root_ + "Sub");
    MakeFile(root_ + "Sub/b.MP3");
    MakeFile(root_ + "Sub/notes.txt");
    MakeFile(root_ + "c.Mp3");
    MakeFile(root_ + "d.wav");

    // The file system decides the order; the subtree of Sub must stand
    // where readdir delivered Sub itself.
    Lines expected;
    for (const std::string& name : ReaddirNames(root_)) {
        if (name == "Sub")
            expected.push_back(root_ + "Sub/b.MP3");
        else if (name != "d.wav")
            expected.push_back(root_ + name);
    }
    ASSERT_EQ(expected.size(), 3u);

    std::string buffer;
    ScanFolder(root_, buffer);
    std::string expectedBuffer;
    for (const std::string& line : expected)
        expectedBuffer += line + "\r\n";
    EXPECT_EQ(buffer, expectedBuffer);
}

TEST_F(ScanFolderTest, KeepsSubtreesContiguousInADeeperTree)
{
    MakeFolder(root_ + "A");
    MakeFolder(root_ + "A/Inner");
    MakeFolder(root_ + "B");
    for (const char* path : {"top1.mp3", "top2.mp3", "A/a1.mp3", "A/a2.mp3", "A/Inner/i1.mp3", "B/b1.mp3"})
        MakeFile(root_ + path);

    const Lines lines = Scan(root_);
    ASSERT_EQ(lines.size(), 6u);
    auto firstWithPrefix = [&](const std::string& prefix) {
        return std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(prefix); });
    };
    auto countWithPrefix = [&](const std::string& prefix) {
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(prefix); });
    };
    for (const std::string prefix : {root_ + "A/", root_ + "A/Inner/", root_ + "B/"}) {
        const auto first = firstWithPrefix(prefix);
        const auto count = countWithPrefix(prefix);
        EXPECT_TRUE(std::all_of(first, first + count, [&](const std::string& l) { return l.starts_with(prefix); }))
            << "subtree " << prefix << " is split";
    }
}

TEST_F(ScanFolderTest, FolderTextIsUsedExactlyAsGiven)
{
    MakeFolder(root_ + "Music");
    MakeFile(root_ + "Music/a.mp3");

    EXPECT_EQ(Scan(root_ + "Music/"), Lines{root_ + "Music/a.mp3"});
    EXPECT_EQ(Scan(root_ + "Music//"), Lines{root_ + "Music//a.mp3"});
    EXPECT_EQ(Scan(root_ + "Music/../Music/"), Lines{root_ + "Music/../Music/a.mp3"});
    // Without the separator the caller gets what it asked for: the name is
    // glued to the folder text.
    EXPECT_EQ(Scan(root_ + "Music"), Lines{root_ + "Musica.mp3"});
}

TEST_F(ScanFolderTest, FoldersWithNothingToListAppendNothing)
{
    MakeFolder(root_ + "empty");
    MakeFile(root_ + "plain.mp3");

    for (const std::string& folder : {root_ + "empty/", root_ + "missing/", root_ + "plain.mp3/",
                                      root_ + "plain.mp3", std::string()}) {
        std::string buffer = "kept\r\n";
        ScanFolder(folder, buffer);
        EXPECT_EQ(buffer, "kept\r\n") << "folder \"" << folder << "\"";
    }
}

TEST_F(ScanFolderTest, NameFilterLooksAtTheLastThreeCharactersOfFilesOnly)
{
    const Lines tracks = {"Track01.mp3", "LIVE.MP3", "x.mP3", "demo_mp3", "mp3", ".h.mp3"};
    const Lines others = {"p3", "3", "song.mp3.bak", "song.mp4", "blank.mp3 ", "song.mp", "m3p"};
    for (const std::string& name : tracks)
        MakeFile(root_ + name);
    for (const std::string& name : others)
        MakeFile(root_ + name);
    MakeFolder(root_ + "Best.mp3");
    MakeFile(root_ + "Best.mp3/x.mp3");

    Lines expected;
    for (const std::string& name : tracks)
        expected.push_back(root_ + name);
    expected.push_back(root_ + "Best.mp3/x.mp3");
    EXPECT_EQ(Sorted(Scan(root_)), Sorted(expected));
}

TEST_F(ScanFolderTest, TwoScansWithoutEmptyingListEveryTrackTwice)
{
    MakeFile(root_ + "a.mp3");
    MakeFolder(root_ + "Sub");
    MakeFile(root_ + "Sub/b.mp3");

    std::string once;
    ScanFolder(root_, once);
    std::string twice;
    ScanFolder(root_, twice);
    ScanFolder(root_, twice);
    EXPECT_EQ(BufferLines(once).size(), 2u);
    EXPECT_EQ(twice, once + once);
}

TEST_F(ScanFolderTest, ModuleBufferIsAppendedTo)
{
    MakeFile(root_ + "a.mp3");
    TrackListBuffer = "earlier\r\n";
    ScanFolder(root_);
    EXPECT_EQ(TrackListBuffer, "earlier\r\n" + root_ + "a.mp3\r\n");
    TrackListBuffer.clear();
}

TEST_F(ScanFolderTest, LinkBackToAnAncestorEndsTheCycle)
{
    MakeFile(root_ + "top.mp3");
    MakeFolder(root_ + "A");
    MakeFile(root_ + "A/a.mp3");
    MakeFolder(root_ + "A/B");
    MakeFile(root_ + "A/B/b.mp3");
    MakeLink(root_, root_ + "A/B/toRoot");
    MakeLink("..", root_ + "A/B/up");
    MakeLink(".", root_ + "A/self");

    EXPECT_EQ(Sorted(Scan(root_)), Sorted({root_ + "top.mp3", root_ + "A/a.mp3", root_ + "A/B/b.mp3"}));
}

TEST_F(ScanFolderTest, CycleIsCutAtTheRepeatNotBefore)
{
    // Scanning from inside the loop: the link leads to a folder that is not
    // an ancestor yet, so its content is listed once more through it, and
    // the walk stops where the loop comes round again.
    MakeFolder(root_ + "A");
    MakeFile(root_ + "A/a.mp3");
    MakeFolder(root_ + "B");
    MakeFile(root_ + "B/b.mp3");
    MakeLink("../B", root_ + "A/toB");
    MakeLink("../A", root_ + "B/toA");

    EXPECT_EQ(Sorted(Scan(root_ + "A/")), Sorted({root_ + "A/a.mp3", root_ + "A/toB/b.mp3"}));
}

TEST_F(ScanFolderTest, PlainFolderLeadingBackIntoALinkedAncestorIsCut)
{
    // Through the link "shortcut" the walk reaches Y, then X through "back";
    // X's real sub-folder Y is then an ancestor again and must not be
    // walked a second time.
    MakeFolder(root_ + "X");
    MakeFile(root_ + "X/x.mp3");
    MakeFolder(root_ + "X/Y");
    MakeFile(root_ + "X/Y/y.mp3");
    MakeLink("..", root_ + "X/Y/back");
    MakeLink("X/Y", root_ + "shortcut");

    EXPECT_EQ(Sorted(Scan(root_)), Sorted({root_ + "X/x.mp3", root_ + "X/Y/y.mp3", root_ + "shortcut/y.mp3",
                                           root_ + "shortcut/back/x.mp3"}));
}

TEST_F(ScanFolderTest, LinksAreFollowedAndTwoLinksToOneFolderListItTwice)
{
    MakeFolder(root_ + "real");
    MakeFile(root_ + "real/x.mp3");
    MakeLink(root_ + "real", root_ + "first");
    MakeLink("real", root_ + "second");
    MakeLink("real/x.mp3", root_ + "alias.mp3");
    MakeLink("real/x.mp3", root_ + "alias.txt");
    MakeLink("nowhere", root_ + "dangling.mp3");
    MakeLink("nowhere", root_ + "dangling");

    EXPECT_EQ(Sorted(Scan(root_)), Sorted({root_ + "real/x.mp3", root_ + "first/x.mp3", root_ + "second/x.mp3",
                                           root_ + "alias.mp3", root_ + "dangling.mp3"}));
}

TEST_F(ScanFolderTest, NamesWithLineBreaksAreSkippedAndNeighboursKept)
{
    MakeFile(root_ + "a.mp3");
    MakeFile(root_ + "line\nbreak.mp3");
    MakeFile(root_ + "carriage\rreturn.mp3");
    MakeFile(root_ + "z.mp3");
    MakeFolder(root_ + "bad\nfolder");
    MakeFile(root_ + "bad\nfolder/inside.mp3");

    EXPECT_EQ(Sorted(Scan(root_)), Sorted({root_ + "a.mp3", root_ + "z.mp3"}));
}

TEST_F(ScanFolderTest, NamesThatAreNotUtf8TravelByteForByte)
{
    const std::string latin1Folder = "Caf\xe9";
    const std::string latin1Name = "\xe9t\xe9 \xff.mp3";
    MakeFolder(root_ + latin1Folder);
    MakeFile(root_ + latin1Folder + "/" + latin1Name);

    std::string buffer;
    ScanFolder(root_, buffer);
    EXPECT_EQ(buffer, root_ + latin1Folder + "/" + latin1Name + "\r\n");
}

// Builds a chain of folders relative to each other, so that the whole path
// is longer than the kernel takes in one piece.
class DeepChain {
public:
    DeepChain(const std::string& top, int depth, const std::string& name) : name_(name), depth_(depth)
    {
        int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int level = 0; level < depth && fd >= 0; ++level) {
            EXPECT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
            const int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            fd = child;
        }
        EXPECT_GE(fd, 0);
        bottom_ = fd;
    }

    void AddFile(const std::string& file)
    {
        const int fd = ::openat(bottom_, file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        EXPECT_GE(fd, 0);
        ::close(fd);
        files_.push_back(file);
    }

    // Qt removes temporary folders by whole paths, which fail here.
    ~DeepChain()
    {
        for (const std::string& file : files_)
            ::unlinkat(bottom_, file.c_str(), 0);
        int fd = bottom_;
        for (int level = 0; level < depth_ && fd >= 0; ++level) {
            const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            fd = parent;
            if (fd >= 0)
                ::unlinkat(fd, name_.c_str(), AT_REMOVEDIR);
        }
        if (fd >= 0)
            ::close(fd);
    }

private:
    std::string name_;
    int depth_;
    int bottom_ = -1;
    std::vector<std::string> files_;
};

TEST_F(ScanFolderTest, PathsLongerThanTheKernelLimitAreStillWalked)
{
    const std::string name(200, 'd');
    const int depth = 30;
    MakeFile(root_ + "top.mp3");
    DeepChain chain(root_, depth, name);
    chain.AddFile("deep.mp3");

    std::string deepFolder = root_;
    for (int level = 0; level < depth; ++level)
        deepFolder += name + "/";
    ASSERT_GT(deepFolder.size(), std::size_t{PATH_MAX});

    EXPECT_EQ(Sorted(Scan(root_)), Sorted({root_ + "top.mp3", deepFolder + "deep.mp3"}));
}

// The walk is run in a child process that gives up root, because root reads
// folders whatever their permission bits say.
std::string ScanAsUnprivilegedUser(const std::string& folder)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        std::string buffer;
        ScanFolder(folder, buffer);
        const char* data = buffer.data();
        std::size_t left = buffer.size();
        while (left > 0) {
            const ssize_t written = ::write(channel[1], data, left);
            if (written <= 0)
                ::_exit(3);
            data += written;
            left -= static_cast<std::size_t>(written);
        }
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string result;
    char chunk[4096];
    ssize_t got;
    while ((got = ::read(channel[0], chunk, sizeof chunk)) > 0)
        result.append(chunk, static_cast<std::size_t>(got));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child failed with status " + std::to_string(status);
    return result;
}

TEST_F(ScanFolderTest, UnreadableFolderContributesNothingAndTheWalkGoesOn)
{
    ASSERT_EQ(::chmod(temp_.path().toLocal8Bit().constData(), 0755), 0);
    MakeFile(root_ + "a.mp3");
    MakeFolder(root_ + "Locked");
    MakeFile(root_ + "Locked/hidden.mp3");
    MakeFolder(root_ + "Listable");
    MakeFile(root_ + "Listable/seen.mp3");
    MakeFile(root_ + "z.mp3");
    ASSERT_EQ(::chmod((root_ + "Locked").c_str(), 0), 0);

    const std::string buffer = ScanAsUnprivilegedUser(root_);
    ::chmod((root_ + "Locked").c_str(), 0755);

    EXPECT_EQ(Sorted(BufferLines(buffer)), Sorted({root_ + "a.mp3", root_ + "Listable/seen.mp3", root_ + "z.mp3"}));
}

TEST(TrimAtNul, CutsAtTheFirstNul)
{
    using namespace std::string_literals;
    EXPECT_EQ(TrimAtNul("abc\0def"s), "abc");
    EXPECT_EQ(TrimAtNul("\0abc"s), "");
    EXPECT_EQ(TrimAtNul("abc"), "abc");
    EXPECT_EQ(TrimAtNul(""), "");
    EXPECT_EQ(TrimAtNul("abc\0\0\0"s), "abc");
}

TEST(WithTrailingSeparator, AddsOneSeparatorOnlyWhenMissing)
{
    EXPECT_EQ(WithTrailingSeparator("/x/Music"), "/x/Music/");
    EXPECT_EQ(WithTrailingSeparator("/x/Music/"), "/x/Music/");
    EXPECT_EQ(WithTrailingSeparator("/x/Music//"), "/x/Music//");
    EXPECT_EQ(WithTrailingSeparator("Music"), "Music/");
}

TEST(SplitTrackLines, EveryCrLfEndsOneLine)
{
    using namespace std::string_literals;
    EXPECT_EQ(SplitTrackLines(""), Lines{});
    EXPECT_EQ(SplitTrackLines("/m/a.mp3\r\n"), Lines{"/m/a.mp3"});
    EXPECT_EQ(SplitTrackLines("/m/a.mp3\r\n/m/b.mp3\r\n"), (Lines{"/m/a.mp3", "/m/b.mp3"}));
    EXPECT_EQ(SplitTrackLines("a\r\n\r\nb\r\n"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitTrackLines("\r\n"), Lines{""});
    // A lone CR or LF is part of the line, only the pair separates.
    EXPECT_EQ(SplitTrackLines("a\nb\rc\r\n"), Lines{"a\nb\rc"});
    EXPECT_EQ(SplitTrackLines("a\r\r\n"), Lines{"a\r"});
    EXPECT_EQ(SplitTrackLines("\xe9\0x\r\n"s), Lines{"\xe9\0x"s});
}

TEST(SplitTrackLines, TextCutShortKeepsItsLastPiece)
{
    EXPECT_EQ(SplitTrackLines("a\r\nb"), (Lines{"a", "b"}));
    EXPECT_EQ(SplitTrackLines("a\r\nb\r"), (Lines{"a", "b\r"}));
    EXPECT_EQ(SplitTrackLines("only"), Lines{"only"});
}

TEST(SplitTrackLines, ManyLinesKeepTheirOrder)
{
    std::string buffer;
    Lines expected;
    for (int i = 0; i < 50000; ++i) {
        expected.push_back("/m/" + std::to_string(i) + ".mp3");
        buffer += expected.back() + "\r\n";
    }
    EXPECT_EQ(SplitTrackLines(buffer), expected);
}

TEST(TrackTitle, DropsTheLastFourCharactersOfTheName)
{
    EXPECT_EQ(TrackTitle("/x/Music/Song.mp3"), "Song");
    EXPECT_EQ(TrackTitle("Song.mp3"), "Song");
    EXPECT_EQ(TrackTitle("/x/Music/demo_mp3"), "demo");
    EXPECT_EQ(TrackTitle("/x/Music/Best.mp3/x.mp3"), "x");
    EXPECT_EQ(TrackTitle("/x/a.mp3"), "a");
    EXPECT_EQ(TrackTitle("/x/.mp3"), "");
    EXPECT_EQ(TrackTitle("/x/\xe9t\xe9.mp3"), "\xe9t\xe9");
}

TEST(TrackTitle, NamesShorterThanAnExtensionHaveAnEmptyTitle)
{
    EXPECT_EQ(TrackTitle("/x/Music/mp3"), "");
    EXPECT_EQ(TrackTitle("/x/Music/"), "");
    EXPECT_EQ(TrackTitle("mp3"), "");
    EXPECT_EQ(TrackTitle(""), "");
}

class FolderCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp_.isValid());
        root_ = temp_.path().toStdString() + "/";
    }
    QTemporaryDir temp_;
    std::string root_;
};

TEST_F(FolderCheckTest, PassesForAnythingThatExists)
{
    MakeFolder(root_ + "Music");
    MakeFile(root_ + "plain.mp3");
    EXPECT_TRUE(FolderCheckPasses(root_ + "Music"));
    EXPECT_TRUE(FolderCheckPasses(root_ + "Music/"));
    EXPECT_TRUE(FolderCheckPasses(root_ + "plain.mp3"));
}

TEST_F(FolderCheckTest, FailsForTheEmptyTextAndMissingPaths)
{
    MakeFile(root_ + "plain.mp3");
    EXPECT_FALSE(FolderCheckPasses(""));
    EXPECT_FALSE(FolderCheckPasses(root_ + "missing"));
    EXPECT_FALSE(FolderCheckPasses(root_ + "plain.mp3/"));
    MakeLink("nowhere", root_ + "dangling");
    EXPECT_FALSE(FolderCheckPasses(root_ + "dangling"));
}

TEST_F(FolderCheckTest, NotSetFailsUnlessSuchAPathExists)
{
    testing::ScopedWorkingFolder inRoot(root_);
    EXPECT_FALSE(FolderCheckPasses("not set"));
    MakeFolder(root_ + "not set");
    EXPECT_TRUE(FolderCheckPasses("not set"));
}

}  // namespace
}  // namespace tallowcrest
