// The GStreamer player on real MP3s.
#include "playback/gst_player.h"
#include "playback/volume_scale.h"
#include "support/log_capture.h"
#include "support/mp3_fixture.h"
#include "support/spin.h"

#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <semaphore>
#include <sys/resource.h>
#include <sys/stat.h>

namespace tallowcrest {
namespace {

using State = IMediaPlayer::PlaybackState;
using Steps = std::pair<const char*, std::function<void()>>;

// Wake-ups of all of this process's threads while the main thread waits ms; waking it at the end is one.
long wakeUps(int ms)
{
    rusage before {}, after {};
    ::getrusage(RUSAGE_SELF, &before);
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    ::getrusage(RUSAGE_SELF, &after);
    return after.ru_nvcsw - before.ru_nvcsw;
}

// The next `next` state changes of a pipeline thread hang until the test ends, or give up after holdMs.
struct Hang {
    std::atomic<int> next = 0, hung = 0, outlasted = 0, holdMs = 30000;
    std::counting_semaphore<> release{0};
};

class GstPlayerTest : public ::testing::Test {
protected:
    GstPlayerTest()
    {
        QObject::connect(&player, &GstPlayer::endOfStream, [this] { ++ends, positionsAtEnd = positions.size(); });
        QObject::connect(&player, &GstPlayer::playbackFailed, [this] { ++failures; });
        QObject::connect(&player, &GstPlayer::positionChanged, [this](qint64 ms) { positions.push_back(ms); });
        std::ofstream(base + "/x.mp3") << "not a sound\n";
    }
    ~GstPlayerTest() override { hang->release.release(16); }
    // QTemporaryDir cannot remove names it cannot decode; these go by their bytes.
    void TearDown() override { std::filesystem::remove_all(base); }

    GstPlayerOptions options()
    {
        return {1200, [hang = hang] {
                    using std::chrono::milliseconds;
                    if (hang->next-- > 0 && (++hang->hung, !hang->release.try_acquire_for(milliseconds(hang->holdMs))))
                        ++hang->outlasted;
                }};
    }
    std::string mp3(const std::string& name, double seconds = 1.0) { return MakeMp3(dir.path(), name, seconds); }
    bool playedPast(qint64 ms) { return SpinUntil([&] { return player.position() >= ms; }); }
    // Waits for that many ends and failures, then until the player is quiet, long enough for one more to show.
    // Winding the pipeline down takes a while longer on a busy machine.
    bool settle(int outcomes)
    {
        SpinUntil([&] { return ends + failures >= outcomes; }, 8000);
        for (int window = 0; window < 5; ++window)
            if (wakeUps(900) <= 2)
                return true;
        return false;
    }
    void expectOneWholePlay()
    {
        EXPECT_TRUE(settle(1));
        EXPECT_EQ(std::tuple(ends, failures, player.playbackState()), std::tuple(1, 0, State::Stopped));
        EXPECT_NEAR(player.duration(), 1000, 100);  // not that of a file replaced at once
        EXPECT_GE(positions.back(), 600) << "it played on to the end";
        EXPECT_EQ(positions.size(), positionsAtEnd) << "and nothing played after it";
    }
    void expectOneWholePlayAfterEach(std::initializer_list<Steps> rows)
    {
        for (const auto& [name, steps] : rows) {
            SCOPED_TRACE(name);
            ends = 0;
            steps();
            expectOneWholePlay();
        }
    }

