#include "library/file_collection.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace tallowcrest {
namespace {

std::vector<std::string> Keys(const colFFiles& files)
{
    std::vector<std::string> keys;
    for (const auto& record : files)
        keys.push_back(record->Key());
    return keys;
}

TEST(colFFiles, NewCollectionIsEmpty)
{
    const colFFiles files;
    EXPECT_EQ(files.Count(), 0);
    EXPECT_TRUE(Keys(files).empty());
    EXPECT_THROW(files.Item(1), std::out_of_range);
    EXPECT_THROW(files.Item("a"), std::out_of_range);
}

TEST(colFFiles, NewRecordHoldsOnlyItsKey)
{
    colFFiles files;
    const auto record = files.Add("/m/a.mp3");
    EXPECT_EQ(record->Key(), "/m/a.mp3");
    EXPECT_EQ(record->ShortName(), "");
    EXPECT_EQ(record->LongName(), "");
    EXPECT_EQ(record->FileSize(), 0);
    EXPECT_EQ(record->DateCreated(), 0.0);
    EXPECT_EQ(record->DateAccessed(), 0.0);
    EXPECT_EQ(record->DateModified(), 0.0);
}

TEST(colFFiles, RecordsAreFoundByPositionAndKeyInAddOrder)
{
    colFFiles files;
    const auto a = files.Add("a");
    const auto b = files.Add("b");
    const auto c = files.Add("c");

    EXPECT_EQ(files.Count(), 3);
    EXPECT_EQ(Keys(files), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(files.Item(1), a);
    EXPECT_EQ(files.Item(3), c);
    EXPECT_EQ(files.Item("b"), b);
    EXPECT_THROW(files.Item(0), std::out_of_range);
    EXPECT_THROW(files.Item(4), std::out_of_range);
    EXPECT_THROW(files.Item(-1), std::out_of_range);
    EXPECT_THROW(files.Item("B"), std::out_of_range);
}

TEST(colFFiles, DuplicateKeyGivesAnUnstoredRecord)
{
    colFFiles files;
    const auto first = files.Add("song");
    first->SetLongName("the first");

    const auto second = files.Add("song");

    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->Key(), "song");
    EXPECT_EQ(second->LongName(), "");
    EXPECT_EQ(files.Count(), 1);
    EXPECT_EQ(files.Item("song"), first);
    EXPECT_EQ(files.Item("song")->LongName(), "the first");
}

TEST(colFFiles, EmptyKeyIsNotStored)
{
    colFFiles files;
    const auto record = files.Add("");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->Key(), "");
    EXPECT_EQ(files.Count(), 0);
}

TEST(colFFiles, DeleteByPositionOrKey)
{
    colFFiles files;
    files.Add("a");
    files.Add("b");
    files.Add("c");
    files.Add("d");

    files.Delete(2);
    EXPECT_EQ(Keys(files), (std::vector<std::string>{"a", "c", "d"}));
    EXPECT_THROW(files.Item("b"), std::out_of_range);
    files.Delete("d");
    EXPECT_EQ(Keys(files), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(files.Item(2)->Key(), "c");

    // A deleted key is free again and goes to the end.
    files.Add("b");
    EXPECT_EQ(Keys(files), (std::vector<std::string>{"a", "c", "b"}));
}

TEST(colFFiles, DeletingWhatIsNotThereThrowsAndKeepsEverything)
{
    colFFiles files;
    files.Add("a");
    EXPECT_THROW(files.Delete(0), std::out_of_range);
    EXPECT_THROW(files.Delete(2), std::out_of_range);
    EXPECT_THROW(files.Delete("b"), std::out_of_range);
    EXPECT_EQ(Keys(files), std::vector<std::string>{"a"});
    files.Delete(1);
    EXPECT_EQ(files.Count(), 0);
    EXPECT_THROW(files.Delete(1), std::out_of_range);
    EXPECT_THROW(files.Delete("a"), std::out_of_range);
}

TEST(clsFFile, PublicSettersStoreWhatTheyAreGiven)
{
    colFFiles files;
    const auto record = files.Add("k");
    record->SetLongName("Long Name.mp3");
    record->SetDateCreated(45000.25);
    record->SetDateAccessed(-1.5);
    record->SetDateModified(45001.75);
    EXPECT_EQ(files.Item("k")->LongName(), "Long Name.mp3");
    EXPECT_EQ(files.Item("k")->DateCreated(), 45000.25);
    EXPECT_EQ(files.Item("k")->DateAccessed(), -1.5);
    EXPECT_EQ(files.Item("k")->DateModified(), 45001.75);
}

}  // namespace
}  // namespace tallowcrest
