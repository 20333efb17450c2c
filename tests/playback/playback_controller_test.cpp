// The controller's edges, with a recording socket and a player that can be
// told which files it cannot open.
#include "playback/playback_controller.h"

#include "library/track_list_model.h"
#include "remote/fakes.h"

#include <gtest/gtest.h>

#include <set>

namespace tallowcrest::testing {
namespace {

class RefusingPlayer : public FakePlayer {
public:
    void Open(const std::string& path) override
    {
        ++attempts;
        if (refused.count(path) != 0)
            throw std::runtime_error("cannot open " + path);
        FakePlayer::Open(path);
    }
    std::set<std::string> refused;
    int attempts = 0;
};

class PlaybackControllerTest : public ::testing::Test {
protected:
    PlaybackController& Controller()
    {
        if (!controller_)
            controller_ = std::make_unique<PlaybackController>(PlaybackController::Components{
                list_, player_, socket_, [this](const std::string& text) { caption_ = text; },
                [this] { return draw_; }});
        return *controller_;
    }

    TrackListModel list_;
    RefusingPlayer player_;
    RecordingSocket socket_;
    std::string caption_ = "Tallowcrest Server";
    float draw_ = 0.0f;
    std::unique_ptr<PlaybackController> controller_;
};

TEST(RandomIndexTest, EveryDrawInZeroToOneGivesAValidIndex)
{
    struct Case {
        float r;
        int count;
        int expected;
    };
    for (const Case& c : std::vector<Case>{{0.0f, 0, -1},
                                           {0.5f, 0, -1},
                                           {0.0f, 1, 0},
                                           {0.99999994f, 1, 0},
                                           {0.0f, 5, 0},
                                           {0.19999999f, 5, 0},
                                           {0.2f, 5, 1},
                                           {0.99999994f, 5, 4},
                                           {1.0f, 5, 4},  // a generator that overshoots
                                           {0.99999994f, 32767, 32766},
                                           {0.99999994f, 200000, 199999}})
        EXPECT_EQ(PlaybackController::RandomIndex(c.r, c.count), c.expected) << c.r << " of " << c.count;
}

TEST_F(PlaybackControllerTest, AnEmptyListOrNoSelectionPlaysNothing)
{
    Controller().lstFiles_DblClick();
    Controller().Media_EndOfStream(0);
    Controller().SetShuffleOn(true);
    Controller().Media_EndOfStream(0);
    EXPECT_EQ(player_.attempts, 0);

    list_.AddRows({"/m/a.mp3"});
    Controller().lstFiles_DblClick();
    EXPECT_EQ(player_.attempts, 0);
    EXPECT_EQ(caption_, "Tallowcrest Server");
}

TEST_F(PlaybackControllerTest, TitlesDropTheLastFourCharactersWhateverTheyAre)
{
    list_.AddRows({"/m/Track.MP3", "Bare Name.mp3", "/m/ab", "/m/abcd", "/m/Song.mp3.flac"});
    socket_.state = ISocket::Connected;
    const std::vector<std::string> titles = {"Track", "Bare Name", "", "", "Song.mp3."};
    for (int i = 0; i < list_.Count(); ++i) {
        list_.SetSelectedIndex(i);
        Controller().lstFiles_DblClick();
        EXPECT_EQ(caption_, "Tallowcrest Server: " + titles[i]) << list_.Row(i);
        EXPECT_EQ(socket_.sent.back(), "CODE_11" + titles[i]) << list_.Row(i);
    }
}

TEST_F(PlaybackControllerTest, NotificationsGoOnlyToAConnectedClientAndARefusedSendIsHarmless)
{
    list_.AddRows({"/m/a.mp3", "/m/b.mp3"});
    for (int state : {ISocket::Closed, ISocket::Listening}) {
        socket_.state = state;
        Controller().cmdRandomize_Click();
        list_.SetSelectedIndex(0);
        Controller().lstFiles_DblClick();
    }
    EXPECT_TRUE(socket_.sent.empty());
    EXPECT_FALSE(Controller().ShuffleOn());

    socket_.state = ISocket::Closing;  // torn down while the state says otherwise
    socket_.sendsBeforeFailure = 0;
    Controller().cmdRandomize_Click();
    Controller().Media_EndOfStream(0);
    EXPECT_TRUE(Controller().ShuffleOn());
    EXPECT_EQ(player_.fileName, "/m/a.mp3") << "nothing advances while a connection exists";
}

TEST_F(PlaybackControllerTest, FilesThatCannotOpenAreSkippedUntilOneRoundHasFailed)
{
    std::vector<std::string> rows;
    for (int i = 0; i < 100000; ++i)
        rows.push_back("/m/gone" + std::to_string(i) + ".mp3");
    rows[70000] = "/m/here.mp3";
    list_.AddRows(rows);
    player_.refused.insert(rows.begin(), rows.end());
    player_.refused.erase("/m/here.mp3");

    list_.SetSelectedIndex(0);
    Controller().lstFiles_DblClick();
    EXPECT_EQ(player_.fileName, "/m/here.mp3");
    EXPECT_EQ(caption_, "Tallowcrest Server: here");

    // It opened but could not play: the round that began at the first
    // failure is completed, then play-through stops.
    player_.refused.insert("/m/here.mp3");
    player_.attempts = 0;
    Controller().Media_PlaybackFailed();
    EXPECT_EQ(player_.attempts, 29999);
    Controller().SetShuffleOn(true);
    Controller().Media_PlaybackFailed();
    EXPECT_EQ(player_.attempts, 29999) << "play-through stays stopped";

    // A track that plays to its end starts the count afresh.
    player_.refused.erase("/m/gone1.mp3");
    draw_ = 1.5f / 100000;
    Controller().Media_EndOfStream(0);
    EXPECT_EQ(player_.fileName, "/m/gone1.mp3");
}

}  // namespace
}  // namespace tallowcrest::testing
