// Play-through at the machine with the real player decoding real MP3 files:
// what plays next, what the caption shows and what a client hears.
#include "library/track_scan.h"
#include "support/live_server.h"
#include "support/mp3_fixture.h"
#include "support/test_client.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>

namespace tallowcrest::testing {
namespace {

class PlayThroughTest : public ::testing::Test {
protected:
    // Real tracks of about a second, listed as the scan finds them.
    void StartServer(const std::vector<std::string>& names, const std::vector<std::string>& broken = {})
    {
        ASSERT_TRUE(QDir().mkpath(Library()));
        for (const std::string& name : names)
            MakeMp3(Library(), name, 1.0);
        for (const std::string& name : broken)
            std::ofstream(Library().toStdString() + "/" + name) << std::string(40000, 'x');
        port_ = FreePort();
        server_ = std::make_unique<LiveServer>(Library().toStdString(), std::to_string(port_), nullptr,
                                               [this] { return NextDraw(); });
        QObject::connect(&server_->media, &QtMediaPlayer::opened, [this] { ++opens_; });
        ASSERT_EQ(server_->lstFiles.Count(), static_cast<int>(names.size() + broken.size()));
    }

    QString Library() const { return work_.path() + "/library"; }
    const std::string& Row(int index) const { return server_->lstFiles.Row(index); }
    std::string CaptionFor(int index) const { return "Tallowcrest Server: " + TrackTitle(Row(index)); }

    void DoubleClick(int index)
    {
        server_->lstFiles.SetSelectedIndex(index);
        server_->controller.lstFiles_DblClick();
    }

    // Waits until the player has moved on from the file playing now.
    bool WaitForNextOpen(int timeoutMs = 8000)
    {
        const int before = opens_;
        return SpinUntil([&] { return opens_ > before; }, timeoutMs);
    }

    void ConnectClient()
    {
        ASSERT_TRUE(client_.Connect(port_)) << std::strerror(errno);
        ASSERT_TRUE(SpinUntil([&] { return server_->winsock.State() == ISocket::Connected; }));
    }

    float NextDraw()
    {
        EXPECT_FALSE(draws_.empty()) << "an unexpected random draw";
        if (draws_.empty())
            return 0.0f;
        const float r = draws_.front();
        draws_.pop_front();
        return r;
    }

