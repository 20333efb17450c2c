#include "shell/player_strip.h"

#include "playback/qt_media_player.h"
#include "support/spin.h"
#include "support/mp3_fixture.h"

#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

namespace tallowcrest {
namespace {

TEST(FormatPlayTime, MinutesAndZeroPaddedSeconds)
{
    const std::pair<qint64, const char*> cases[] = {
        {-1, "0:00"},    {999, "0:00"},     {1000, "0:01"},     {59999, "0:59"},
        {60000, "1:00"}, {754000, "12:34"}, {3600000, "60:00"},
    };
    for (const auto& [ms, text] : cases)
        EXPECT_EQ(FormatPlayTime(ms), QString::fromLatin1(text)) << ms;
}

TEST(PlayerStrip, ButtonsDriveThePlayerAndTheTimeLabelShowsElapsedAndTotal)
{
    QTemporaryDir dir;
    QtMediaPlayer player;
    int ends = 0;
    QObject::connect(&player, &QtMediaPlayer::endOfStream, [&] { ++ends; });
    PlayerStrip strip(player);
    strip.show();
    const auto reaches = [&](QMediaPlayer::PlaybackState state) {
        return SpinUntil([&] { return player.playbackState() == state; });
    };
    EXPECT_FALSE(strip.playButton()->isEnabled()) << "nothing loaded, nothing to play";
    EXPECT_EQ(strip.timeLabel()->text(), "0:00 / 0:00");

    player.Open(MakeMp3(dir.path(), "a.mp3", 2.0));
    ASSERT_TRUE(reaches(QMediaPlayer::PlayingState));
    EXPECT_FALSE(strip.playButton()->isEnabled());
    EXPECT_TRUE(strip.pauseButton()->isEnabled());
    const QRegularExpression elapsedOfTotal("^0:0[0-2] / 0:02$");
    EXPECT_TRUE(SpinUntil([&] { return elapsedOfTotal.match(strip.timeLabel()->text()).hasMatch(); }))
        << strip.timeLabel()->text().toStdString();

    strip.pauseButton()->click();
    ASSERT_TRUE(reaches(QMediaPlayer::PausedState));
    EXPECT_TRUE(strip.playButton()->isEnabled());
    EXPECT_FALSE(strip.pauseButton()->isEnabled());

    strip.playButton()->click();
    ASSERT_TRUE(reaches(QMediaPlayer::PlayingState));

    strip.stopButton()->click();
    ASSERT_TRUE(reaches(QMediaPlayer::StoppedState));
    EXPECT_FALSE(strip.stopButton()->isEnabled());
    // A stop from the strip is no end of the track.
    SpinUntil([] { return false; }, 2500);
    EXPECT_EQ(ends, 0);

    strip.playButton()->click();
    EXPECT_TRUE(SpinUntil([&] { return ends == 1; }));
}

}  // namespace
}  // namespace tallowcrest
