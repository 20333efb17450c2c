// The folder scan on real trees, the track list's rows and selection, the file records and the text helpers.
#include "library/file_collection.h"
#include "library/track_list_model.h"
#include "library/track_scan.h"
#include <QAbstractItemModelTester>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <climits>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <set>

namespace tallowcrest {
namespace {
using namespace std::literals;
using Lines = std::multiset<std::string>;
using Rows = std::vector<std::string>;
namespace fs = std::filesystem;
// A fresh folder per test, removed by its bytes: QTemporaryDir cannot remove names not valid in the locale.
class ScanTest : public ::testing::Test {
protected:
    void TearDown() override { fs::remove_all(m_root); }
    // "x/" makes a folder, "x -> target" a link, anything else an empty file.
    void make(const std::string& under, const std::vector<std::string>& entries)
    {
        for (const std::string& entry : entries) {
            const std::size_t arrow = entry.find(" -> ");
            const std::string path = under + entry.substr(0, arrow);
            if (arrow != std::string::npos)
                fs::create_symlink(entry.substr(arrow + 4), path);
            else
                entry.ends_with('/') ? fs::create_directory(path) : std::ofstream(path).is_open();
        }
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
// Wide enough for the walk to be shared out between threads; each subtree ends the cycle through the link that leads
// back to the top. The expected order is readdir's, which the test cannot choose.
TEST_F(ScanTest, TracksAreAppendedInPreOrderWithEachSubtreeWhereItsFolderStands)
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
    for (const auto& entry : fs::recursive_directory_iterator(m_root))
        expected += entry.is_regular_file() ? entry.path().string() + "\r\n" : "";
    std::string buffer = "kept\r\n";
    ScanFolder(m_root + "missing/", buffer), ScanFolder(m_root + "a.mp3/", buffer);  // no folder, no tracks
    ScanFolder(m_root, buffer);
    EXPECT_EQ(buffer, expected);
}
// Names are raw bytes; one holding a line break cannot stand on a line and is left out.
TEST_F(ScanTest, TheFilterLooksAtTheLastThreeCharactersOfFilesOnly)
{
    const std::vector<std::string> tracks = {"Track01.mp3", "LIVE.MP3", "x.mP3", "demo_mp3", "mp3", ".h.mp3",
                                             ".hidden/in.mp3", "Best.mp3/x.mp3", "Caf\xe9/\xe9t\xe9 \xff.mp3"};
    make(m_root, {".hidden/", "Best.mp3/", "Caf\xe9/", "p3", "song.mp3.bak", "song.mp4", "blank.mp3 ", "m3p",
                  "line\nbreak.mp3", "carriage\rreturn.mp3", "bad\nfolder/", "bad\nfolder/in.mp3"});
    make(m_root, tracks);
    EXPECT_EQ(scan(m_root), Lines(tracks.begin(), tracks.end()));
}
TEST_F(ScanTest, LinksAreFollowedAndCyclesEndWhereTheyComeRound)
{
    struct Case { const char* name; std::vector<std::string> tree; std::string from; Lines expected; };
    for (const Case& c : std::initializer_list<Case>{
             {"ancestor", {"top.mp3", "A/", "A/a.mp3", "A/B/", "A/B/b.mp3", "A/B/toTop -> ../..", "A/B/up -> ..",
                           "A/self -> ."}, "", {"top.mp3", "A/a.mp3", "A/B/b.mp3"}},
             // Started inside the loop: the other folder comes once through the link before the loop comes round.
             {"loop", {"A/", "A/a.mp3", "B/", "B/b.mp3", "A/toB -> ../B", "B/toA -> ../A"}, "A/",
              {"A/a.mp3", "A/toB/b.mp3"}},
             {"plain", {"X/", "X/x.mp3", "X/Y/", "X/Y/y.mp3", "X/Y/back -> ..", "shortcut -> X/Y"}, "",
              {"X/x.mp3", "X/Y/y.mp3", "shortcut/y.mp3", "shortcut/back/x.mp3"}},
             {"twice", {"real/", "real/x.mp3", "first -> real", "second -> real/", "alias.mp3 -> real/x.mp3",
                        "alias.txt -> real/x.mp3", "dangling.mp3 -> nowhere", "dangling -> nowhere"}, "",
              {"real/x.mp3", "first/x.mp3", "second/x.mp3", "alias.mp3", "dangling.mp3"}}}) {
        make(m_root, {c.name + "/"s}), make(m_root + c.name + "/", c.tree);
        EXPECT_EQ(scan(m_root + c.name + "/", c.from), c.expected) << c.name;
    }
}
TEST_F(ScanTest, PathsLongerThanTheKernelLimitAreStillWalked)
{
    const std::string name(200, 'd');
    make(m_root, {"top.mp3"});
    const fs::path here = fs::current_path();
    fs::current_path(m_root);
    std::string deep;
    for (; m_root.size() + deep.size() <= PATH_MAX; deep += name + "/")
        fs::create_directory(name), fs::current_path(name);
    std::ofstream("deep.mp3");
    fs::current_path(here);
    EXPECT_EQ(scan(m_root), (Lines{"top.mp3", deep + "deep.mp3"}));
}
TEST_F(ScanTest, AnUnreadableFolderAddsNothingAndTheWalkGoesOn)
{
    make(m_root, {"a.mp3", "Locked/", "Locked/hidden.mp3", "Listable/", "Listable/seen.mp3"});
    ASSERT_EQ(::chmod(m_root.c_str(), 0755) + ::chmod((m_root + "Locked").c_str(), 0), 0);
    const int was = ::setfsuid(65534);  // as nobody on this thread: root reads any folder
    const Lines lines = scan(m_root);
    ::setfsuid(was), ::chmod((m_root + "Locked").c_str(), 0755);
    EXPECT_EQ(lines, (Lines{"a.mp3", "Listable/seen.mp3"}));
}
TEST(TrackText, TrimAtNulKeepsWhatComesBeforeTheFirstNul)
{
    for (const auto& [name, text, expected] : {std::tuple{"a NUL inside", "abc\0def"s, "abc"}, {"none", "abc"s, "abc"},
                                               {"a NUL first", "\0abc"s, ""}, {"NULs last", "abc\0\0"s, "abc"},
                                               {"empty", ""s, ""}})
        EXPECT_EQ(TrimAtNul(text), expected) << name;
}
TEST(TrackText, AFolderGetsOneTrailingSeparator)
{
    for (const auto& [name, folder, expected] : {std::tuple{"without one", "/m", "/m/"}, {"with one", "/m/", "/m/"},
                                                 {"empty", "", "/"}})
        EXPECT_EQ(withTrailingSeparator(folder), expected) << name;
}
// Every change is checked by Qt's own model tester as it happens.
class TrackListModelTest : public ::testing::Test {
protected:
    TrackListModelTest()
    {
        QObject::connect(&model, &TrackListModel::selectedIndexChanged, [&](int row) { selections.push_back(row); });
    }
    TrackListModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
    std::vector<int> selections;
};
TEST_F(TrackListModelTest, EachCrLfEndsARowAndSoDoesTheEndOfTheText)
{
    for (const auto& [name, text, rows] : std::initializer_list<std::tuple<const char*, std::string, Rows>>{
             {"no text", "", {}}, {"two lines", "a\r\nb\r\n", {"a", "b"}}, {"a line end alone", "\r\n", {""}},
             {"an empty line between", "a\r\n\r\nb\r\n", {"a", "", "b"}}, {"cut short", "a\r\nb", {"a", "b"}},
             {"a lone LF and CR", "a\nb\rc\r\n", {"a\nb\rc"}}, {"a CR before the line end", "a\r\r\n", {"a\r"}},
             {"cut short after a CR", "a\r\nb\r", {"a", "b\r"}}, {"no UTF-8, a NUL", "\xe9\0x\r\n"s, {"\xe9\0x"s}}}) {
        model.clear(), model.addLines(text);
        Rows got;
        for (int i = 0; i < model.count(); ++i)
            got.emplace_back(model.row(i));
        EXPECT_EQ(got, rows) << name;
    }
}
TEST_F(TrackListModelTest, EachAddInsertsItsRowsAfterThoseBefore)
{
    std::vector<std::pair<int, int>> inserted;
    QObject::connect(&model, &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex&, int first, int last) { inserted.push_back({first, last}); });
    std::string big;
    for (int i = 0; i < 200000; ++i)
        big += "/music/" + std::to_string(i) + ".mp3\r\n";
    for (const std::string& text : {big, ""s, "/m/\xe9t\xe9.mp3\r\n/m/z.mp3\r\n"s})
        model.addLines(text);
    EXPECT_EQ(inserted, (std::vector<std::pair<int, int>>{{0, 199999}, {200000, 200001}}));
    EXPECT_EQ(std::tuple(model.rowCount(), model.row(199999), model.row(200000)),
              std::tuple(200002, "/music/199999.mp3"sv, "/m/\xe9t\xe9.mp3"sv));
}
TEST_F(TrackListModelTest, ARowShowsItsDecodedNameAndGivesItsPathBytes)
{
    model.addLines("/m/a.mp3\r\n/m/\xe9.mp3\r\n");
    const auto at = [&](int row, int role = Qt::DisplayRole) { return model.data(model.index(row), role); };
    EXPECT_EQ(std::tuple(at(0).toString(), at(1).toString(), at(1, TrackListModel::kPathBytesRole).toByteArray()),
              std::tuple(QString("/m/a.mp3"), QFile::decodeName("/m/\xe9.mp3"), QByteArray("/m/\xe9.mp3")));
    EXPECT_FALSE(at(2).isValid());
}
TEST_F(TrackListModelTest, AnIndexOutsideTheRowsThrowsAndKeepsTheSelection)
{
    model.addLines("a\r\nb\r\n");
    model.setSelectedIndex(1);
    for (const auto& [name, bad] : {std::pair{"before the first", -1}, {"past the last", 2}})
        EXPECT_THROW(model.row(bad), std::out_of_range) << name;
    for (const auto& [name, bad] : {std::pair{"selecting below none", -2}, {"selecting past the last", 2}})
        EXPECT_THROW(model.setSelectedIndex(bad), std::out_of_range) << name;
    EXPECT_EQ(std::pair(model.selectedIndex(), selections), std::pair(1, std::vector{1}));
}
// A clear ends the selection too, and leaves no row to select.
TEST_F(TrackListModelTest, ASelectionIsAnnouncedOnlyWhenItChanges)
{
    model.addLines("a\r\nb\r\nc\r\n");
    for (int index : {1, 1, 0, -1, -1, 2})
        model.setSelectedIndex(index);
    model.clear();
    EXPECT_EQ(std::tuple(model.selectedIndex(), selections), std::tuple(-1, std::vector{1, 0, -1, 2, -1}));
    EXPECT_THROW(model.setSelectedIndex(0), std::out_of_range);
}
TEST_F(TrackListModelTest, EveryFillAndClearGivesANewVersion)
{
    std::set<quint64> versions{model.version()};
    for (const std::string& text : {"a\r\n"s, "b\r\n"s, ""s, "a\r\n"s}) {
        text.empty() ? model.clear() : model.addLines(text);
        EXPECT_TRUE(versions.insert(model.version()).second) << (text.empty() ? "clear" : text);
    }
}
// "a" (long name "the first"), "b", "c", "d" stored; "" is never stored.
struct colFFilesTest : ::testing::Test {
    colFFilesTest()
    {
        files.Add("a")->SetLongName("the first");
        for (const char* key : {"b", "c", "d", ""})
            files.Add(key);
    }
    std::string keys() const
    {
        const auto add = [](const std::string& keys, const auto& record) { return keys + record->Key(); };
        return std::accumulate(files.begin(), files.end(), ""s, add);
    }
    colFFiles files;
};
TEST_F(colFFilesTest, AddAnswersARecordHoldingOnlyItsKeyAndStoresItOnlyUnderANewKey)
{
    const auto fresh = files.Add("e"), taken = files.Add("a");
    EXPECT_EQ(fresh->Key() + "|" + fresh->ShortName() + "|" + fresh->LongName(), "e||");
    EXPECT_EQ(fresh->FileSize() + fresh->DateCreated() + fresh->DateAccessed() + fresh->DateModified(), 0);
    EXPECT_EQ(taken->Key() + "|" + taken->LongName() + "|" + files.Item("a")->LongName(), "a||the first");
    EXPECT_EQ(std::pair(files.Count(), keys()), std::pair(5, "abcde"s));
}
TEST_F(colFFilesTest, PositionsAndKeysOutsideTheCollectionThrow)
{
    EXPECT_THROW(colFFiles().Item(1), std::out_of_range);
    for (const auto& [name, position] : {std::pair{"zero", 0}, {"negative", -1}, {"past the last", 5}}) {
        EXPECT_THROW(files.Item(position), std::out_of_range) << name;
        EXPECT_THROW(files.Delete(position), std::out_of_range) << name;
    }
    EXPECT_THROW(files.Delete("B"), std::out_of_range) << "keys keep their case";
}
TEST_F(colFFilesTest, DeletingByPositionOrKeyKeepsTheRestInOrderAndAnAddGoesLast)
{
    files.Delete(2), files.Delete("d"), files.Add("b");
    EXPECT_EQ(std::pair(keys(), files.Item("b")), std::pair("acb"s, files.Item(3)));
}
}  // namespace
}  // namespace tallowcrest