    QTemporaryDir work_;
    uint16_t port_ = 0;
    std::unique_ptr<LiveServer> server_;
    TestClient client_;
    std::deque<float> draws_;
    int opens_ = 0;
};

TEST_F(PlayThroughTest, InListOrderWrappingToTheFirstWithTheCaptionOfEach)
{
    StartServer({"Alpha.mp3", "Beta.mp3", "Gamma.mp3"});
    DoubleClick(1);
    EXPECT_EQ(server_->media.FileName(), Row(1));
    EXPECT_EQ(server_->caption, CaptionFor(1));

    for (int expected : {2, 0}) {
        ASSERT_TRUE(WaitForNextOpen()) << "no track followed " << server_->media.FileName();
        EXPECT_EQ(server_->lstFiles.SelectedIndex(), expected);
        EXPECT_EQ(server_->media.FileName(), Row(expected));
        EXPECT_EQ(server_->caption, CaptionFor(expected));
    }
}

TEST_F(PlayThroughTest, WithNothingSelectedTheFirstEntryFollows)
{
    StartServer({"Alpha.mp3", "Beta.mp3"});
    DoubleClick(1);
    server_->lstFiles.SetSelectedIndex(-1);  // as after the list was filled again
    ASSERT_TRUE(WaitForNextOpen());
    EXPECT_EQ(server_->lstFiles.SelectedIndex(), 0);
    EXPECT_EQ(server_->media.FileName(), Row(0));
}

TEST_F(PlayThroughTest, ShufflePicksTheDrawnEntryKeepsTheCaptionAndSendsNothing)
{
    StartServer({"Alpha.mp3", "Beta.mp3", "Gamma.mp3", "Delta.mp3"});
    server_->controller.cmdRandomize_Click();
    ASSERT_TRUE(server_->controller.ShuffleOn());
    DoubleClick(0);
    draws_ = {0.99999994f, 0.5f};  // the largest float below 1, then the middle

    for (int expected : {3, 2}) {
        ASSERT_TRUE(WaitForNextOpen());
        EXPECT_EQ(server_->lstFiles.SelectedIndex(), expected);
        EXPECT_EQ(server_->media.FileName(), Row(expected));
        EXPECT_EQ(server_->caption, CaptionFor(0));
    }
    EXPECT_TRUE(draws_.empty());
}

TEST_F(PlayThroughTest, AConnectedClientHearsTheEndAndNothingMorePlaysUntilItLeaves)
{
    StartServer({"Alpha.mp3", "Beta.mp3", "Gamma.mp3"});
    ConnectClient();
    DoubleClick(0);
    EXPECT_EQ(client_.ReceiveQuiet(), "CODE_11" + TrackTitle(Row(0)));
    client_.Send("07True");  // shuffle makes no difference while connected

    EXPECT_EQ(client_.ReceiveUntilSuffix("CODE_12", 8000), "CODE_12");
    EXPECT_EQ(client_.ReceiveQuiet(1500), "");
    EXPECT_EQ(opens_, 1);
    EXPECT_EQ(server_->lstFiles.SelectedIndex(), 0);
    EXPECT_EQ(server_->caption, CaptionFor(0));

    // Once the client has gone, the next end advances again.
    client_.Close();
    ASSERT_TRUE(SpinUntil([&] { return server_->winsock.State() == ISocket::Listening; }));
    server_->controller.SetShuffleOn(false);
    DoubleClick(0);
    ASSERT_TRUE(WaitForNextOpen());
    EXPECT_EQ(server_->media.FileName(), Row(1));
}

TEST_F(PlayThroughTest, RandomizeAnnouncesEachNewValueStartingFromWhatARequestLeft)
{
    StartServer({"Alpha.mp3"});
    server_->controller.cmdRandomize_Click();  // nobody to tell
    EXPECT_TRUE(server_->controller.ShuffleOn());
    ConnectClient();

    client_.Send("07False");
    EXPECT_EQ(client_.ReceiveQuiet(), "");
    server_->controller.cmdRandomize_Click();
    EXPECT_EQ(client_.ReceiveQuiet(), "CODE_13True");
    server_->controller.cmdRandomize_Click();
    EXPECT_EQ(client_.ReceiveQuiet(), "CODE_13False");
    client_.Send("07True");
    ASSERT_TRUE(SpinUntil([&] { return server_->controller.ShuffleOn(); }));
    server_->controller.cmdRandomize_Click();
    EXPECT_EQ(client_.ReceiveQuiet(), "CODE_13False");
    EXPECT_FALSE(server_->controller.ShuffleOn());
}

TEST_F(PlayThroughTest, AnUnplayableFileCountsAsEndedAndPlayGoesOn)
{
    StartServer({"Good.mp3"}, {"Broken1.mp3", "Broken2.mp3"});
    int good = 0;
    while (TrackTitle(Row(good)) != "Good")
        ++good;
    const int afterGood = (good + 1) % 3;

    DoubleClick(afterGood);
    ASSERT_TRUE(SpinUntil([&] { return server_->media.FileName() == Row(good); }, 15000));
    // The good one plays through to its end before the next is opened.
    ASSERT_TRUE(WaitForNextOpen());
    EXPECT_EQ(server_->media.FileName(), Row(afterGood));
}

TEST_F(PlayThroughTest, AWholeRoundOfUnplayableFilesStopsPlayThrough)
{
    StartServer({}, {"Broken1.mp3", "Broken2.mp3", "Broken3.mp3"});
    DoubleClick(0);
    ASSERT_TRUE(SpinUntil([&] { return opens_ >= 3; }, 15000));
    SpinFor(3000);
    EXPECT_EQ(opens_, 3) << "kept opening files that cannot play";

    // A deliberate pick still gets its own round.
    DoubleClick(2);
    ASSERT_TRUE(SpinUntil([&] { return opens_ >= 6; }, 15000)) << opens_ << " " << server_->media.FileName();
    SpinFor(2000);
    EXPECT_EQ(opens_, 6);
}

}  // namespace
}  // namespace tallowcrest::testing
