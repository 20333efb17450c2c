// What the player sends to its output, captured through the output setting: gapless play from a queue, and ReplayGain.
#include "playback/gst_player.h"
#include "support/log_capture.h"
#include "support/spin.h"
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cmath>
#include <numeric>
#include <vector>

namespace tallowcrest::testing {
namespace {
using Samples = std::vector<qint16>;
constexpr int kRate = 44100;
constexpr double kToneHz = 437.3;  // no whole number of periods in a piece

class SoundOutputTest : public ::testing::Test {
protected:
    // A sine of `seconds`, cut into `pieces` MP3s encoded by LAME; the first piece's ID3v2 tag carries the
    // ReplayGain track gain when given.
    std::vector<std::string> encodeTone(double seconds, int pieces, const char* trackGain = nullptr)
    {
        const auto run = [](const QStringList& command) {  // its errors go to this program's own
            EXPECT_EQ(QProcess::execute(command[0], command.mid(1)), 0) << command.join(' ').toStdString();
        };
        const QString tone = m_dir.filePath("tone.wav");
        run({"sox", "-n", "-r", "44100", "-c", "1", "-b", "16", tone, "synth", QString::number(seconds), "sine",
             QString::number(kToneHz), "vol", "0.5"});
        std::vector<std::string> files;
        const double length = seconds / pieces;
        for (int i = 0; i < pieces; ++i) {
            const QString wav = m_dir.filePath(QStringLiteral("%1.wav").arg(i)), mp3 = wav.chopped(4) + ".mp3";
            run({"sox", tone, wav, "trim", QString::number(i * length, 'f', 6), QString::number(length, 'f', 6)});
            run({"lame", "--quiet", "-b", "192", wav, mp3});
            files.push_back(mp3.toStdString());
        }
        if (trackGain)
            prependReplayGain(files[0], trackGain);
        return files;
    }
    // An ID3v2.4 tag with one TXXX frame, as taggers write ReplayGain.
    static void prependReplayGain(const std::string& file, const char* gain)
    {
        const auto syncsafe = [](int n) { return QByteArray(3, '\0') + char(n); };  // for sizes below 128
        const QByteArray body = QByteArray("\x03REPLAYGAIN_TRACK_GAIN", 22) + '\0' + gain;
        const QByteArray frame = "TXXX" + syncsafe(body.size()) + QByteArray(2, '\0') + body;
        QFile mp3(QString::fromStdString(file));
        ASSERT_TRUE(mp3.open(QIODevice::ReadWrite));
        const QByteArray audio = mp3.readAll();
        mp3.seek(0);
        mp3.write(QByteArray("ID3\x04\0\0", 6) + syncsafe(frame.size()) + frame + audio);
    }
    // Plays the files one after the other, each queued while the one before plays, and returns the mono 16-bit
    // samples that reached the output.
    Samples playThrough(const std::vector<std::string>& files, IMediaPlayer::ReplayGain gain)
    {
        const QString raw = m_dir.filePath(QStringLiteral("out-%1.raw").arg(m_captures++));
        GstPlayer player({.audioOutput = "audioconvert ! audio/x-raw,format=S16LE,rate=44100,channels=1 ! "
                                         "filesink location=" + raw.toStdString() + " sync=false"});
        player.setVolume(IMediaPlayer::kLoudest);
        player.setReplayGain(gain, 0.0);
        std::size_t next = 1;
        bool ended = false;
        QObject::connect(&player, &IMediaPlayer::advanced, [&] {
            player.queueNext(++next < files.size() ? files[next] : std::string());
        });
        QObject::connect(&player, &IMediaPlayer::endOfStream, [&] { ended = true; });
        player.open(files[0]);
        player.queueNext(files.size() > 1 ? files[1] : std::string());
        EXPECT_TRUE(SpinUntil([&] { return ended; }, 60000)) << "the last file did not end";
        EXPECT_EQ(next, std::max<std::size_t>(files.size(), 1)) << "not every queued file began";
        QFile out(raw);
        EXPECT_TRUE(out.open(QIODevice::ReadOnly));
        const QByteArray bytes = out.readAll();
        const auto* first = reinterpret_cast<const qint16*>(bytes.constData());
        return Samples(first, first + bytes.size() / 2);
    }
    QTemporaryDir m_dir;
    int m_captures = 0;
};

// The longest run of samples near silence within [from, to).
int longestQuietRun(const Samples& samples, std::size_t from, std::size_t to)
{
    int longest = 0, run = 0;
    for (std::size_t i = from; i < std::min(to, samples.size()); ++i) {
        run = std::abs(samples[i]) < 300 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}
// The tone's phase by least squares over a window: the lag, in samples, of the tone against one that began at 0.
double lagAt(const Samples& samples, std::size_t start, std::size_t length)
{
    double sinSum = 0, cosSum = 0;
    for (std::size_t i = start; i < start + length; ++i) {
        const double angle = 2 * M_PI * kToneHz * double(i) / kRate;
        sinSum += samples[i] * std::sin(angle);
        cosSum += samples[i] * std::cos(angle);
    }
    return -std::atan2(cosSum, sinSum) / (2 * M_PI * kToneHz) * kRate;  // the phase is 0 for sin(angle) itself
}
double rms(const Samples& samples, std::size_t from, std::size_t to)
{
    const auto begin = samples.begin() + std::ptrdiff_t(from), end = samples.begin() + std::ptrdiff_t(to);
    return std::sqrt(std::inner_product(begin, end, begin, 0.0) / double(to - from));
}

TEST_F(SoundOutputTest, QueuedFilesFollowWithNoSilenceAndNoJumpInTheTone)
{
    const Samples out = playThrough(encodeTone(6.0, 3), IMediaPlayer::ReplayGain::Off);
    ASSERT_NEAR(double(out.size()), 6.0 * kRate, kRate / 100.0) << "the encoder's delay and padding are trimmed";
    for (const auto& [boundary, at] : {std::pair{"first", 2 * kRate}, {"second", 4 * kRate}}) {
        EXPECT_LE(longestQuietRun(out, at - kRate / 10, at + kRate / 10), kRate / 1000) << "silence at " << boundary;
        const double before = lagAt(out, at - 2205, 2205), after = lagAt(out, at, 2205);
        EXPECT_LE(std::abs(after - before), kRate / 1000.0) << "the tone jumps at " << boundary;
    }
}
TEST_F(SoundOutputTest, ATrackTaggedSixDecibelsDownPlaysAtHalfTheAmplitudeOnlyWithReplayGainOn)
{
    const std::vector<std::string> tagged = encodeTone(2.0, 1, "-6.00 dB");
    const Samples off = playThrough(tagged, IMediaPlayer::ReplayGain::Off);
    const Samples on = playThrough(tagged, IMediaPlayer::ReplayGain::Track);
    ASSERT_GT(std::min(off.size(), on.size()), std::size_t(kRate));
    EXPECT_NEAR(20 * std::log10(rms(on, kRate / 4, kRate) / rms(off, kRate / 4, kRate)), -6.0, 0.5);
}
// The tests run where the default output can only end on a fake sink.
TEST_F(SoundOutputTest, ADefaultOutputThatPlaysIntoNothingIsSaidOnceAndAChosenOneNever)
{
    const std::vector<std::string> files = encodeTone(1.0, 2);
    for (const std::string output : {"", "fakesink sync=false"}) {
        LogCapture log;
        GstPlayer player({.audioOutput = output});
        int lost = 0, ended = 0;
        QObject::connect(&player, &IMediaPlayer::soundOutputLost, [&] { ++lost; });
        QObject::connect(&player, &IMediaPlayer::endOfStream, [&] { ++ended; });
        for (const std::string& file : files) {
            player.open(file);
            ASSERT_TRUE(SpinUntil([&, before = ended] { return ended > before; }, 30000)) << file;
        }
        const bool missing = output.empty();
        EXPECT_EQ(std::tuple(player.soundOutputMissing(), lost, log.warnings("tallowcrest.playback").size()),
                  std::tuple(missing, int(missing), std::size_t(missing))) << "output \"" << output << '"';
    }
}

}  // namespace
}  // namespace tallowcrest::testing
