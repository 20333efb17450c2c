// The GStreamer player on real MP3s.
#include "playback/gst_player.h"
#include "playback/volume_scale.h"
#include "support/log_capture.h"
#include "support/mp3_fixture.h"
#include "support/spin.h"
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <filesystem>
#include <fstream>
#include <semaphore>

namespace tallowcrest {
namespace {
using namespace std::string_literals;
using State = IMediaPlayer::PlaybackState;
// Counts a pipeline thread's state changes; the next `next` of them hang until the test ends or holdMs pass.
struct Hang {
    void operator()()
    {
        if (++changes, next-- > 0 && (++hung, !release.try_acquire_for(std::chrono::milliseconds(holdMs))))
            ++outlasted;
    }
    std::atomic<int> changes = 0, next = 0, hung = 0, outlasted = 0, holdMs = 30000;
    std::counting_semaphore<> release{0};
};
class GstPlayerTest : public ::testing::Test {
protected:
    GstPlayerTest()
    {
        QObject::connect(&player, &GstPlayer::endOfStream, [this] { ++ends, positionsAtEnd = positions.size(); });
        QObject::connect(&player, &GstPlayer::playbackFailed, [this](const QString& why) { failures << why; });
        QObject::connect(&player, &GstPlayer::positionChanged, [this](qint64 ms) { positions.push_back(ms); });
        std::ofstream(base + "/x.mp3") << "not a sound\n";
    }
    ~GstPlayerTest() override { hang->release.release(16); }
    void TearDown() override { std::filesystem::remove_all(base); }  // QTemporaryDir cannot remove undecodable names
    GstPlayerOptions options() { return {1200, [hang = hang] { (*hang)(); }, "fakesink sync=true"}; }
    std::string mp3(const std::string& name, double seconds = 1.0) { return MakeMp3(dir.path(), name, seconds); }
    bool playedPast(qint64 ms) { return SpinUntil([&] { return player.position() >= ms; }); }
    // Waits for that many ends and failures, then until no thread of this process wakes up for a while (waking this
    // one at the end is one), long enough for one more to show; winding down takes longer on a busy machine.
    bool settle(int outcomes)
    {
        SpinUntil([&] { return ends + failures.size() >= outcomes; }, 8000);
        for (int window = 0; window < 5; ++window) {
            rusage before {}, after {};
            QEventLoop loop;
            QTimer::singleShot(900, &loop, &QEventLoop::quit);
            if (::getrusage(RUSAGE_SELF, &before), loop.exec(), ::getrusage(RUSAGE_SELF, &after),
                after.ru_nvcsw - before.ru_nvcsw <= 2)
                return true;
        }
        return false;
    }
    QTemporaryDir dir;
    const std::string base = QFile::encodeName(dir.path()).toStdString();
    std::shared_ptr<Hang> hang = std::make_shared<Hang>();
    GstPlayer player{options()};
    int ends = 0;
    QStringList failures;
    std::vector<qint64> positions;
    std::size_t positionsAtEnd = 0;
};
// A pipeline hung for longer than the player's patience is replaced by a fresh one with the same wish.
TEST_F(GstPlayerTest, EveryWayOfPlayingAFileThroughEndsItOnceAtItsEnd)
{
    const LogCapture log;
    const std::string a = mp3("a.mp3");
    qint64 seeked = -1;
    QObject::connect(&player, &GstPlayer::seeked, [&](qint64 ms) { seeked = ms; });
    using Row = std::tuple<const char*, std::function<void()>, int>;  // the warnings so far: one per hung pipeline
    for (const auto& [name, steps, warnings] : std::initializer_list<Row>{
             {"by a name that is not UTF-8", [&] { player.open(mp3("caf\xe9 #1 50%.mp3")); }, 0},
             {"opened as the file before ends", [&] {
                  player.open(a);
                  ASSERT_TRUE(playedPast(600));
                  hang->holdMs = 700, hang->next = 1;  // a slow switch: the first ends meanwhile
                  player.open(mp3("b.mp3"));
              }, 0},
             {"the last of a burst of opens", [&] {
                  player.open(mp3("long.mp3", 2.0)), player.open(mp3("b.mp3")), player.open(a);
                  EXPECT_EQ(player.fileName(), a);
              }, 0},
             {"again after its end", [&] { player.open(a); ASSERT_TRUE(settle(1)); ends = 0, player.play(); }, 0},
             {"again after a stop",
              [&] { player.open(a); ASSERT_TRUE(playedPast(400)); player.stop(), player.play(); }, 0},
             {"seeked on the way", [&] {
                  player.open(a);
                  ASSERT_TRUE(playedPast(100));
                  player.seek(700);
                  ASSERT_TRUE(SpinUntil([&] { return seeked >= 0; }));
                  EXPECT_TRUE(std::abs(seeked - 700) <= 100 && player.position() >= 600) << seeked;
              }, 0},
             {"its pipeline hung at the start", [&] { hang->holdMs = 30000, hang->next = 1, player.open(a); }, 1},
             {"its pipeline hung after the end",
              [&] { player.open(a); ASSERT_TRUE(playedPast(300)); hang->next = 1; }, 2}}) {
        SCOPED_TRACE(name);
        ends = 0;
        steps();
        EXPECT_TRUE(settle(1));
        EXPECT_EQ(std::tuple(ends, int(failures.size()), player.playbackState()), std::tuple(1, 0, State::Stopped));
        EXPECT_NEAR(player.duration(), 1000, 100);  // not that of a file replaced at once
        EXPECT_TRUE(positions.back() >= 600 && positions.size() == positionsAtEnd) << "played to the end, then nothing";
        EXPECT_EQ(log.warnings("tallowcrest.playback").size(), size_t(warnings));
    }
    EXPECT_EQ(std::pair(hang->hung.load(), hang->outlasted.load()), std::pair(3, 1)) << "only the slow switch outlasts";
}
// The end, posted while the main thread does not look, is dropped by the stop that comes before it is handled.
TEST_F(GstPlayerTest, PausedItHoldsItsPlaceQuietlyPlayedOnItGoesOnAndStoppedItGoesBackWithNoEnd)
{
    player.open(mp3("a.mp3"));
    ASSERT_TRUE(playedPast(400));
    player.pause();
    const auto [paused, held] = std::pair(player.playbackState(), player.position());
    EXPECT_TRUE(settle(0));
    positions.clear(), player.play();
    ASSERT_TRUE(SpinUntil([&] { return !positions.empty(); }));
    EXPECT_EQ(std::tuple(paused, player.playbackState(), positions.front() >= held),
              std::tuple(State::Paused, State::Playing, true));
    const int changes = hang->changes;  // the next state change is the one after the end
    ASSERT_TRUE(WaitUntil([&] { return hang->changes > changes; }));
    player.stop();
    EXPECT_EQ(std::pair(player.playbackState(), player.position()), std::pair(State::Stopped, qint64(0)));
    EXPECT_TRUE(settle(0) && ends + failures.size() == 0);
}
// Retried once at debug level, then one warning; the failing element is where typefind gave up.
TEST_F(GstPlayerTest, AnUndecodableFileFailsOnceWithOneWarningNamingItsPathAndTheFailingElement)
{
    const LogCapture log;
    player.open(base + "/x.mp3");
    EXPECT_TRUE(settle(1));
    const auto warnings = log.warnings("tallowcrest.playback");
    ASSERT_EQ(std::tuple(ends, failures.size(), player.playbackState(), warnings.size()),
              std::tuple(0, 1, State::Stopped, 1u));
    for (const QString& part : {QFile::decodeName((base + "/x.mp3").c_str()), QString("element typefind"), failures[0]})
        EXPECT_TRUE(warnings[0].text.contains(part)) << warnings[0].text.toStdString();
}
// The message names the path as far as its first NUL.
TEST_F(GstPlayerTest, BeforeAnyOpenARejectedOpenOrAControlChangesNothing)
{
    ASSERT_EQ(::mkfifo((base + "/pipe.mp3").c_str(), 0600) + ::mkdir((base + "/folder.mp3").c_str(), 0700), 0);
    for (const auto& [name, path] : {std::pair{"missing", base + "/missing.mp3"}, {"a folder", base + "/folder.mp3"},
                                     {"a FIFO", base + "/pipe.mp3"}, {"empty", ""s}, {"NUL", mp3("a.mp3") + "\0x"s}}) {
        std::string error = "no error";
        try {
            player.open(path);
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        const std::string named = "cannot open \"" + path + "\": ";
        EXPECT_TRUE(error.starts_with(named.c_str()) && player.fileName().empty()) << name << ": " << error;
    }
    player.stop(), player.play(), player.seek(100), player.pause();
    EXPECT_EQ(std::pair(player.playbackState(), positions.size()), std::pair(State::Stopped, size_t(0)));
}
TEST_F(GstPlayerTest, TheVolumeStartsAt600BelowAndALevelOutsideTheRangeKeepsTheLast)
{
    for (const auto& [name, level, kept] : {std::tuple{"above the loudest", 1, -600}, {"silent", -10000, -10000},
                                            {"below silent", -10001, -10000}, {"loudest", 0, 0}}) {
        if (level == kept)
            player.setVolume(level);
        else
            EXPECT_THROW(player.setVolume(level), std::out_of_range) << name;
        EXPECT_EQ(player.volume(), kept) << name;
    }
}
// The tests run where the default output can only end on a fake sink; what reaches a chosen output is measured
// through the real server by tests/sound.
TEST_F(GstPlayerTest, ADefaultOutputThatPlaysIntoNothingIsSaidOnceAndAChosenOneNever)
{
    const std::string files[] = {mp3("one.mp3", 0.5), mp3("two.mp3", 0.5)};
    for (const std::string output : {"", "fakesink sync=false"}) {
        LogCapture log;
        GstPlayer chosen({.audioOutput = output});
        int lost = 0, ended = 0;
        QObject::connect(&chosen, &IMediaPlayer::soundOutputLost, [&] { ++lost; });
        QObject::connect(&chosen, &IMediaPlayer::endOfStream, [&] { ++ended; });
        for (const std::string& file : files) {
            chosen.open(file);
            ASSERT_TRUE(SpinUntil([&, before = ended] { return ended > before; }, 30000)) << file;
        }
        const bool missing = output.empty();
        EXPECT_EQ(std::tuple(chosen.soundOutputMissing(), lost, log.warnings("tallowcrest.playback").size()),
                  std::tuple(missing, int(missing), std::size_t(missing))) << "output \"" << output << '"';
    }
}
TEST(VolumeScale, TheGainIsTenToTheLevelOver2000AndSilenceIsNoneBothWays)
{
    for (auto [name, level, gain] : {std::tuple{"loudest", 0, 1.0}, {"20 dB below", -2000, 0.1},
                                     {"6 dB below", -600, 0.5011872336}, {"silent", -10000, 0.0}})
        EXPECT_TRUE(std::abs(gainForLevel(level) - gain) < 1e-9 && levelForGain(gain) == level) << name;
}
TEST_F(GstPlayerTest, APlayerGoesWithoutWaitingForItsHungPipeline)
{
    {
        GstPlayer doomed(options());
        doomed.open(mp3("a.mp3"));
        ASSERT_TRUE(SpinUntil([&] { return doomed.position() > 0; }));
        hang->next = 1;
    }
    EXPECT_EQ(std::pair(hang->hung.load(), hang->outlasted.load()), std::pair(1, 0));
}
}  // namespace
}  // namespace tallowcrest
