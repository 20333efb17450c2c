#include "library/track_list_model.h"

#include <gtest/gtest.h>


#include <stdexcept>
#include <utility>
#include <string>
#include <vector>

namespace tallowcrest {
namespace {

// Records the arguments of every emission of a model signal.
struct InsertedRows {
    explicit InsertedRows(QAbstractItemModel& model)
    {
        QObject::connect(&model, &QAbstractItemModel::rowsInserted,
                         [this](const QModelIndex&, int first, int last) { ranges.push_back({first, last}); });
    }
    std::vector<std::pair<int, int>> ranges;
};

struct SelectionChanges {
    explicit SelectionChanges(TrackListModel& model)
    {
        QObject::connect(&model, &TrackListModel::selectedIndexChanged, [this](int index) { indexes.push_back(index); });
    }
    std::vector<int> indexes;
};

std::vector<std::string> ManyRows(int count)
{
    std::vector<std::string> rows;
    rows.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        rows.push_back("/music/Artist/Album/" + std::to_string(i) + ".mp3");
    return rows;
}

TEST(TrackListModel, HoldsTwoHundredThousandRowsInOneInsertion)
{
    TrackListModel model;
    InsertedRows inserted(model);

    model.AddRows(ManyRows(200000));

    EXPECT_EQ(inserted.ranges, (std::vector<std::pair<int, int>>{{0, 199999}}));
    EXPECT_EQ(model.Count(), 200000);
    EXPECT_EQ(model.rowCount(), 200000);
    EXPECT_EQ(model.Row(0), "/music/Artist/Album/0.mp3");
    EXPECT_EQ(model.Row(199999), "/music/Artist/Album/199999.mp3");
    model.SetSelectedIndex(150000);
    EXPECT_EQ(model.SelectedIndex(), 150000);
}

TEST(TrackListModel, AddRowsAppendsInOrder)
{
    TrackListModel model;
    InsertedRows inserted(model);
    model.AddRows({"/m/a.mp3", "/m/b.mp3"});
    model.AddRows({});
    model.AddRows({"/m/c.mp3"});

    EXPECT_EQ(inserted.ranges, (std::vector<std::pair<int, int>>{{0, 1}, {2, 2}}));
    ASSERT_EQ(model.Count(), 3);
    EXPECT_EQ(model.Row(0), "/m/a.mp3");
    EXPECT_EQ(model.Row(1), "/m/b.mp3");
    EXPECT_EQ(model.Row(2), "/m/c.mp3");
}

TEST(TrackListModel, RowOutsideTheListThrows)
{
    TrackListModel model;
    EXPECT_THROW(model.Row(0), std::out_of_range);
    model.AddRows({"/m/a.mp3"});
    EXPECT_THROW(model.Row(-1), std::out_of_range);
    EXPECT_THROW(model.Row(1), std::out_of_range);
    EXPECT_NO_THROW(model.Row(0));
    EXPECT_FALSE(model.data(model.index(1, 0)).isValid());
}

TEST(TrackListModel, DisplaysDecodedTextAndKeepsTheBytes)
{
    TrackListModel model;
    const std::string latin1 = "/m/\xe9t\xe9.mp3";
    model.AddRows({"/m/Caf\xc3\xa9.mp3", latin1});

    EXPECT_EQ(model.data(model.index(0, 0)).toString(), QStringLiteral("/m/Caf\u00e9.mp3"));
    const QString shown = model.data(model.index(1, 0)).toString();
    EXPECT_FALSE(shown.isEmpty());
    const QByteArray bytes = model.data(model.index(1, 0), TrackListModel::PathBytesRole).toByteArray();
    EXPECT_EQ(bytes.toStdString(), latin1);
    EXPECT_EQ(model.Row(1), latin1);
}

TEST(TrackListModel, SelectionStartsEmptyAndSignalsEachChange)
{
    TrackListModel model;
    SelectionChanges changed(model);
    EXPECT_EQ(model.SelectedIndex(), -1);
    model.AddRows({"/m/a.mp3", "/m/b.mp3"});

    model.SetSelectedIndex(1);
    model.SetSelectedIndex(1);
    model.SetSelectedIndex(0);
    model.SetSelectedIndex(-1);

    EXPECT_EQ(changed.indexes, (std::vector<int>{1, 0, -1}));
}

TEST(TrackListModel, SelectionOutsideTheListThrowsAndKeepsTheOldOne)
{
    TrackListModel model;
    EXPECT_THROW(model.SetSelectedIndex(0), std::out_of_range);
    model.AddRows({"/m/a.mp3", "/m/b.mp3"});
    model.SetSelectedIndex(1);
    SelectionChanges changed(model);

    EXPECT_THROW(model.SetSelectedIndex(2), std::out_of_range);
    EXPECT_THROW(model.SetSelectedIndex(-2), std::out_of_range);

    EXPECT_EQ(model.SelectedIndex(), 1);
    EXPECT_TRUE(changed.indexes.empty());
}

TEST(TrackListModel, ClearRemovesRowsAndSelection)
{
    TrackListModel model;
    model.AddRows({"/m/a.mp3", "/m/b.mp3"});
    model.SetSelectedIndex(1);
    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&resets] { ++resets; });
    SelectionChanges changed(model);

    model.Clear();

    EXPECT_EQ(model.Count(), 0);
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.SelectedIndex(), -1);
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(changed.indexes, std::vector<int>{-1});
    model.AddRows({"/m/c.mp3"});
    EXPECT_EQ(model.Row(0), "/m/c.mp3");
}

}  // namespace
}  // namespace tallowcrest
