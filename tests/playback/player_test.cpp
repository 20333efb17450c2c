#include "playback/gst_player.h"
#include "playback/volume_scale.h"
#include "support/log_capture.h"
#include "support/mp3_fixture.h"
#include "support/spin.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>

namespace tallowcrest {
namespace {

using State = IMediaPlayer::PlaybackState;

// Wake-ups of all of this process's threads, not preemptions by other programs,
// while the main thread waits ms in its event loop; waking it at the end is one.
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

// A player and what it reported; the end is timed from the last mark().
struct Watched {
    explicit Watched(int stuckAfterMs = 1200)
        : player(GstPlayerOptions{stuckAfterMs, [slow = slowNextMs] {
                                      if (const int ms = slow->exchange(0))
                                          QThread::msleep(ms);
                                  }})
    {
        QObject::connect(&player, &GstPlayer::endOfStream, [this] { ++ends, endAfterMs = sinceMark.elapsed(); });
        QObject::connect(&player, &GstPlayer::playbackFailed, [this] { ++failures; });
        QObject::connect(&player, &GstPlayer::positionChanged, [this](qint64 ms) { positions.push_back(ms); });
    }

    // The pipeline thread's next state change takes ms longer (or hangs).
    void slowNext(int ms) { slowNextMs->store(ms); }
    void mark() { sinceMark.start(); }
    bool playedPast(qint64 ms) { return SpinUntil([&] { return player.position() >= ms; }); }
    // Waits for the outcomes, then a while longer, idle, for an extra one to show.
    void settle(int outcomes)
    {
        SpinUntil([&] { return ends + failures >= outcomes; }, 8000);
        // Winding the pipeline down takes a while longer on a busy machine;
        // a player that never goes quiet fails every window.
        for (int window = 0; window < 5 && (idleWakeUps = wakeUps(900)) > 2; ++window) {
        }
    }

    std::shared_ptr<std::atomic<int>> slowNextMs = std::make_shared<std::atomic<int>>(0);
    GstPlayer player;
    int ends = 0, failures = 0;
    qint64 endAfterMs = -1;
    long idleWakeUps = -1;
    QElapsedTimer sinceMark;
    std::vector<qint64> positions;
};

class GstPlayerTest : public ::testing::Test {
protected:
    // QTemporaryDir cannot remove names it cannot decode; these go by their bytes.
    void TearDown() override { std::filesystem::remove_all(base); }
    std::string mp3(const std::string& name, double seconds = 1.0) { return MakeMp3(dir.path(), name, seconds); }

