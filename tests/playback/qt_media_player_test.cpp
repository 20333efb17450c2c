#include "playback/qt_media_player.h"
#include "support/mp3_fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <stdexcept>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Lets the player run for a while with events delivered, for checks that
// something does NOT happen.
void RunEventsFor(int ms)
{
    SpinUntil([] { return false; }, ms);
}

class QtMediaPlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        SetUpCounters();
    }

    // QTemporaryDir cannot remove names it cannot decode, so the files go
    // here, by their bytes.
    void TearDown() override
    {
        player.Stop();
        const QByteArray folder = QFile::encodeName(dir.path());
        if (DIR* entries = ::opendir(folder.constData())) {
            while (const dirent* entry = ::readdir(entries))
                ::unlinkat(::dirfd(entries), entry->d_name, 0);
            ::closedir(entries);
        }
    }

    void SetUpCounters()
    {
        QObject::connect(&player, &QtMediaPlayer::endOfStream, [this] { ++ends; });
        QObject::connect(&player, &QtMediaPlayer::playbackFailed, [this] { ++failures; });
        QObject::connect(&player, &QtMediaPlayer::durationChanged, [this] { ++durationChanges; });
    }

    bool WaitForEnds(int count)
    {
        return SpinUntil([&] { return ends >= count; }, kDeadlineMs);
    }

    bool WaitUntilPlaying()
    {
        return SpinUntil([&] { return player.position() > 0; }, kDeadlineMs);
    }

    QTemporaryDir dir;
    QtMediaPlayer player;
    int ends = 0;
    int failures = 0;
    int durationChanges = 0;
};

TEST_F(QtMediaPlayerTest, NewPlayerHasNoFileAndTheStartingVolume)
{
    EXPECT_EQ(player.FileName(), "");
    EXPECT_EQ(player.Volume(), QtMediaPlayer::kStartingVolume);
    EXPECT_EQ(player.Volume(), -600);
}

TEST_F(QtMediaPlayerTest, ControlsBeforeAnyOpenDoNothing)
{
    player.Play();
    player.Pause();
    player.Stop();
    player.Play();
    RunEventsFor(300);
    EXPECT_EQ(player.FileName(), "");
    EXPECT_EQ(player.playbackState(), QMediaPlayer::StoppedState);
    EXPECT_EQ(ends, 0);
}

TEST_F(QtMediaPlayerTest, OpenedFilePlaysToItsEndExactlyOnce)
{
    const std::string path = MakeMp3(dir.path(), "one second.mp3", 1.0);

    player.Open(path);

    EXPECT_EQ(player.FileName(), path);
    ASSERT_TRUE(WaitForEnds(1)) << "no end of stream within " << kDeadlineMs << " ms";
    RunEventsFor(1500);
    EXPECT_EQ(ends, 1);
    EXPECT_NEAR(player.duration(), 1000, 100);
    EXPECT_GT(durationChanges, 0);
    EXPECT_EQ(player.FileName(), path);
}

TEST_F(QtMediaPlayerTest, StopBeforeTheEndReportsNoEnd)
{
    player.Open(MakeMp3(dir.path(), "a.mp3", 1.0));
    ASSERT_TRUE(WaitUntilPlaying());

    player.Stop();

    RunEventsFor(2000);
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(player.playbackState(), QMediaPlayer::StoppedState);
}

TEST_F(QtMediaPlayerTest, StopThenPlayStartsOverAndEndsOnce)
{
    player.Open(MakeMp3(dir.path(), "a.mp3", 1.0));
    ASSERT_TRUE(WaitUntilPlaying());
    player.Stop();
    RunEventsFor(200);

    QElapsedTimer sincePlay;
    sincePlay.start();
    player.Play();

    ASSERT_TRUE(WaitForEnds(1));
    // The whole second is played again, not what was left of it.
    EXPECT_GE(sincePlay.elapsed(), 900);
    RunEventsFor(800);
    EXPECT_EQ(ends, 1);
}

