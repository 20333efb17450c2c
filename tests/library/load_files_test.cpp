#include "library/load_files.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <string>
#include <vector>

#include "library/scan_tree.h"
#include "library/track_list_model.h"
#include "library/track_scan.h"

namespace tallowcrest {
namespace {

using testing::MakeFile;
using testing::MakeFolder;
using testing::ReaddirNames;
using Lines = std::vector<std::string>;

struct ShownMessage {
    std::string text;
    std::string title;
    MessageStyle style;
};

class RecordingMessageBox : public IMessageBox {
public:
    void Show(const std::string& text, const std::string& title, MessageStyle style) override
    {
        shown.push_back({text, title, style});
    }
    std::vector<ShownMessage> shown;
};

class LoadFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp_.isValid());
        root_ = temp_.path().toStdString() + "/";
        TrackListBuffer.clear();
    }
    void TearDown() override { TrackListBuffer.clear(); }

    Lines Rows() const
    {
        Lines rows;
        for (int i = 0; i < list_.Count(); ++i)
            rows.push_back(list_.Row(i));
        return rows;
    }

    void ExpectInvalidPathMessageOnce() const
    {
        ASSERT_EQ(messages_.shown.size(), 1u);
        EXPECT_EQ(messages_.shown[0].text, "Please click the 'Set Dir' button and enter a valid directory.");
        EXPECT_EQ(messages_.shown[0].title, "Invalid path");
        EXPECT_EQ(messages_.shown[0].style, MessageStyle::Critical);
    }

    QTemporaryDir temp_;
    std::string root_;
    TrackListModel list_;
    RecordingMessageBox messages_;
};

TEST_F(LoadFilesTest, FillsOneRowPerTrackInScanOrder)
{
    MakeFolder(root_ + "Music");
    MakeFile(root_ + "Music/a.mp3");
    MakeFolder(root_ + "Music/Sub");
    MakeFile(root_ + "Music/Sub/b.mp3");
    MakeFile(root_ + "Music/cover.jpg");

    Lines expected;
    for (const std::string& name : ReaddirNames(root_ + "Music")) {
        if (name == "a.mp3")
            expected.push_back(root_ + "Music/a.mp3");
        else if (name == "Sub")
            expected.push_back(root_ + "Music/Sub/b.mp3");
    }

    LoadFiles(root_ + "Music", list_, messages_);
    EXPECT_EQ(Rows(), expected);
    EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(LoadFilesTest, FolderWithAndWithoutSeparatorGiveTheSameRows)
{
    MakeFolder(root_ + "Music");
    MakeFile(root_ + "Music/a.mp3");

    LoadFiles(root_ + "Music", list_, messages_);
    const Lines withoutSeparator = Rows();
    TrackListBuffer.clear();
    LoadFiles(root_ + "Music/", list_, messages_);

    EXPECT_EQ(withoutSeparator, Lines{root_ + "Music/a.mp3"});
    EXPECT_EQ(Rows(), withoutSeparator);
    EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(LoadFilesTest, MissingFolderIsReportedOnceAndTheListKeepsItsRows)
{
    list_.AddRows({"/earlier/a.mp3", "/earlier/b.mp3"});
    TrackListBuffer = "/earlier/a.mp3\r\n";

    LoadFiles(root_ + "gone", list_, messages_);

    ExpectInvalidPathMessageOnce();
    EXPECT_EQ(Rows(), (Lines{"/earlier/a.mp3", "/earlier/b.mp3"}));
    EXPECT_EQ(TrackListBuffer, "/earlier/a.mp3\r\n");
}

TEST_F(LoadFilesTest, NotSetAndTheEmptyTextFailTheCheck)
{
    testing::ScopedWorkingFolder inRoot(root_);
    LoadFiles("not set", list_, messages_);
    ExpectInvalidPathMessageOnce();
    messages_.shown.clear();
    LoadFiles("", list_, messages_);
    ExpectInvalidPathMessageOnce();
    EXPECT_EQ(list_.Count(), 0);
    EXPECT_TRUE(TrackListBuffer.empty());
}

TEST_F(LoadFilesTest, FolderWithoutTracksEmptiesTheListSilently)
{
    MakeFolder(root_ + "Music");
    MakeFile(root_ + "Music/notes.txt");
    MakeFolder(root_ + "Music/Empty");
    list_.AddRows({"/earlier/a.mp3"});

    LoadFiles(root_ + "Music", list_, messages_);

    EXPECT_EQ(list_.Count(), 0);
    EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(LoadFilesTest, PlainFilePassesTheCheckAndYieldsNoRows)
{
    MakeFile(root_ + "song.mp3");
    list_.AddRows({"/earlier/a.mp3"});

    LoadFiles(root_ + "song.mp3", list_, messages_);

    EXPECT_EQ(list_.Count(), 0);
    EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(LoadFilesTest, DoesNotEmptyTheBufferBeforeItsScan)
{
    MakeFolder(root_ + "Music");
    MakeFile(root_ + "Music/a.mp3");
    TrackListBuffer = "/earlier/x.mp3\r\n";

    LoadFiles(root_ + "Music", list_, messages_);

    EXPECT_EQ(Rows(), (Lines{"/earlier/x.mp3", root_ + "Music/a.mp3"}));
}

TEST_F(LoadFilesTest, MoreRowsThanA16BitIndexHolds)
{
    MakeFolder(root_ + "Music");
    const int tracks = 33000;
    for (int i = 0; i < tracks; ++i)
        MakeFile(root_ + "Music/" + std::to_string(i) + ".mp3");

    LoadFiles(root_ + "Music", list_, messages_);

    ASSERT_EQ(list_.Count(), tracks);
    list_.SetSelectedIndex(tracks - 1);
    EXPECT_EQ(list_.SelectedIndex(), tracks - 1);
    EXPECT_TRUE(list_.Row(tracks - 1).starts_with(root_ + "Music/"));
}

}  // namespace
}  // namespace tallowcrest