    QTemporaryDir dir;
    const std::string base = QFile::encodeName(dir.path()).toStdString();
};

TEST_F(GstPlayerTest, EndsComeOncePerPlayThroughAndFailuresInsteadOfEnds)
{
    const std::string a = mp3("a.mp3"), b = mp3("b.mp3"), longer = mp3("long.mp3", 2.0);
    const std::string odd = mp3("caf\xe9 #1 50%.mp3"), garbage = base + "/x.mp3";
    std::ofstream(garbage) << std::string(65536, 'x');
    struct Row { const char* name; std::function<void(Watched&)> act; int ends, failures; };
    const Row rows[] = {
        {"plays through, by a name that is not UTF-8", [&](Watched& w) { w.mark(), w.player.open(odd); }, 1, 0},
        // Played on after a pause, then stopped while the main thread sleeps
        // through the end, which is then still on its way.
        {"pause, play on, stop as it ends, play again", [&](Watched& w) {
             w.player.open(a);
             ASSERT_TRUE(w.playedPast(400));
             w.player.pause();
             SpinFor(300);
             EXPECT_LE(wakeUps(900), 2);  // a paused player sleeps
             EXPECT_EQ(w.player.playbackState(), State::Paused);
             const qint64 held = w.player.position();
             w.positions.clear();
             w.player.play();
             ASSERT_TRUE(SpinUntil([&] { return !w.positions.empty(); }));
             EXPECT_GE(w.positions.front(), held);
             QThread::msleep(800);
             w.player.stop();
             SpinFor(300);
             EXPECT_EQ(w.player.position(), 0);
             w.mark(), w.player.play();
         }, 1, 0},
        {"another file opened, the first ending during the switch", [&](Watched& w) {
             w.player.open(a);
             ASSERT_TRUE(w.playedPast(600));
             w.slowNext(700);
             w.mark(), w.player.open(b);
         }, 1, 0},
        {"three opens at once", [&](Watched& w) {
             w.mark();
             for (const std::string* path : {&longer, &b, &a})
                 w.player.open(*path);
             EXPECT_EQ(w.player.fileName(), a);
         }, 1, 0},
        {"undecodable", [&](Watched& w) { w.player.open(garbage); }, 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Watched w;
        row.act(w);
        w.settle(row.ends + row.failures);
        EXPECT_EQ(w.ends, row.ends);
        EXPECT_EQ(w.failures, row.failures);
        EXPECT_LE(w.idleWakeUps, 2);
        if (row.ends == 0)
            continue;
        EXPECT_GE(w.endAfterMs, 900);  // a whole play from the mark
        EXPECT_LT(w.endAfterMs, 6000);
        EXPECT_EQ(w.player.playbackState(), State::Stopped);
        EXPECT_NEAR(w.player.duration(), 1000, 100);  // not that of a file replaced at once
    }
}

// Retried once at debug level, then one warning; the failing element is where typefind gave up.
TEST_F(GstPlayerTest, AnUndecodableFileLogsOneWarningNamingItsPathAndTheFailingElement)
{
    const std::string text = base + "/x.mp3";
    std::ofstream(text) << "not a sound\n";
    const LogCapture log;
    GstPlayer player;
    QString reported;
    QObject::connect(&player, &GstPlayer::playbackFailed, [&](const QString& message) { reported = message; });
    player.open(text);
    ASSERT_TRUE(SpinUntil([&] { return !reported.isEmpty(); }));
    const auto warnings = log.warnings("tallowcrest.playback");
    ASSERT_EQ(warnings.size(), 1u);
    for (const QString& part : {QFile::decodeName(text.c_str()), QStringLiteral("element typefind"), reported})
        EXPECT_TRUE(warnings[0].text.contains(part)) << warnings[0].text.toStdString();
}

TEST_F(GstPlayerTest, RejectedCallsAndControlsBeforeAnyOpenChangeNothing)
{
    ASSERT_EQ(::mkfifo((base + "/pipe.mp3").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((base + "/folder.mp3").c_str(), 0700), 0);
    GstPlayer player;
    for (const std::string& path : {base + "/missing.mp3", base + "/folder.mp3", base + "/pipe.mp3", std::string(),
                                    mp3("a.mp3") + std::string("\0x", 2)}) {
        std::string error = "no error";
        try {
            player.open(path);
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        EXPECT_TRUE(error.starts_with(("cannot open \"" + path + "\": ").c_str())) << error;  // what() ends at a NUL
        EXPECT_EQ(player.fileName(), "");
    }
    player.stop(), player.play(), player.seek(100), player.pause();
    EXPECT_EQ(player.playbackState(), State::Stopped);

    // From -600 on, a level outside the range is rejected and the last one stays.
    for (auto [level, kept] : {std::pair{1, -600}, {-10000, -10000}, {-10001, -10000}, {0, 0}}) {
        if (level == kept)
            player.setVolume(level);
        else
            EXPECT_THROW(player.setVolume(level), std::out_of_range);
        EXPECT_EQ(player.volume(), kept);
    }
    for (auto [level, gain] : {std::pair{0, 1.0}, {-2000, 0.1}, {-600, 0.5011872336}, {-10000, 0.0}})
        EXPECT_NEAR(gainForLevel(level), gain, 1e-9) << level;
}

// The pipeline thread hangs for 20 s at the first state change, after the end and on the
// way out: the player gives up on it after a second each time, its own thread never waiting.
TEST_F(GstPlayerTest, HungPipelineIsReplacedWithoutHoldingTheMainThread)
{
    std::optional<Watched> w(1000);
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    sinceTick.start();
    ticker.start(10);
    w->slowNext(20000);
    w->mark(), w->player.open(mp3("a.mp3"));
    ASSERT_TRUE(w->playedPast(300));
    w->slowNext(20000);
    w->settle(1);
    const std::size_t positionsAtEnd = w->positions.size();
    SpinFor(2000);  // a replacement must not play the file again
    EXPECT_EQ(w->positions.size(), positionsAtEnd);
    EXPECT_EQ(w->ends, 1);
    EXPECT_GE(w->endAfterMs, 1900);  // a second to give up, a second to play
    EXPECT_LT(longestGap, 500);

    w->slowNext(20000);
    QElapsedTimer destroying;
    destroying.start();
    w.reset();
    EXPECT_LT(destroying.elapsed(), 3500);
}

}  // namespace
}  // namespace tallowcrest