TEST_F(QtMediaPlayerTest, OpeningAnotherFileWhileOnePlaysReportsOnlyTheSecondEnd)
{
    const std::string first = MakeMp3(dir.path(), "first.mp3", 1.0);
    const std::string second = MakeMp3(dir.path(), "second.mp3", 2.0);
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    player.Open(first);
    ASSERT_TRUE(WaitUntilPlaying());

    player.Open(second);
    EXPECT_EQ(player.FileName(), second);

    // Well past where the first file would have ended.
    RunEventsFor(static_cast<int>(qMax<qint64>(0, 1500 - sinceFirst.elapsed())));
    EXPECT_EQ(ends, 0);
    ASSERT_TRUE(WaitForEnds(1));
    RunEventsFor(800);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(player.FileName(), second);
}

TEST_F(QtMediaPlayerTest, ReopeningTheLoadedFileStartsItFromTheBeginning)
{
    const std::string path = MakeMp3(dir.path(), "again.mp3", 1.0);
    player.Open(path);
    ASSERT_TRUE(WaitUntilPlaying());
    RunEventsFor(500);

    QElapsedTimer sinceReopen;
    sinceReopen.start();
    player.Open(path);

    ASSERT_TRUE(WaitForEnds(1));
    EXPECT_GE(sinceReopen.elapsed(), 900);
    RunEventsFor(800);
    EXPECT_EQ(ends, 1);
}

TEST_F(QtMediaPlayerTest, NextFileOpenedFromTheEndHandlerPlaysToItsEndToo)
{
    const std::string first = MakeMp3(dir.path(), "first.mp3", 1.0);
    const std::string second = MakeMp3(dir.path(), "second.mp3", 1.0);
    QObject::connect(&player, &QtMediaPlayer::endOfStream, &player, [&] {
        if (player.FileName() == first)
            player.Open(second);
    });

    player.Open(first);

    ASSERT_TRUE(WaitForEnds(2));
    EXPECT_EQ(player.FileName(), second);
    RunEventsFor(800);
    EXPECT_EQ(ends, 2);
}

TEST_F(QtMediaPlayerTest, PauseHoldsTheTrackAndPlayResumesItToOneEnd)
{
    player.Open(MakeMp3(dir.path(), "a.mp3", 1.0));
    ASSERT_TRUE(WaitUntilPlaying());

    player.Pause();
    RunEventsFor(1500);
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(player.playbackState(), QMediaPlayer::PausedState);
    const qint64 heldAt = player.position();
    EXPECT_GT(heldAt, 0);
    EXPECT_LT(heldAt, 1000);

    player.Play();
    ASSERT_TRUE(WaitForEnds(1));
    RunEventsFor(800);
    EXPECT_EQ(ends, 1);
}

TEST_F(QtMediaPlayerTest, NamesThatAreNotUtf8PlayTheExactFile)
{
    const std::string name = "caf\xe9 \xff\xfe tune.mp3";
    const std::string path = MakeMp3(dir.path(), name, 1.0);
    // A lossy decoding of the name points at this longer file instead.
    const QString decoded = QFileInfo(QFile::decodeName(QByteArray::fromStdString(path))).fileName();
    const std::string decoy = MakeMp3(dir.path(), decoded, 3.0);
    ASSERT_NE(decoy, path);

    player.Open(path);

    EXPECT_EQ(player.FileName(), path);
    ASSERT_TRUE(WaitForEnds(1));
    EXPECT_NEAR(player.duration(), 1000, 100);
    RunEventsFor(800);
    EXPECT_EQ(ends, 1);
}

TEST_F(QtMediaPlayerTest, QuickSwitchesBetweenByteNamedAndOrdinaryFilesPlayEachFile)
{
    const std::string first = MakeMp3(dir.path(), std::string("first \xe9.mp3"), 1.0);
    const std::string second = MakeMp3(dir.path(), std::string("second \xe9.mp3"), 1.0);
    const std::string plain = MakeMp3(dir.path(), "plain.mp3", 1.0);

    // Quick switches now and then made Qt report an end for a file that had
    // not started; such a file must still play and report nothing.
    const std::string order[] = {first, second, plain, first, plain, plain, second, first, second};
    for (const std::string& path : order) {
        SCOPED_TRACE(path);
        player.Open(path);
        ASSERT_TRUE(WaitUntilPlaying()) << "media status " << player.qtPlayer()->mediaStatus();
        RunEventsFor(100);
    }

    ASSERT_TRUE(WaitForEnds(1));
    RunEventsFor(800);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(player.FileName(), second);
}

