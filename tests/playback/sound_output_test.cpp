// What the player sends to its output, captured through the output setting:
// gapless play from a queue, and ReplayGain.
#include "playback/gst_player.h"
#include "support/log_capture.h"
#include "support/spin.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace tallowcrest::testing {
namespace {

constexpr int kRate = 44100;
constexpr double kToneHz = 437.3;  // no whole number of periods in a piece

class SoundOutputTest : public ::testing::Test {
protected:
    // A sine of `seconds`, cut into `pieces` MP3s encoded by LAME; the first
    // piece's ID3v2 tag carries the ReplayGain track gain when given.
    std::vector<std::string> encodeTone(double seconds, int pieces, const char* trackGain = nullptr)
    {
        std::vector<std::string> files;
        const auto run = [](const QString& program, const QStringList& arguments) {
            QProcess process;
            process.start(program, arguments);
            EXPECT_TRUE(process.waitForFinished(60000) && process.exitCode() == 0)
                << program.toStdString() << ": " << process.readAllStandardError().toStdString();
        };
        const QString tone = m_dir.filePath("tone.wav");
        run("sox", {"-n", "-r", "44100", "-c", "1", "-b", "16", tone, "synth", QString::number(seconds), "sine",
                    QString::number(kToneHz), "vol", "0.5"});
        for (int i = 0; i < pieces; ++i) {
            const QString wav = m_dir.filePath(QStringLiteral("%1.wav").arg(i));
            const double length = seconds / pieces;
            run("sox", {tone, wav, "trim", QString::number(i * length, 'f', 6), QString::number(length, 'f', 6)});
            run("lame", {"--quiet", "-b", "192", wav, wav.chopped(4) + ".mp3"});
            files.push_back((wav.chopped(4) + ".mp3").toStdString());
        }
        if (trackGain)
            prependReplayGain(files[0], trackGain);
        return files;
    }

    // An ID3v2.4 tag with one TXXX frame, as taggers write ReplayGain.
    static void prependReplayGain(const std::string& file, const char* gain)
    {
        const auto syncsafe = [](int n) {
            QByteArray bytes(4, '\0');
            for (int i = 0; i < 4; ++i)
                bytes[i] = char(n >> (21 - 7 * i) & 0x7f);
            return bytes;
        };
        const QByteArray body = QByteArray("\x03REPLAYGAIN_TRACK_GAIN", 22) + '\0' + gain;
        const QByteArray frame = "TXXX" + syncsafe(body.size()) + QByteArray(2, '\0') + body;
        QFile mp3(QString::fromStdString(file));
        ASSERT_TRUE(mp3.open(QIODevice::ReadWrite));
        const QByteArray audio = mp3.readAll();
        mp3.seek(0);
        mp3.write(QByteArray("ID3\x04\0\0", 6) + syncsafe(frame.size()) + frame + audio);
    }

    // Plays the files one after the other, each queued while the one before
    // plays, and returns the mono 16-bit samples that reached the output.
    std::vector<qint16> playThrough(const std::vector<std::string>& files, IMediaPlayer::ReplayGain gain)
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
        std::vector<qint16> samples(std::size_t(bytes.size()) / 2);
        std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
        return samples;
    }

    QTemporaryDir m_dir;
    int m_captures = 0;
};

// The longest run of samples near silence within [from, to).
int longestQuietRun(const std::vector<qint16>& samples, std::size_t from, std::size_t to)
{
    int longest = 0, run = 0;
    for (std::size_t i = from; i < std::min(to, samples.size()); ++i) {
        run = std::abs(samples[i]) < 300 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

// The tone's phase at sample i, by least squares over a window: the lag, in
// samples, of the tone against one that started at sample 0.
double lagAt(const std::vector<qint16>& samples, std::size_t start, std::size_t length)
{
    double sinSum = 0, cosSum = 0;
    for (std::size_t i = start; i < start + length; ++i) {
        const double angle = 2 * M_PI * kToneHz * double(i) / kRate;
        sinSum += samples[i] * std::sin(angle);
        cosSum += samples[i] * std::cos(angle);
    }
    const double phase = std::atan2(cosSum, sinSum);  // 0 for sin(angle) itself
    return -phase / (2 * M_PI * kToneHz) * kRate;
}

double rms(const std::vector<qint16>& samples, std::size_t from, std::size_t to)
{
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(to - from));
}

TEST_F(SoundOutputTest, QueuedFilesFollowWithNoSilenceAndNoJumpInTheTone)
{
    const std::vector<qint16> out = playThrough(encodeTone(6.0, 3), IMediaPlayer::ReplayGain::Off);
    ASSERT_NEAR(double(out.size()), 6.0 * kRate, kRate / 100.0) << "the encoder's delay and padding are trimmed";
    const struct { const char* name; std::size_t at; } boundaries[] = {{"first", 2 * kRate}, {"second", 4 * kRate}};
    for (const auto& boundary : boundaries) {
        EXPECT_LE(longestQuietRun(out, boundary.at - kRate / 10, boundary.at + kRate / 10), kRate / 1000)
            << "silence at the " << boundary.name << " boundary";
        const double before = lagAt(out, boundary.at - 2205, 2205), after = lagAt(out, boundary.at, 2205);
        EXPECT_LE(std::abs(after - before), kRate / 1000.0) << "the tone jumps at the " << boundary.name << " boundary";
    }
}

TEST_F(SoundOutputTest, ATrackTaggedSixDecibelsDownPlaysAtHalfTheAmplitudeOnlyWithReplayGainOn)
{
    const std::vector<std::string> tagged = encodeTone(2.0, 1, "-6.00 dB");
    const std::vector<qint16> off = playThrough(tagged, IMediaPlayer::ReplayGain::Off);
    const std::vector<qint16> on = playThrough(tagged, IMediaPlayer::ReplayGain::Track);
    ASSERT_GT(std::min(off.size(), on.size()), std::size_t(kRate));
    const double ratioDb = 20 * std::log10(rms(on, kRate / 4, kRate) / rms(off, kRate / 4, kRate));
    EXPECT_NEAR(ratioDb, -6.0, 0.5);
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
                  std::tuple(missing, int(missing), std::size_t(missing)))
            << "output \"" << output << '"';
    }
}

}  // namespace
}  // namespace tallowcrest::testing
