#include "library/file_collection.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace tallowcrest {
namespace {

TEST(colFFiles, NewCollectionIsEmptyAndANewRecordHoldsOnlyItsKey)
{
    colFFiles files;
    EXPECT_EQ(files.Count(), 0);
    EXPECT_THROW(files.Item(1), std::out_of_range);
    EXPECT_THROW(files.Item("a"), std::out_of_range);

    const auto record = files.Add("/m/a.mp3");
    EXPECT_EQ(record->Key(), "/m/a.mp3");
    EXPECT_EQ(record->ShortName() + record->LongName(), "");
    EXPECT_EQ(record->FileSize(), 0);
    EXPECT_EQ((std::vector{record->DateCreated(), record->DateAccessed(), record->DateModified()}),
              std::vector<FileDate>(3, 0.0));
}

TEST(colFFiles, TakenOrEmptyKeyGivesARecordThatIsNotStored)
{
    colFFiles files;
    const auto first = files.Add("song");
    first->SetLongName("the first");
    const auto second = files.Add("song");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->Key() + "|" + second->LongName(), "song|");
    EXPECT_EQ(files.Item("song"), first);
    EXPECT_EQ(files.Item("song")->LongName(), "the first");
    files.Add("");
    EXPECT_EQ(files.Count(), 1);
}

TEST(colFFiles, ItemAndDeleteByPositionOrKeyRefuseWhatIsNotThere)
{
    colFFiles files;
    for (const char* key : {"a", "b", "c", "d"})
        files.Add(key);
    for (int position : {0, -1, 5}) {
        EXPECT_THROW(files.Item(position), std::out_of_range) << position;
        EXPECT_THROW(files.Delete(position), std::out_of_range) << position;
    }
    EXPECT_THROW(files.Item("B"), std::out_of_range);
    EXPECT_THROW(files.Delete("B"), std::out_of_range);
    EXPECT_EQ(files.Count(), 4);

    files.Delete(2);
    files.Delete("d");
    EXPECT_THROW(files.Delete("d"), std::out_of_range);
    files.Add("b");
    ASSERT_EQ(files.Count(), 3);
    EXPECT_EQ(files.Item(1)->Key() + files.Item(2)->Key() + files.Item(3)->Key(), "acb");
    EXPECT_EQ(files.Item("b"), files.Item(3));
}

}  // namespace
}  // namespace tallowcrest
