#include "library/track_list_model.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tallowcrest {
namespace {

TEST(TrackListModel, TakesTwoHundredThousandRowsInOneInsertionAndRefusesRowsPastThem)
{
    TrackListModel model;
    std::vector<std::pair<int, int>> inserted;
    QObject::connect(&model, &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex&, int first, int last) { inserted.push_back({first, last}); });
    std::vector<std::string> rows;
    for (int i = 0; i < 200000; ++i)
        rows.push_back("/music/Album/" + std::to_string(i) + ".mp3");

    model.AddRows(std::move(rows));
    model.AddRows({});
    model.AddRows({"/m/\xe9t\xe9.mp3"});

    EXPECT_EQ(inserted, (std::vector<std::pair<int, int>>{{0, 199999}, {200000, 200000}}));
    ASSERT_EQ(model.rowCount(), 200001);
    EXPECT_EQ(model.Row(0), "/music/Album/0.mp3");
    EXPECT_EQ(model.Row(199999), "/music/Album/199999.mp3");
    EXPECT_EQ(model.data(model.index(200000), TrackListModel::PathBytesRole).toByteArray(), "/m/\xe9t\xe9.mp3");
    EXPECT_EQ(model.Row(200000), "/m/\xe9t\xe9.mp3");
    EXPECT_THROW(model.Row(-1), std::out_of_range);
    EXPECT_THROW(model.Row(200001), std::out_of_range);
    EXPECT_FALSE(model.data(model.index(200001)).isValid());
    model.SetSelectedIndex(150000);
    EXPECT_EQ(model.SelectedIndex(), 150000);
}

TEST(TrackListModel, SelectionSignalsEachChangeAndRefusesRowsThatAreNotThere)
{
    TrackListModel model;
    std::vector<int> changes;
    QObject::connect(&model, &TrackListModel::selectedIndexChanged, [&](int index) { changes.push_back(index); });
    EXPECT_EQ(model.SelectedIndex(), -1);
    EXPECT_THROW(model.Row(0), std::out_of_range);
    EXPECT_THROW(model.SetSelectedIndex(0), std::out_of_range);
    model.AddRows({"/m/a.mp3", "/m/b.mp3"});

    model.SetSelectedIndex(1);
    model.SetSelectedIndex(1);
    model.SetSelectedIndex(0);
    model.SetSelectedIndex(-1);
    model.SetSelectedIndex(1);
    EXPECT_THROW(model.SetSelectedIndex(2), std::out_of_range);
    EXPECT_THROW(model.SetSelectedIndex(-2), std::out_of_range);
    EXPECT_EQ(model.SelectedIndex(), 1);
    model.Clear();

    EXPECT_EQ(changes, (std::vector<int>{1, 0, -1, 1, -1}));
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.SelectedIndex(), -1);
}

}  // namespace
}  // namespace tallowcrest
