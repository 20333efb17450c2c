// What plays after a track ends or fails; the player's own reports of both are the playback tests'.
#include "library/track_scan.h"
#include "support/fake_server.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {

class PlayThroughTest : public ::testing::Test {
protected:
    void SetUp() override { server.fillList({"Alpha.mp3", "Beta.mp3", "Gamma.mp3"}); }
    void play(int row) { server.controls().playRow(row, server.lstFiles.version()); }
    std::string row(int index) const { return std::string(server.lstFiles.row(index)); }
    // The selected row and the file the player has, after the track ended or failed.
    std::pair<int, std::string> after(bool failed = false)
    {
        failed ? emit server.media.playbackFailed("cannot decode") : emit server.media.endOfStream();
        QCoreApplication::sendPostedEvents();
        return {server.lstFiles.selectedIndex(), server.media.opened};
    }

    std::vector<float> draws;
    FakeServer server{{}, [this] { return draws.at(m_drawn++); }};
    std::size_t m_drawn = 0;
};

TEST_F(PlayThroughTest, AClientHearsTheEndAloneAndNothingMorePlays)
{
    server.connectClient();
    play(0);
    server.winsock.sent.clear();
    EXPECT_EQ((after(), server.winsock.allSent()), "CODE_12");
    EXPECT_EQ(server.media.calls, std::vector{"open " + row(0)});
}

TEST_F(PlayThroughTest, TracksFollowInOrderRoundTheListShowingTheirTitles)
{
    play(1);
    for (const int next : {2, 0}) {
        EXPECT_EQ(after(), std::pair(next, row(next)));
        EXPECT_EQ(server.caption(), "Tallowcrest Server: " + std::string(TrackTitle(row(next))));
    }
    server.lstFiles.setSelectedIndex(-1);  // as after the list was filled again
    EXPECT_EQ(after(), std::pair(0, row(0)));
}

TEST_F(PlayThroughTest, AtRandomTheDrawPicksTheRowAndTheCaptionStays)
{
    play(0);
    server.controller.cmdRandomize_Click();
    draws = {0.99999994f, 0.5f};  // the largest float below 1, then the middle
    for (const int next : {2, 1}) {
        EXPECT_EQ(after(), std::pair(next, row(next)));
        EXPECT_EQ(server.caption(), "Tallowcrest Server: Alpha");
    }
}

TEST_F(PlayThroughTest, UnplayableFilesAreSkippedAndAWholeRoundOfFailuresStopsTillAPick)
{
    server.media.unplayable = {row(1)};
    play(0);
    EXPECT_EQ(after(), std::pair(2, row(2))) << "the one that cannot be opened is skipped";
    EXPECT_EQ(after(true), std::pair(0, row(0)));
    server.media.calls.clear();
    EXPECT_EQ(after(true), std::pair(0, row(0))) << "a third failure in a row";
    EXPECT_TRUE(server.media.calls.empty());
    play(2);
    EXPECT_EQ(server.media.calls, std::vector{"open " + row(2)}) << "a pick gets a round of its own";
}

}  // namespace
}  // namespace tallowcrest::testing
