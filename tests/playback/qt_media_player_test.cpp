#include "playback/qt_media_player.h"
#include "support/mp3_fixture.h"
#include "support/spin.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <sys/stat.h>

namespace tallowcrest {
namespace {

class QtMediaPlayerTest : public ::testing::Test {
protected:
    QtMediaPlayerTest()
    {
        QObject::connect(&player, &QtMediaPlayer::endOfStream, [this] { ++ends; });
        QObject::connect(&player, &QtMediaPlayer::playbackFailed, [this] { ++failures; });
    }

    // QTemporaryDir cannot remove names it cannot decode; these go by their bytes.
    void TearDown() override
    {
        player.Stop();
        std::filesystem::remove_all(QFile::encodeName(dir.path()).toStdString());
    }

    std::string Mp3(const std::string& name, double seconds = 1.0) { return MakeMp3(dir.path(), name, seconds); }
    bool WaitUntilPlaying() { return SpinUntil([&] { return player.position() > 0; }); }

    // Waits for the count-th end, then a second more so that an extra end
    // shows; returns the milliseconds until the count-th end.
    qint64 ExpectEndsToSettleAt(int count)
    {
        QElapsedTimer timer;
        timer.start();
        SpinUntil([&] { return ends >= count; });
        const qint64 tookMs = timer.elapsed();
        SpinFor(1000);
        EXPECT_EQ(ends, count);
        return tookMs;
    }

