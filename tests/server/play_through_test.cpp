// Play-through with the real player decoding real MP3 files: what plays
// next, what the caption shows and what a client hears.
#include "library/track_scan.h"
#include "support/live_server.h"
#include "support/mp3_fixture.h"
#include "support/spin.h"
#include "support/wire_client.h"

#include <QDir>

#include <gtest/gtest.h>

#include <deque>
#include <fstream>

namespace tallowcrest::testing {
namespace {

class PlayThroughTest : public ::testing::Test {
protected:
    // Tracks of about a second, listed as the scan finds them; broken ones
    // are not MP3s at all.
    void startServer(const std::vector<std::string>& names, const std::vector<std::string>& broken = {})
    {
        QDir().mkpath(m_work.filePath("lib"));
        for (const std::string& name : names)
            MakeMp3(m_work.filePath("lib"), name, 1.0);
        for (const std::string& name : broken)
            std::ofstream(m_work.filePath("lib").toStdString() + "/" + name) << std::string(40000, 'x');
        m_port = freePort();
        m_server = std::make_unique<LiveServer>(m_work.filePath("lib").toStdString(), std::to_string(m_port), nullptr,
                                                [this] { return nextDraw(); });
        QObject::connect(&m_server->media, &IMediaPlayer::stateChanged, [this] {
            m_opens += m_server->media.playbackState() == IMediaPlayer::PlaybackState::Playing;
        });
    }
    std::string row(int index) const { return std::string(m_server->lstFiles.Row(index)); }
    std::string captionOf(int index) const { return "Tallowcrest Server: " + TrackTitle(row(index)); }
    void doubleClick(int index)
    {
        m_server->lstFiles.SetSelectedIndex(index);
        m_server->controller.lstFiles_DblClick();
    }
    bool waitForOpens(int count, int timeoutMs = 8000)
    {
        return SpinUntil([&] { return m_opens >= count; }, timeoutMs);
    }
    float nextDraw()
    {
        EXPECT_FALSE(m_draws.empty()) << "an unexpected random draw";
        const float r = m_draws.empty() ? 0.0f : m_draws.front();
        if (!m_draws.empty())
            m_draws.pop_front();
        return r;
    }

    QTemporaryDir m_work;
    uint16_t m_port = 0;
    std::unique_ptr<LiveServer> m_server;
    WireClient m_client;
    std::deque<float> m_draws;
    int m_opens = 0;
};

TEST_F(PlayThroughTest, InListOrderWrappingToTheFirstOrAtRandomKeepingTheCaption)
{
    startServer({"Alpha.mp3", "Beta.mp3", "Gamma.mp3"});
    doubleClick(1);
    EXPECT_EQ(m_server->caption(), captionOf(1));
    for (const int expected : {2, 0}) {
        ASSERT_TRUE(waitForOpens(m_opens + 1)) << "nothing followed " << m_server->media.FileName();
        EXPECT_EQ(m_server->lstFiles.SelectedIndex(), expected);
        EXPECT_EQ(m_server->media.FileName(), row(expected));
        EXPECT_EQ(m_server->caption(), captionOf(expected));
    }
    m_server->lstFiles.SetSelectedIndex(-1);  // as after the list was filled again
    ASSERT_TRUE(waitForOpens(m_opens + 1));
    EXPECT_EQ(m_server->media.FileName(), row(0));

    m_server->controller.cmdRandomize_Click();
    m_draws = {0.99999994f, 0.5f};  // the largest float below 1, then the middle
    for (const int expected : {2, 1}) {
        ASSERT_TRUE(waitForOpens(m_opens + 1));
        EXPECT_EQ(m_server->lstFiles.SelectedIndex(), expected);
        EXPECT_EQ(m_server->media.FileName(), row(expected));
        EXPECT_EQ(m_server->caption(), captionOf(0)) << "a random pick keeps the caption";
    }
    EXPECT_TRUE(m_draws.empty());
}

TEST_F(PlayThroughTest, AConnectedClientHearsTheEndAndNothingMorePlaysUntilItLeaves)
{
    startServer({"Alpha.mp3", "Beta.mp3"});
    m_server->controller.cmdRandomize_Click();  // nobody to tell
    ASSERT_TRUE(m_client.connect(m_port));
    ASSERT_TRUE(SpinUntil([&] { return m_server->controller.clientConnected(); }));
    doubleClick(0);
    EXPECT_EQ(m_client.receiveQuiet(), "CODE_11" + TrackTitle(row(0)));
    EXPECT_EQ(m_client.receiveUntilSuffix("CODE_12", 8000), "CODE_12");
    EXPECT_EQ(m_client.receiveQuiet(1500), "");
    EXPECT_EQ(m_opens, 1);
    EXPECT_EQ(m_server->caption(), captionOf(0));

    // "Randomize" announces each new value, from what a request left.
    for (const auto& [block, heard] : std::vector<std::pair<std::string, std::string>>{
             {"", "CODE_13False"}, {"07False", "CODE_13True"}, {"07True", "CODE_13False"}}) {
        if (!block.empty()) {
            ASSERT_EQ((m_client.send(block), m_client.receiveQuiet()), "");
        }
        m_server->controller.cmdRandomize_Click();
        EXPECT_EQ(m_client.receiveQuiet(), heard) << block;
    }
    m_client.close();
    ASSERT_TRUE(SpinUntil([&] { return !m_server->controller.clientConnected(); }));
    doubleClick(0);
    ASSERT_TRUE(waitForOpens(3));
    EXPECT_EQ(m_server->media.FileName(), row(1)) << "once the client has gone, the end advances again";
}

TEST_F(PlayThroughTest, UnplayableFilesAreSkippedAndAWholeRoundOfThemStops)
{
    startServer({"Good.mp3"}, {"Broken1.mp3", "Broken2.mp3"});
    int good = 0;
    while (TrackTitle(row(good)) != "Good")
        ++good;
    doubleClick((good + 1) % 3);
    ASSERT_TRUE(SpinUntil([&] { return m_server->media.FileName() == row(good); }, 15000));
    const int opensAtGood = m_opens;
    ASSERT_TRUE(waitForOpens(opensAtGood + 1)) << "the good one plays to its end, then the next";
    EXPECT_EQ(m_server->media.FileName(), row((good + 1) % 3));

    std::remove(row(good).c_str());
    ASSERT_TRUE(SpinUntil([&] { return m_server->media.playbackState() == IMediaPlayer::PlaybackState::Stopped; },
                          15000));
    const int stoppedAt = m_opens;
    SpinFor(2500);
    EXPECT_EQ(m_opens, stoppedAt) << "kept opening files that cannot play";
    doubleClick(0);
    ASSERT_TRUE(waitForOpens(stoppedAt + 1)) << "a deliberate pick gets a round of its own";
}

}  // namespace
}  // namespace tallowcrest::testing