    QTemporaryDir dir;
    const std::string base = QFile::encodeName(dir.path()).toStdString();
    std::shared_ptr<Hang> hang = std::make_shared<Hang>();
    GstPlayer player{options()};
    int ends = 0, failures = 0;
    std::vector<qint64> positions;
    std::size_t positionsAtEnd = 0;
};

TEST_F(GstPlayerTest, EachPlayThroughEndsOnce)
{
    expectOneWholePlayAfterEach({{"by a name that is not UTF-8", [&] { player.open(mp3("caf\xe9 #1 50%.mp3")); }},
                                 {"opened as the file before ends", [&] {
                                      player.open(mp3("a.mp3"));
                                      ASSERT_TRUE(playedPast(600));
                                      hang->holdMs = 700, hang->next = 1;  // a slow switch: the first ends meanwhile
                                      player.open(mp3("b.mp3"));
                                  }}});
}

TEST_F(GstPlayerTest, ABurstOfOpensPlaysOnlyTheLast)
{
    const std::string longer = mp3("long.mp3", 2.0), b = mp3("b.mp3"), a = mp3("a.mp3");
    for (const std::string* path : {&longer, &b, &a})
        player.open(*path);
    EXPECT_EQ(player.fileName(), a);
    expectOneWholePlay();
}

// Paused, the player sleeps and holds its place; played on, it goes on from there; stopped, it goes back to the
// start, and the end, still on its way as the main thread slept through it, does not come.
TEST_F(GstPlayerTest, PausePlayAndStopMoveThePlayerBetweenItsStates)
{
    player.open(mp3("a.mp3"));
    ASSERT_TRUE(playedPast(400));
    player.pause();
    const auto [paused, held] = std::pair(player.playbackState(), player.position());
    EXPECT_TRUE(settle(0));
    positions.clear();
    player.play();
    ASSERT_TRUE(SpinUntil([&] { return !positions.empty(); }));
    EXPECT_EQ(std::tuple(paused, player.playbackState(), positions.front() >= held),
              std::tuple(State::Paused, State::Playing, true));
    QThread::msleep(800);
    player.stop();
    EXPECT_EQ(std::pair(player.playbackState(), player.position()), std::pair(State::Stopped, qint64(0)));
    EXPECT_TRUE(settle(0));
    EXPECT_EQ(std::pair(ends, failures), std::pair(0, 0));
}

TEST_F(GstPlayerTest, PlayAfterAnEndOrAStopStartsAfresh)
{
    const std::string a = mp3("a.mp3");
    expectOneWholePlayAfterEach(
        {{"after an end", [&] { player.open(a); ASSERT_TRUE(settle(1)); ends = 0, player.play(); }},
         {"after a stop", [&] { player.open(a); ASSERT_TRUE(playedPast(400)); player.stop(), player.play(); }}});
}

TEST_F(GstPlayerTest, AnUndecodableFileFailsInsteadOfEnding)
{
    player.open(base + "/x.mp3");
    EXPECT_TRUE(settle(1));
    EXPECT_EQ(std::tuple(ends, failures, player.playbackState()), std::tuple(0, 1, State::Stopped));
}

// Retried once at debug level, then one warning; the failing element is where typefind gave up.
TEST_F(GstPlayerTest, AnUndecodableFileLogsOneWarningNamingItsPathAndTheFailingElement)
{
    const LogCapture log;
    QString reported;
    QObject::connect(&player, &GstPlayer::playbackFailed, [&](const QString& message) { reported = message; });
    player.open(base + "/x.mp3");
    ASSERT_TRUE(SpinUntil([&] { return !reported.isEmpty(); }));
    const auto warnings = log.warnings("tallowcrest.playback");
    ASSERT_EQ(warnings.size(), 1u);
    for (const QString& part : {QFile::decodeName((base + "/x.mp3").c_str()), QString("element typefind"), reported})
        EXPECT_TRUE(warnings[0].text.contains(part)) << warnings[0].text.toStdString();
}

TEST_F(GstPlayerTest, SeekMovesWithinThePlayingFile)
{
    player.open(mp3("long.mp3", 2.0));
    ASSERT_TRUE(playedPast(100));
    qint64 seeked = -1;
    QObject::connect(&player, &GstPlayer::seeked, [&](qint64 ms) { seeked = ms; });
    player.seek(1500);
    ASSERT_TRUE(SpinUntil([&] { return seeked >= 0; }));
    EXPECT_NEAR(seeked, 1500, 100);
    EXPECT_GE(player.position(), 1400);
}

TEST_F(GstPlayerTest, BeforeAnyOpenARejectedOpenOrAControlChangesNothing)
{
    ASSERT_EQ(::mkfifo((base + "/pipe.mp3").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((base + "/folder.mp3").c_str(), 0700), 0);
    const std::pair<const char*, std::string> paths[] = {
        {"missing", base + "/missing.mp3"}, {"a folder", base + "/folder.mp3"}, {"a FIFO", base + "/pipe.mp3"},
        {"empty", ""}, {"with a NUL", mp3("a.mp3") + std::string("\0x", 2)}};
    for (const auto& [name, path] : paths) {
        std::string error = "no error";
        try {
            player.open(path);
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        EXPECT_TRUE(error.starts_with(("cannot open \"" + path + "\": ").c_str())) << name << ": " << error;
        EXPECT_EQ(player.fileName(), "") << name;
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

TEST(VolumeScale, TheGainIsTenToTheLevelOver2000AndSilenceIsNone)
{
    for (auto [name, level, gain] : {std::tuple{"loudest", 0, 1.0}, {"20 dB below", -2000, 0.1},
                                     {"6 dB below", -600, 0.5011872336}, {"silent", -10000, 0.0}})
        EXPECT_NEAR(gainForLevel(level), gain, 1e-9) << name;
}

// The player gives up on a pipeline hung for longer than its patience and hands the wish to a fresh one.
TEST_F(GstPlayerTest, AHungPipelineIsReplacedAndTheFileEndsOnce)
{
    const LogCapture log;
    expectOneWholePlayAfterEach({{"at the start", [&] { hang->next = 1, player.open(mp3("a.mp3")); }},
                                 {"after the end", [&] {
                                      player.open(mp3("a.mp3"));
                                      ASSERT_TRUE(playedPast(300));
                                      hang->next = 1;
                                  }}});
    EXPECT_EQ(std::tuple(log.warnings("tallowcrest.playback").size(), hang->hung.load(), hang->outlasted.load()),
              std::tuple(2u, 2, 0));
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
