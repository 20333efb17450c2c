#include "library/track_scan.h"
#include "support/live_server.h"
#include "support/mp3_fixture.h"
#include "support/spin.h"
#include "support/wire_client.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tallowcrest::testing {
namespace {

// Play-through with the real player decoding real MP3s of about a second; broken ones are no MP3s at all.
class PlayThroughTest : public ::testing::Test {
protected:
    void startServer(const std::vector<std::string>& names, const std::vector<std::string>& broken = {})
    {
        for (const std::string& name : names)
            MakeMp3(m_work.path(), name, 1.0);
        for (const std::string& name : broken)
            std::ofstream(m_work.filePath(QString::fromStdString(name)).toStdString()) << std::string(40000, 'x');
        m_server = std::make_unique<LiveServer>(m_work.path().toStdString(), std::to_string(freePort()), nullptr,
                                                [this] { return nextDraw(); });
        QObject::connect(&m_server->media, &IMediaPlayer::stateChanged, [this] {
            m_opens += m_server->media.playbackState() == IMediaPlayer::PlaybackState::Playing;
        });
    }
    std::string row(int index) const { return std::string(m_server->lstFiles.row(index)); }
    std::string captionOf(int index) const { return "Tallowcrest Server: " + std::string(TrackTitle(row(index))); }
    std::pair<int, std::string> now() const { return {m_server->lstFiles.selectedIndex(), m_server->media.fileName()}; }
    bool waitForOpens(int count) { return SpinUntil([&] { return m_opens >= count; }, 8000); }
    float nextDraw()
    {
        EXPECT_LT(m_drawn, m_draws.size()) << "an unexpected random draw";
        return m_drawn < m_draws.size() ? m_draws[m_drawn++] : 0.0f;
    }

    QTemporaryDir m_work;
    std::unique_ptr<LiveServer> m_server;
    std::vector<float> m_draws;
    std::size_t m_drawn = 0;
    int m_opens = 0;
};

TEST_F(PlayThroughTest, AClientHearsTheEndAloneThenTracksFollowInOrderWrappingOrAtRandomKeepingTheCaption)
{
    startServer({"Alpha.mp3", "Beta.mp3", "Gamma.mp3"});
    WireClient client;
    ASSERT_TRUE(client.connect(m_server->winsock.LocalPort()));
    ASSERT_TRUE(SpinUntil([&] { return m_server->controller.nowPlaying().clientConnected(); }));
    m_server->controller.controls().playRow(0, m_server->lstFiles.version());
    EXPECT_EQ(client.receiveQuiet(), "CODE_11" + std::string(TrackTitle(row(0))));
    EXPECT_EQ(client.receiveUntilSuffix("CODE_12", 8000), "CODE_12");
    EXPECT_EQ(std::pair(client.receiveQuiet(1500), m_opens), std::pair(std::string(), 1)) << "nothing more plays";
    client.close();
    ASSERT_TRUE(SpinUntil([&] { return !m_server->controller.nowPlaying().clientConnected(); }));

    m_server->controller.controls().playRow(1, m_server->lstFiles.version());
    for (const int next : {2, 0}) {
        ASSERT_TRUE(waitForOpens(m_opens + 1)) << "nothing followed " << m_server->media.fileName();
        EXPECT_EQ(now(), std::pair(next, row(next)));
        EXPECT_EQ(m_server->caption(), captionOf(next));
    }
    m_server->lstFiles.setSelectedIndex(-1);  // as after the list was filled again
    ASSERT_TRUE(waitForOpens(m_opens + 1));
    EXPECT_EQ(now(), std::pair(0, row(0)));

    m_server->controller.cmdRandomize_Click();
    m_draws = {0.99999994f, 0.5f};  // the largest float below 1, then the middle
    for (const int next : {2, 1}) {
        ASSERT_TRUE(waitForOpens(m_opens + 1));
        EXPECT_EQ(now(), std::pair(next, row(next)));
        EXPECT_EQ(m_server->caption(), captionOf(0)) << "a random pick keeps the caption";
    }
}

TEST_F(PlayThroughTest, UnplayableFilesAreSkippedAndAWholeRoundOfThemStops)
{
    startServer({"Good.mp3"}, {"Broken1.mp3", "Broken2.mp3"});
    const std::vector<std::string> rows = m_server->rows();
    const int good = std::find(rows.begin(), rows.end(), m_work.filePath("Good.mp3").toStdString()) - rows.begin();
    m_server->controller.controls().playRow((good + 1) % 3, m_server->lstFiles.version());
    ASSERT_TRUE(SpinUntil([&] { return m_server->media.fileName() == row(good); }, 15000));
    ASSERT_TRUE(waitForOpens(m_opens + 1)) << "the good one plays to its end, then the next";
    EXPECT_EQ(now(), std::pair((good + 1) % 3, row((good + 1) % 3)));

    std::remove(row(good).c_str());
    ASSERT_TRUE(SpinUntil([&] { return m_server->media.playbackState() == IMediaPlayer::PlaybackState::Stopped; },
                          15000));
    const int stoppedAt = m_opens;
    SpinFor(2500);
    EXPECT_EQ(m_opens, stoppedAt) << "kept opening files that cannot play";
    m_server->controller.controls().playRow(0, m_server->lstFiles.version());
    ASSERT_TRUE(waitForOpens(stoppedAt + 1)) << "a deliberate pick gets a round of its own";
}

}  // namespace
}  // namespace tallowcrest::testing
