#include "shell/player_strip.h"

#include "playback/qt_media_player.h"
#include "support/mp3_fixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QSlider>
#include <QTemporaryDir>
#include <QThread>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

namespace tallowcrest {
namespace {

constexpr int kDeadlineMs = 10000;

bool SpinUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

TEST(FormatPlayTime, MinutesAndZeroPaddedSeconds)
{
    EXPECT_EQ(FormatPlayTime(0), "0:00");
    EXPECT_EQ(FormatPlayTime(999), "0:00");
    EXPECT_EQ(FormatPlayTime(1000), "0:01");
    EXPECT_EQ(FormatPlayTime(59999), "0:59");
    EXPECT_EQ(FormatPlayTime(60000), "1:00");
    EXPECT_EQ(FormatPlayTime(754000), "12:34");
    EXPECT_EQ(FormatPlayTime(3600000), "60:00");
    EXPECT_EQ(FormatPlayTime(-1), "0:00");
}

class PlayerStripTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QObject::connect(&player, &QtMediaPlayer::endOfStream, [this] { ++ends; });
        strip.show();
    }

    bool WaitForState(QMediaPlayer::PlaybackState state)
    {
        return SpinUntil([&] { return player.playbackState() == state; }, kDeadlineMs);
    }

    QTemporaryDir dir;
    QtMediaPlayer player;
    PlayerStrip strip{player};
    int ends = 0;
};

TEST_F(PlayerStripTest, StartsEmptyWithNamedButtonsAndTheDesignedSize)
{
    EXPECT_EQ(strip.sizeHint(), QSize(541, 45));
    EXPECT_EQ(strip.playButton()->accessibleName(), "Play");
    EXPECT_EQ(strip.pauseButton()->accessibleName(), "Pause");
    EXPECT_EQ(strip.stopButton()->accessibleName(), "Stop");
    EXPECT_FALSE(strip.playButton()->icon().isNull());
    EXPECT_EQ(strip.timeLabel()->text(), "0:00 / 0:00");
    // Nothing loaded: nothing to drive yet.
    EXPECT_FALSE(strip.playButton()->isEnabled());
    EXPECT_FALSE(strip.pauseButton()->isEnabled());
    EXPECT_FALSE(strip.stopButton()->isEnabled());
    EXPECT_FALSE(strip.positionSlider()->isEnabled());
}

TEST_F(PlayerStripTest, ButtonsDriveThePlayer)
{
    player.Open(MakeMp3(dir.path(), "a.mp3", 2.0));
    ASSERT_TRUE(WaitForState(QMediaPlayer::PlayingState));
    EXPECT_FALSE(strip.playButton()->isEnabled());
    EXPECT_TRUE(strip.pauseButton()->isEnabled());

    strip.pauseButton()->click();
    ASSERT_TRUE(WaitForState(QMediaPlayer::PausedState));
    EXPECT_TRUE(strip.playButton()->isEnabled());
    EXPECT_FALSE(strip.pauseButton()->isEnabled());
    EXPECT_TRUE(strip.stopButton()->isEnabled());

    strip.playButton()->click();
    ASSERT_TRUE(WaitForState(QMediaPlayer::PlayingState));

    strip.stopButton()->click();
    ASSERT_TRUE(WaitForState(QMediaPlayer::StoppedState));
    EXPECT_FALSE(strip.stopButton()->isEnabled());
    EXPECT_TRUE(strip.playButton()->isEnabled());
    // A stop from the strip is no end of the track.
    SpinUntil([] { return false; }, 2500);
    EXPECT_EQ(ends, 0);

    strip.playButton()->click();
    ASSERT_TRUE(SpinUntil([&] { return ends == 1; }, kDeadlineMs));
}

TEST_F(PlayerStripTest, TimeLabelShowsElapsedAndTotal)
{
    player.Open(MakeMp3(dir.path(), "a.mp3", 1.0));

    ASSERT_TRUE(SpinUntil([&] { return strip.timeLabel()->text().endsWith(" / 0:01"); }, kDeadlineMs))
        << strip.timeLabel()->text().toStdString();
    EXPECT_TRUE(strip.timeLabel()->text().startsWith("0:0"));
    EXPECT_TRUE(strip.positionSlider()->isEnabled());
    EXPECT_NEAR(strip.positionSlider()->maximum(), 1000, 100);
}

TEST_F(PlayerStripTest, SliderSeeksThePlayer)
{
    player.Open(MakeMp3(dir.path(), "long.mp3", 3.0));
    ASSERT_TRUE(SpinUntil([&] { return player.duration() > 0 && player.position() > 0; }, kDeadlineMs));
    strip.pauseButton()->click();
    ASSERT_TRUE(WaitForState(QMediaPlayer::PausedState));
    QSlider* slider = strip.positionSlider();

    slider->setSliderPosition(2000);
    slider->triggerAction(QAbstractSlider::SliderMove);

    ASSERT_TRUE(SpinUntil([&] { return player.position() >= 1900; }, kDeadlineMs)) << player.position();
    EXPECT_LT(player.position(), 2500);
    ASSERT_TRUE(SpinUntil([&] { return strip.timeLabel()->text() == "0:02 / 0:03"; }, kDeadlineMs))
        << strip.timeLabel()->text().toStdString();
}

TEST_F(PlayerStripTest, LaysOutAtAnyWidth)
{
    int previousSliderWidth = 0;
    for (int width : {541, 800, 1400}) {
        SCOPED_TRACE(width);
        strip.resize(width, 45);
        QCoreApplication::processEvents();
        const QRect area = strip.rect();
        for (QWidget* part : std::initializer_list<QWidget*>{strip.playButton(), strip.pauseButton(),
                                                             strip.stopButton(), strip.positionSlider(),
                                                             strip.timeLabel()}) {
            EXPECT_TRUE(area.contains(part->geometry())) << part->accessibleName().toStdString();
        }
        EXPECT_LT(strip.stopButton()->geometry().right(), strip.positionSlider()->geometry().left());
        EXPECT_LT(strip.positionSlider()->geometry().right(), strip.timeLabel()->geometry().left());
        EXPECT_GE(strip.timeLabel()->width(), strip.timeLabel()->sizeHint().width());
        EXPECT_GT(strip.positionSlider()->width(), previousSliderWidth);
        previousSliderWidth = strip.positionSlider()->width();
    }
    strip.resize(40, 45);  // narrower than its parts: squeezed, not broken
    QCoreApplication::processEvents();
    EXPECT_TRUE(strip.isVisible());
}

}  // namespace
}  // namespace tallowcrest