    QTemporaryDir dir;
    QtMediaPlayer player;
    int ends = 0;
    int failures = 0;
};

TEST_F(QtMediaPlayerTest, ControlsBeforeAnyOpenDoNothing)
{
    EXPECT_EQ(player.FileName(), "");
    player.Play();
    player.Pause();
    player.Stop();
    player.Play();
    SpinFor(300);
    EXPECT_EQ(player.FileName(), "");
    EXPECT_EQ(player.playbackState(), QMediaPlayer::StoppedState);
    EXPECT_EQ(ends + failures, 0);
}

TEST_F(QtMediaPlayerTest, OpenedFilePlaysToItsEndExactlyOnce)
{
    const std::string path = Mp3("one second.mp3");
    player.Open(path);
    EXPECT_EQ(player.FileName(), path);
    ExpectEndsToSettleAt(1);
    EXPECT_NEAR(player.duration(), 1000, 100);
    EXPECT_EQ(player.FileName(), path);
}

TEST_F(QtMediaPlayerTest, StopGivesNoEndAndPlayThenStartsOver)
{
    player.Open(Mp3("a.mp3"));
    ASSERT_TRUE(SpinUntil([&] { return player.position() >= 500; }));
    player.Stop();
    SpinFor(2000);
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(player.playbackState(), QMediaPlayer::StoppedState);

    player.Play();
    EXPECT_GE(ExpectEndsToSettleAt(1), 900);  // the whole second, not what was left
}

TEST_F(QtMediaPlayerTest, OpeningAnotherFileWhileOnePlaysReportsOnlyTheSecondEnd)
{
    const std::string second = Mp3("second.mp3", 2.0);
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    player.Open(Mp3("first.mp3", 1.0));
    ASSERT_TRUE(WaitUntilPlaying());

    player.Open(second);
    EXPECT_EQ(player.FileName(), second);
    SpinFor(1500 - sinceFirst.elapsed());  // past where the first would have ended
    EXPECT_EQ(ends, 0);
    ExpectEndsToSettleAt(1);
    EXPECT_EQ(player.FileName(), second);
}

TEST_F(QtMediaPlayerTest, PauseHoldsTheTrackAndPlayResumesItToOneEnd)
{
    player.Open(Mp3("a.mp3"));
    ASSERT_TRUE(WaitUntilPlaying());
    player.Pause();
    SpinFor(1500);
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(player.playbackState(), QMediaPlayer::PausedState);
    EXPECT_GT(player.position(), 0);
    EXPECT_LT(player.position(), 1000);

    player.Play();
    ExpectEndsToSettleAt(1);
}

// The byte name reaches the player through a link, the next name (opened from
// the end handler, with URL characters) through a URL.
TEST_F(QtMediaPlayerTest, NamesThatAreNotUtf8PlayTheExactFile)
{
    const std::string name = "caf\xe9 \xff\xfe tune.mp3";
    const std::string path = Mp3(name, 1.0);
    // A lossy decoding of the name points at this longer file instead.
    ASSERT_NE(Mp3(QFile::decodeName(QByteArray::fromStdString(name)).toStdString(), 3.0), path);
    // Short, so that its end falls well inside the wait after the first end.
    const std::string next = Mp3("#1 100% what?.mp3", 0.5);
    qint64 firstDuration = 0;
    QObject::connect(&player, &QtMediaPlayer::endOfStream, &player, [&] {
        if (player.FileName() == path) {
            firstDuration = player.duration();
            player.Open(next);
        }
    });

    player.Open(path);
    EXPECT_EQ(player.FileName(), path);
    ExpectEndsToSettleAt(2);
    EXPECT_NEAR(firstDuration, 1000, 100);
    EXPECT_EQ(player.FileName(), next);
}

TEST_F(QtMediaPlayerTest, PathsThatCannotBeOpenedThrowAndChangeNothing)
{
    const std::string base = QFile::encodeName(dir.path()).toStdString();
    const std::string playing = Mp3("playing.mp3");
    ASSERT_EQ(::mkfifo((base + "/pipe.mp3").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((base + "/folder.mp3").c_str(), 0700), 0);
    player.Open(playing);

    const std::string bad[] = {
        base + "/missing.mp3",
        base + "/no such folder/x.mp3",
        "",
        base + "/folder.mp3",
        base + "/pipe.mp3",  // must not wait for a writer
        "/dev/null",
        playing + std::string("\0tail", 5),
        playing + "\r\n",
    };
    for (const std::string& path : bad) {
        SCOPED_TRACE(path);
        EXPECT_THROW(player.Open(path), std::runtime_error);
        EXPECT_EQ(player.FileName(), playing);
    }
    ExpectEndsToSettleAt(1);  // what was playing goes on to its own end
}

TEST_F(QtMediaPlayerTest, FileThatIsNoMp3IsReportedAsFailedNotEnded)
{
    const std::string path = QFile::encodeName(dir.filePath("text.mp3")).toStdString();
    std::ofstream(path) << std::string(4096, 'x');

    for (int attempt = 1; attempt <= 2; ++attempt) {
        player.Open(path);
        ASSERT_TRUE(SpinUntil([&] { return failures >= attempt; })) << "attempt " << attempt;
        SpinFor(1000);
        EXPECT_EQ(failures, attempt);
        EXPECT_EQ(ends, 0);
        EXPECT_EQ(player.FileName(), path);
    }
}

TEST_F(QtMediaPlayerTest, OpensInQuickSuccessionPlayOnlyTheLastAndAStopInBetweenHolds)
{
    const std::string a = Mp3("a.mp3", 1.0), b = Mp3("b.mp3", 1.0);
    for (const std::string& path : {a, b, a, b})
        player.Open(path);
    EXPECT_EQ(player.FileName(), b);
    ExpectEndsToSettleAt(1);
    EXPECT_TRUE(player.qtPlayer()->source().toLocalFile().endsWith(QStringLiteral("/b.mp3")));

    player.Open(a);
    player.Open(b);
    player.Stop();
    SpinFor(2000);
    EXPECT_EQ(ends, 1);
    player.Play();
    ExpectEndsToSettleAt(2);
}

// Pausing or stopping flushes the pipeline, which must wait until the file
// has loaded; the last control given meanwhile is the one that counts.
TEST_F(QtMediaPlayerTest, ControlsGivenWhileAFileLoadsTakeEffectOnceItHasLoaded)
{
    const std::string a = Mp3("a.mp3", 1.0), b = Mp3("b.mp3", 1.0);
    player.Open(a);
    player.Pause();
    SpinFor(1500);
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(player.playbackState(), QMediaPlayer::PausedState);
    player.Play();
    ExpectEndsToSettleAt(1);

    player.Open(b);
    player.Stop();
    SpinFor(1500);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(player.playbackState(), QMediaPlayer::StoppedState);

    player.Open(a);
    player.Pause();
    player.Play();
    ExpectEndsToSettleAt(2);

    // What a remote client does with "01", "02" and "05" sent together.
    for (int round = 0; round < 200; ++round) {
        player.Open(round % 2 ? a : b);
        player.Play();
        player.Pause();
        SpinFor(round % 5);
    }
    player.Play();
    ExpectEndsToSettleAt(3);
}

TEST_F(QtMediaPlayerTest, VolumeTakesTheExactLevelsInRangeAndKeepsItOtherwise)
{
    for (int level : {0, -10000, -1234}) {
        player.SetVolume(level);
        EXPECT_EQ(player.Volume(), level);
    }
    const float gain = player.qtPlayer()->audioOutput()->volume();
    for (int level : {1, -10001, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(level);
        EXPECT_THROW(player.SetVolume(level), std::out_of_range);
        EXPECT_EQ(player.Volume(), -1234);
        EXPECT_EQ(player.qtPlayer()->audioOutput()->volume(), gain);
    }
}

}  // namespace
}  // namespace tallowcrest
