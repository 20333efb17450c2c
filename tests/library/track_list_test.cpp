// The track list's rows and selection, and the file records.
#include "library/file_collection.h"
#include "library/track_list_model.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tallowcrest {
namespace {

TEST(TrackListModel, EveryCrLfEndsARowRowsAddUpInOrderAndAClearEmptiesListAndSelection)
{
    using Rows = std::vector<std::string>;
    const std::pair<std::string, Rows> cases[] = {
        {"", {}},           {"a\r\nb\r\n", {"a", "b"}},   {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"\r\n", {""}},     {"a\nb\rc\r\n", {"a\nb\rc"}}, {"a\r\r\n", {"a\r"}},
        {"a\r\nb", {"a", "b"}}, {"a\r\nb\r", {"a", "b\r"}}, {std::string("\xe9\0x\r\n", 5), {std::string("\xe9\0x", 3)}}};
    for (const auto& [text, expected] : cases) {
        TrackListModel model;
        model.addLines(text);
        Rows rows;
        for (int i = 0; i < model.count(); ++i)
            rows.emplace_back(model.row(i));
        EXPECT_EQ(rows, expected) << text;
    }

    TrackListModel model;
    std::vector<std::pair<int, int>> inserted;
    std::vector<int> selections;
    QObject::connect(&model, &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex&, int first, int last) { inserted.push_back({first, last}); });
    QObject::connect(&model, &TrackListModel::selectedIndexChanged, [&](int index) { selections.push_back(index); });
    std::string big;
    for (int i = 0; i < 200000; ++i)
        big += "/music/" + std::to_string(i) + ".mp3\r\n";
    const quint64 before = model.version();
    model.addLines(big);
    model.addLines("");
    model.addLines("/m/\xe9t\xe9.mp3\r\n/m/z.mp3\r\n");
    EXPECT_EQ(inserted, (std::vector<std::pair<int, int>>{{0, 199999}, {200000, 200001}}));
    ASSERT_EQ(model.rowCount(), 200002);
    EXPECT_EQ(model.row(199999), "/music/199999.mp3");
    EXPECT_EQ(model.row(200000), "/m/\xe9t\xe9.mp3");
    EXPECT_EQ(model.data(model.index(200001), TrackListModel::kPathBytesRole).toByteArray(), "/m/z.mp3");
    EXPECT_EQ(model.data(model.index(0)).toString(), "/music/0.mp3");
    EXPECT_FALSE(model.data(model.index(200002)).isValid());
    for (int bad : {-1, 200002})
        EXPECT_THROW(model.row(bad), std::out_of_range) << bad;
    EXPECT_NE(model.version(), before);

    for (int index : {1, 1, 0, -1, 150000})
        model.setSelectedIndex(index);
    for (int bad : {200002, -2})
        EXPECT_THROW(model.setSelectedIndex(bad), std::out_of_range) << bad;
    EXPECT_EQ(model.selectedIndex(), 150000);
    const quint64 filled = model.version();
    model.clear();
    EXPECT_EQ(selections, (std::vector<int>{1, 0, -1, 150000, -1}));
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_NE(model.version(), filled);
    EXPECT_THROW(model.setSelectedIndex(0), std::out_of_range);
}

TEST(colFFiles, KeysPositionsAndRecordsThatAreNotStored)
{
    colFFiles files;
    EXPECT_THROW(files.Item(1), std::out_of_range);
    const auto first = files.Add("a");
    EXPECT_EQ(first->Key() + first->ShortName() + first->LongName(), "a");
    EXPECT_EQ(first->FileSize() + first->DateCreated() + first->DateAccessed() + first->DateModified(), 0);
    first->SetLongName("the first");
    for (const char* key : {"b", "c", "d", ""})
        files.Add(key);
    // A taken key gets a record of its own that is not stored.
    const auto taken = files.Add("a");
    EXPECT_EQ(taken->Key() + "|" + taken->LongName() + "|" + files.Item("a")->LongName(), "a||the first");
    EXPECT_EQ(files.Count(), 4);
    for (int position : {0, -1, 5}) {
        EXPECT_THROW(files.Item(position), std::out_of_range) << position;
        EXPECT_THROW(files.Delete(position), std::out_of_range) << position;
    }
    EXPECT_THROW(files.Delete("B"), std::out_of_range);
    files.Delete(2);
    files.Delete("d");
    files.Add("b");
    std::string keys;
    for (const auto& record : files)
        keys += record->Key();
    EXPECT_EQ(keys, "acb");
    EXPECT_EQ(files.Item("b"), files.Item(3));
}

}  // namespace
}  // namespace tallowcrest