TEST_F(QtMediaPlayerTest, NamesWithUrlCharactersPlay)
{
    const std::string path = MakeMp3(dir.path(), "#1 100% what?.mp3", 1.0);

    player.Open(path);

    ASSERT_TRUE(WaitForEnds(1));
    EXPECT_EQ(player.FileName(), path);
}

TEST_F(QtMediaPlayerTest, PathsThatCannotBeOpenedThrowAndChangeNothing)
{
    const std::string playing = MakeMp3(dir.path(), "playing.mp3", 1.0);
    const QByteArray base = QFile::encodeName(dir.path());
    const std::string fifo = (base + "/pipe.mp3").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = (base + "/folder.mp3").toStdString();
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    player.Open(playing);

    const std::string bad[] = {
        (base + "/missing.mp3").toStdString(),
        (base + "/no such folder/x.mp3").toStdString(),
        "",
        folder,
        fifo,  // must not wait for a writer
        "/dev/null",
        playing + std::string("\0tail", 5),
        playing + "\r\n",
    };
    for (const std::string& path : bad) {
        SCOPED_TRACE(path);
        EXPECT_THROW(player.Open(path), std::runtime_error);
        EXPECT_EQ(player.FileName(), playing);
    }

    // What was playing goes on to its own end.
    ASSERT_TRUE(WaitForEnds(1));
    EXPECT_EQ(ends, 1);
}

TEST_F(QtMediaPlayerTest, FileThatIsNoMp3IsReportedAsFailedNotEnded)
{
    const QString path = dir.filePath(QStringLiteral("text.mp3"));
    QFile text(path);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write(QByteArray(4096, 'x'));
    text.close();

    player.Open(QFile::encodeName(path).toStdString());

    ASSERT_TRUE(SpinUntil([&] { return failures > 0; }, kDeadlineMs));
    RunEventsFor(1000);
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(player.FileName(), QFile::encodeName(path).toStdString());
}

TEST_F(QtMediaPlayerTest, VolumeAcceptsTheWholeRangeAndKeepsTheExactLevel)
{
    for (int level : {IMediaPlayer::kSilent, IMediaPlayer::kLoudest, -1, -9999, -1234, -601}) {
        player.SetVolume(level);
        EXPECT_EQ(player.Volume(), level);
        EXPECT_FLOAT_EQ(player.qtPlayer()->audioOutput()->volume(), QtMediaPlayer::GainForLevel(level));
    }
}

TEST_F(QtMediaPlayerTest, VolumeOutsideTheRangeThrowsAndTheLevelStays)
{
    player.SetVolume(-2500);
    const float gain = player.qtPlayer()->audioOutput()->volume();

    for (int level : {1, 100, -10001, -10100, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(level);
        EXPECT_THROW(player.SetVolume(level), std::out_of_range);
        EXPECT_EQ(player.Volume(), -2500);
        EXPECT_FLOAT_EQ(player.qtPlayer()->audioOutput()->volume(), gain);
    }
}

TEST(QtMediaPlayerGain, LevelsMapToAmplitude)
{
    EXPECT_FLOAT_EQ(QtMediaPlayer::GainForLevel(0), 1.0f);
    EXPECT_FLOAT_EQ(QtMediaPlayer::GainForLevel(-2000), 0.1f);  // -20 dB
    EXPECT_FLOAT_EQ(QtMediaPlayer::GainForLevel(-600), 0.50118723f);
    EXPECT_EQ(QtMediaPlayer::GainForLevel(IMediaPlayer::kSilent), 0.0f);
    EXPECT_GT(QtMediaPlayer::GainForLevel(IMediaPlayer::kSilent + 1), 0.0f);
}

TEST(QtMediaPlayerBackend, SelectBackendKeepsAChoiceAlreadyMade)
{
    const QByteArray before = qgetenv("QT_MEDIA_BACKEND");
    qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    QtMediaPlayer::SelectBackend();
    EXPECT_EQ(qgetenv("QT_MEDIA_BACKEND"), "ffmpeg");
    qunsetenv("QT_MEDIA_BACKEND");
    QtMediaPlayer::SelectBackend();
    EXPECT_EQ(qgetenv("QT_MEDIA_BACKEND"), "gstreamer");
    if (before.isNull())
        qunsetenv("QT_MEDIA_BACKEND");
    else
        qputenv("QT_MEDIA_BACKEND", before);
}

}  // namespace
}  // namespace tallowcrest
