#include "library/load_files.h"

#include <gtest/gtest.h>

#include <QDir>

#include <string>

#include "library/scan_tree.h"
#include "library/track_list_model.h"
#include "library/track_scan.h"
#include "support/fake_dialogs.h"

namespace tallowcrest {
namespace {

class LoadFilesTest : public testing::TreeTest {
protected:
    void SetUp() override
    {
        TreeTest::SetUp();
        TrackListBuffer.clear();
        list_.AddRows({"/earlier/a.mp3", "/earlier/b.mp3"});
    }

    std::string Rows() const
    {
        std::string rows;
        for (int i = 0; i < list_.Count(); ++i)
            rows += list_.Row(i) + "\r\n";
        return rows;
    }

    TrackListModel list_;
    testing::RecordingMessageBox messages_;
};

TEST_F(LoadFilesTest, FolderWithAndWithoutSeparatorGiveOneRowPerTrackInScanOrder)
{
    testing::MakeTree(root_, {"Music/", "Music/a.mp3", "Music/Sub/", "Music/Sub/b.mp3", "Music/cover.jpg"});
    const std::string expected = testing::InReaddirOrder(
        root_ + "Music", {{"a.mp3", root_ + "Music/a.mp3\r\n"}, {"Sub", root_ + "Music/Sub/b.mp3\r\n"}});

    for (const std::string folder : {root_ + "Music", root_ + "Music/"}) {
        TrackListBuffer.clear();
        LoadFiles(folder, list_, messages_);
        EXPECT_EQ(Rows(), expected) << folder;
    }
    EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(LoadFilesTest, FolderThatCannotBeFoundIsReportedOnceAndChangesNothing)
{
    // "not set" is relative: look for it where no such folder exists.
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(temp_.path()));
    TrackListBuffer = "/earlier/a.mp3\r\n";
    for (const std::string folder : {root_ + "gone", std::string("not set"), std::string()}) {
        messages_.shown.clear();
        LoadFiles(folder, list_, messages_);
        ASSERT_EQ(messages_.shown.size(), 1u) << folder;
        EXPECT_EQ(messages_.shown[0].text, "Please click the 'Set Dir' button and enter a valid directory.");
        EXPECT_EQ(messages_.shown[0].title, "Invalid path");
        EXPECT_EQ(messages_.shown[0].style, MessageStyle::Critical);
        EXPECT_EQ(Rows(), "/earlier/a.mp3\r\n/earlier/b.mp3\r\n");
        EXPECT_EQ(TrackListBuffer, "/earlier/a.mp3\r\n");
    }
    QDir::setCurrent(previous);
}

TEST_F(LoadFilesTest, FolderWithoutTracksOrAPlainFileEmptiesTheListSilently)
{
    testing::MakeTree(root_, {"Music/", "Music/notes.txt", "Music/Empty/", "song.mp3"});
    for (const std::string folder : {root_ + "Music", root_ + "song.mp3"}) {
        list_.AddRows({"/earlier/c.mp3"});
        LoadFiles(folder, list_, messages_);
        EXPECT_EQ(list_.Count(), 0) << folder;
    }
    EXPECT_TRUE(messages_.shown.empty());
}

}  // namespace
}  // namespace tallowcrest
