// The strip under the player, its controls found by their accessible names, over the window's logic and the
// fake player.
#include "shell/player_strip.h"
#include "support/fake_server.h"

#include <QLabel>
#include <QSlider>
#include <QToolButton>

#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {

using Status = IMediaPlayer::PlaybackState;

class PlayerStripTest : public ::testing::Test {
protected:
    template <typename Control = QToolButton>
    Control* control(const char* name)
    {
        const auto all = strip.findChildren<Control*>();
        const auto named = std::ranges::find_if(all, [&](Control* c) { return c->accessibleName() == name; });
        return all.value(named - all.begin());
    }
    void enter(const char* file, Status status, qint64 position = 0, qint64 length = 0)
    {
        server.media.opened = file, server.media.state = status;
        server.media.positionMs = position, server.media.durationMs = length;
        emit server.media.stateChanged();
        emit server.media.durationChanged(length);
        emit server.media.positionChanged(position);
        server.media.calls.clear();
    }

    FakeServer server;
    PlayerStrip strip{server.controls(), server.nowPlaying()};
};

TEST_F(PlayerStripTest, OnlyTheButtonsThatCanActAreEnabled)
{
    for (const auto& [name, file, status, enabled] :
         {std::tuple{"nothing loaded", "", Status::Stopped, ""}, {"playing", "/m/a.mp3", Status::Playing, "Pause Stop"},
          {"paused", "/m/a.mp3", Status::Paused, "Play Stop"}, {"stopped", "/m/a.mp3", Status::Stopped, "Play"}}) {
        enter(file, status);
        QStringList on;
        for (const char* button : {"Play", "Pause", "Stop"})
            if (control(button)->isEnabled())
                on << button;
        EXPECT_EQ(on.join(' '), enabled) << name;
    }
}

TEST_F(PlayerStripTest, EachButtonActsOnThePlayer)
{
    for (const auto& [name, status, call] : {std::tuple{"Play", Status::Paused, "play"},
                                             {"Pause", Status::Playing, "pause"}, {"Stop", Status::Paused, "stop"}}) {
        enter("/m/a.mp3", status);
        control(name)->click();
        EXPECT_EQ(server.media.calls, std::vector<std::string>{call}) << name;
    }
}

// "m:ss / m:ss"; minutes are not wrapped into hours. The slider moves only within a known length.
TEST_F(PlayerStripTest, TheTimeAndTheSliderFollowPositionAndLength)
{
    auto* slider = control<QSlider>("Position");
    for (const auto& [name, position, length, text, value, enabled] :
         {std::tuple{"nothing known", 0, 0, "0:00 / 0:00", 0, false},
          {"into the track", 61999, 200000, "1:01 / 3:20", 61999, true},
          {"past an hour", 3723000, 4000000, "62:03 / 66:40", 3723000, true},
          {"before the start", -5, 9000, "0:00 / 0:09", 0, true},
          {"past the end", 9500, 9000, "0:09 / 0:09", 9000, true}}) {
        enter("/m/a.mp3", Status::Playing, position, length);
        const QString time = control<QLabel>("Time")->text();
        EXPECT_EQ(std::tuple(time, slider->value(), slider->maximum(), slider->isEnabled()),
                  std::tuple(QString(text), value, length, enabled)) << name;
    }
}

TEST_F(PlayerStripTest, MovingTheSliderSeeks)
{
    enter("/m/a.mp3", Status::Playing, 30000, 200000);
    for (const auto& [name, action, call] : {std::tuple{"a page on", QSlider::SliderPageStepAdd, "seek 50000"},
                                             {"to the start", QSlider::SliderToMinimum, "seek 0"}}) {
        control<QSlider>("Position")->triggerAction(action);
        EXPECT_EQ(server.media.calls.back(), call) << name;
    }
}

}  // namespace
}  // namespace tallowcrest::testing
