// The track list's rows and selection, and the file records.
#include "library/file_collection.h"
#include "library/track_list_model.h"

#include <QAbstractItemModelTester>
#include <QFile>

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

namespace tallowcrest {
namespace {

using namespace std::literals;
using Rows = std::vector<std::string>;

// Every change is checked by Qt's own model tester as it happens.
class TrackListModelTest : public ::testing::Test {
protected:
    TrackListModelTest()
    {
        QObject::connect(&model, &TrackListModel::selectedIndexChanged, [&](int row) { selections.push_back(row); });
    }
    struct Split { const char* name; std::string text; Rows rows; };
    void expectRows(const Split& split)
    {
        model.clear();
        model.addLines(split.text);
        Rows rows;
        for (int i = 0; i < model.count(); ++i)
            rows.emplace_back(model.row(i));
        EXPECT_EQ(rows, split.rows) << split.name;
    }
    TrackListModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
    std::vector<int> selections;
};

TEST_F(TrackListModelTest, EachCrLfEndsARowAndNothingElseDoes)
{
    const Split splits[] = {
        {"no text", "", {}}, {"two lines", "a\r\nb\r\n", {"a", "b"}},
        {"an empty line between", "a\r\n\r\nb\r\n", {"a", "", "b"}}, {"a line end alone", "\r\n", {""}},
        {"a lone LF and CR", "a\nb\rc\r\n", {"a\nb\rc"}}, {"a CR before the line end", "a\r\r\n", {"a\r"}},
        {"bytes that are no UTF-8, and a NUL", "\xe9\0x\r\n"s, {"\xe9\0x"s}}};
    for (const Split& split : splits)
        expectRows(split);
}

TEST_F(TrackListModelTest, ACutShortLastLineIsKeptAsARow)
{
    expectRows({"plain", "a\r\nb", {"a", "b"}});
    expectRows({"ending in a CR", "a\r\nb\r", {"a", "b\r"}});
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
    ASSERT_EQ(model.rowCount(), 200002);
    EXPECT_EQ(std::pair(model.row(199999), model.row(200000)), std::pair("/music/199999.mp3"sv, "/m/\xe9t\xe9.mp3"sv));
}

TEST_F(TrackListModelTest, ARowShowsItsDecodedNameAndGivesItsPathBytes)
{
    model.addLines("/m/a.mp3\r\n/m/\xe9.mp3\r\n");
    EXPECT_EQ(model.data(model.index(0)).toString(), "/m/a.mp3");
    EXPECT_EQ(model.data(model.index(1)).toString(), QFile::decodeName("/m/\xe9.mp3"));
    EXPECT_EQ(model.data(model.index(1), TrackListModel::kPathBytesRole).toByteArray(), "/m/\xe9.mp3");
    EXPECT_FALSE(model.data(model.index(2)).isValid());
}

TEST_F(TrackListModelTest, AnIndexOutsideTheRowsThrowsAndKeepsTheSelection)
{
    model.addLines("a\r\nb\r\n");
    model.setSelectedIndex(1);
    for (const auto& [name, bad] : {std::pair{"a row before the first", -1}, {"a row past the last", 2}})
        EXPECT_THROW(model.row(bad), std::out_of_range) << name;
    for (const auto& [name, bad] : {std::pair{"a selection below none", -2}, {"a selection past the last", 2}})
        EXPECT_THROW(model.setSelectedIndex(bad), std::out_of_range) << name;
    EXPECT_EQ(model.selectedIndex(), 1);
}

TEST_F(TrackListModelTest, ASelectionIsAnnouncedOnlyWhenItChanges)
{
    model.addLines("a\r\nb\r\nc\r\n");
    for (int index : {1, 1, 0, -1, -1, 2})
        model.setSelectedIndex(index);
    EXPECT_EQ(selections, (std::vector<int>{1, 0, -1, 2}));
}

TEST_F(TrackListModelTest, AClearEmptiesTheRowsAndTheSelection)
{
    model.addLines("a\r\nb\r\n");
    model.setSelectedIndex(1);
    model.clear();
    EXPECT_EQ(std::tuple(model.rowCount(), model.selectedIndex(), selections), std::tuple(0, -1, std::vector{1, -1}));
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

// The tester fails the test at the first change it finds wrongly announced.
TEST_F(TrackListModelTest, AddingClearingAndRefillingIsAnnouncedAsItHappens)
{
    for (const char* text : {"a\r\nb\r\n", "c", "", "", "d\r\n"})
        *text ? model.addLines(text) : model.clear();
    expectRows({"refilled", "e\r\n", {"e"}});
}

// "a" (long name "the first"), "b", "c", "d" stored; "" is never stored.
class colFFilesTest : public ::testing::Test {
protected:
    colFFilesTest()
    {
        files.Add("a")->SetLongName("the first");
        for (const char* key : {"b", "c", "d", ""})
            files.Add(key);
    }
    std::string keys() const
    {
        std::string keys;
        for (const auto& record : files)
            keys += record->Key();
        return keys;
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
    files.Delete(2);
    files.Delete("d");
    files.Add("b");
    EXPECT_EQ(keys(), "acb");
    EXPECT_EQ(files.Item("b"), files.Item(3));
}

}  // namespace
}  // namespace tallowcrest
