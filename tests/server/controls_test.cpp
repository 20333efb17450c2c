// The rules every hand at the machine goes through, once, and what plays after a track ends or fails.
#include "library/track_scan.h"
#include "support/fake_server.h"
#include "support/log_capture.h"
#include "server/replay_gain.h"
#include <QCoreApplication>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cmath>

namespace tallowcrest::testing {
namespace {
using namespace std::string_literals;
using Status = IMediaPlayer::PlaybackState;
using Command = std::function<Outcome(Controls&)>;
struct State { const char* name; const char* file = "/m/a.mp3"; Status status = Status::Stopped; };
const State kNothingLoaded{"nothing loaded", ""}, kPlaying{"playing", "/m/a.mp3", Status::Playing};
const State kStates[] = {kNothingLoaded, kPlaying, {"paused", "/m/a.mp3", Status::Paused}, {"stopped"}};
class ControlsTest : public ::testing::Test {
protected:
    void enter(const State& state)
    {
        server.media.opened = state.file;
        server.media.state = state.status;
        server.media.calls.clear();
    }
    void play(int row) { server.controls().playRow(row, server.lstFiles.version()); }
    std::string row(int index) const { return std::string(server.lstFiles.row(index)); }
    // The selected row and the file the player has, after the track ended or failed.
    std::pair<int, std::string> after(bool failed = false)
    {
        failed ? emit server.media.playbackFailed("cannot decode") : emit server.media.endOfStream();
        QCoreApplication::sendPostedEvents();
        return {server.lstFiles.selectedIndex(), server.media.opened};
    }
    std::vector<float> draws;
    std::size_t m_drawn = 0;
    FakeServer server{{}, [this] { return draws.at(m_drawn++); }};
};
TEST_F(ControlsTest, TransportAndSeekActOnlyOnALoadedTrack)
{
    const struct { const char* name; Command command; std::string call; } commands[] = {
        {"play", &Controls::play, "play"}, {"pause", &Controls::pause, "pause"}, {"stop", &Controls::stop, "stop"},
        {"seek", [](Controls& c) { return c.seek(0); }, "seek 0"}};
    for (const auto& command : commands)
        for (const State& state : kStates) {
            enter(state);
            EXPECT_EQ((std::pair{command.command(server.controls()), server.media.calls}),
                      *state.file ? std::pair(Outcome::Done, std::vector{command.call})
                                  : std::pair(Outcome::NothingLoaded, std::vector<std::string>{}))
                << command.name << " when " << state.name;
        }
}
// Arguments are ignored where none is taken. A failed request logs its opcode, the reason and at most 200 bytes sent.
TEST_F(ControlsTest, EachRequestOfAClientReachesItsControlAndOnlyAFailedOneIsLogged)
{
    server.connectClient();
    using Calls = std::vector<std::string>;
    const struct { const char* name; State state; std::string block; int before; std::string heard; Calls calls; int after;
                   bool shuffle; std::vector<QString> said; } rows[] = {
        {"play", kStates[3], "02", -600, "", {"play"}, -600, false, {}},
        {"stop", kPlaying, "03x", -600, "", {"stop"}, -600, false, {}},
        {"pause", kPlaying, "04xyz", -600, "", {"pause"}, -600, false, {}},
        {"stop with nothing loaded", kNothingLoaded, "03", -600, "CODE_12", {}, -600, false, {}},
        {"louder", kPlaying, "05xyz", -600, "", {}, -500, false, {}},
        {"quieter", kPlaying, "06", -600, "", {}, -700, false, {}},
        {"louder at the loudest", kPlaying, "05", 0, "", {}, 0, false, {"request 05 failed", "out of range"}},
        {"shuffle, told nobody", kPlaying, "07 1", -600, "", {}, -600, true, {}},
        {"shuffle of no Boolean", kPlaying, "07yes", -600, "", {}, -600, false, {"request 07 failed", "no Boolean", "07yes"}},
        {"unprintable bytes", kPlaying, std::string("07\x01\x7f\xff", 5), -600, "", {}, -600, false, {"07\\x01\\x7f\\xff"}},
        {"a long block", kPlaying, "07" + std::string(5000, 'y'), -600, "", {}, -600, false,
         {QString(198, 'y') + "... (5002 bytes)"}},
        {"an opcode nobody knows", kPlaying, "99", -600, "", {}, -600, false, {}}};
    for (const auto& row : rows) {
        enter(row.state);
        server.media.level = row.before;
        server.controls().setShuffleQuietly(false);
        const LogCapture log;
        EXPECT_EQ((std::tuple{server.winsock.answer(row.block), server.media.calls, server.media.level,
                              server.nowPlaying().shuffle()}),
                  std::tuple(row.heard, row.calls, row.after, row.shuffle)) << row.name;
        const auto lines = log.warnings("tallowcrest.server");
        ASSERT_EQ(lines.size(), row.said.empty() ? 0u : 1u) << row.name;
        for (const QString& words : row.said)
            EXPECT_TRUE(lines[0].text.contains(words) && lines[0].text.count('y') <= 200)
                << row.name << ": " << lines[0].text.toStdString();
    }
}
TEST_F(ControlsTest, RowsArePlayedOnlyFromTheListTheirNumberCameFrom)
{
    server.fillList({"a.mp3", "b.mp3", "c.mp3"});
    server.connectClient();
    const std::uint64_t version = server.nowPlaying().listVersion();
    const auto row = [](int row, std::uint64_t version) { return [=](Controls& c) { return c.playRow(row, version); }; };
    const struct { const char* name; int selectedBefore; Command command; Outcome outcome; int selectedAfter; } rows[] = {
        {"a row of this list", -1, row(1, version), Outcome::Done, 1},
        {"a row of an older list", -1, row(1, version - 1), Outcome::StaleList, -1},
        {"past the last row", -1, row(3, version), Outcome::NoSuchRow, -1},
        {"before the first row", -1, row(-1, version), Outcome::NoSuchRow, -1},
        {"next after the last", 2, &Controls::next, Outcome::Done, 0},
        {"next with none selected", -1, &Controls::next, Outcome::Done, 0},
        {"previous before the first", 0, &Controls::previous, Outcome::Done, 2},
        {"previous with none selected", -1, &Controls::previous, Outcome::Done, 2}};
    for (const auto& row : rows) {
        server.lstFiles.setSelectedIndex(row.selectedBefore);
        server.winsock.sent.clear();
        EXPECT_EQ((std::pair{row.command(server.controls()), server.lstFiles.selectedIndex()}),
                  std::pair(row.outcome, row.selectedAfter)) << row.name;
        EXPECT_EQ(server.winsock.allSent(), row.outcome == Outcome::Done
                      ? "CODE_11" + std::string(TrackTitle(server.lstFiles.row(row.selectedAfter))) : "") << row.name;
    }
    server.lstFiles.clear();
    EXPECT_EQ(std::pair(server.controls().next(), server.controls().previous()),
              std::pair(Outcome::NoSuchRow, Outcome::NoSuchRow)) << "an empty list";
}
// Asked for by a client, then by another hand, of which a connected client hears only a success.
TEST_F(ControlsTest, OnlyARegularFileThePlayerOpensIsShownAndAnnounced)
{
    server.fillList({"Song.mp3", "Refused.mp3", "Folder.mp3/x.mp3", "mp3"});
    server.media.unplayable = {server.path("Refused.mp3")};
    ASSERT_EQ(::mkfifo(server.path("pipe.mp3").c_str(), 0600), 0);
    server.connectClient();
    const struct { const char* name; std::string path; std::optional<std::string> title; } rows[] = {
        {"a missing file", server.path("Missing.mp3"), {}}, {"a folder", server.path("Folder.mp3"), {}},
        {"a FIFO", server.path("pipe.mp3"), {}}, {"no path", "", {}},
        {"a file the player refuses", server.path("Refused.mp3"), {}},
        {"a NUL byte in the name", server.path("Song.mp3") + '\0', {}},
        {"a name too short for a title", server.path("mp3"), ""}, {"a track", server.path("Song.mp3"), "Song"}};
    for (const auto& row : rows) {
        const bool done = row.title.has_value();
        EXPECT_EQ(server.winsock.answer("01" + row.path), done ? "CODE_11" + *row.title : "CODE_12") << row.name;
        server.winsock.sent.clear();
        EXPECT_EQ(server.controls().openFile(row.path), done ? Outcome::Done : Outcome::CannotPlay) << row.name;
        EXPECT_EQ(server.winsock.allSent(), done ? "CODE_11" + *row.title : "") << row.name;
        EXPECT_EQ(server.caption(), "Tallowcrest Server" + (done ? ": " + *row.title : "")) << row.name;
    }
}
TEST_F(ControlsTest, AGainFromNoneToFullSetsTheVolumeAndAnyOtherLeavesIt)
{
    const struct { const char* name; double gain; Outcome outcome; int after; } rows[] = {
        {"full gain", 1.0, Outcome::Done, 0}, {"no gain", 0.0, Outcome::Done, -10000},
        {"above full", 1.01, Outcome::OutOfRange, -600}, {"below none", -0.01, Outcome::OutOfRange, -600},
        {"not a number", std::nan(""), Outcome::OutOfRange, -600}};
    for (const auto& row : rows) {
        server.media.level = -600;
        EXPECT_EQ((std::pair{server.controls().setVolume(row.gain), server.nowPlaying().volumeLevel()}),
                  std::pair(row.outcome, row.after)) << row.name;
    }
}
TEST_F(ControlsTest, ShuffleSwitchedAtTheMachineIsAnnouncedOnlyWhenItChanges)
{
    server.connectClient();
    server.controls().setShuffle(true);
    EXPECT_EQ(std::pair(server.nowPlaying().shuffle(), server.winsock.allSent()), std::pair(true, "CODE_13True"s));
    server.winsock.sent.clear();
    server.controls().setShuffle(true);
    EXPECT_EQ(server.winsock.allSent(), "") << "switched on again";
}
class PlayThroughTest : public ControlsTest {
protected:
    void SetUp() override { server.fillList({"Alpha.mp3", "Beta.mp3", "Gamma.mp3"}); }
    void playing() { server.media.state = Status::Playing, emit server.media.stateChanged(); }
    void begins(int index) { server.media.opened = row(index), emit server.media.advanced(); }
    void clientComes() { server.winsock.state = SocketState::Listening, emit server.winsock.connectionRequest(1); }
    auto now() const { return std::tuple(server.lstFiles.selectedIndex(), server.caption(), server.media.queued); }
    std::string caption(std::string_view title) const { return "Tallowcrest Server: "s.append(title); }
};
TEST_F(PlayThroughTest, AClientHearsTheEndAloneAndNothingMorePlays)
{
    server.connectClient();
    play(0);
    server.winsock.sent.clear();
    EXPECT_EQ((after(), server.winsock.allSent()), "CODE_12");
    EXPECT_EQ(server.media.calls, std::vector{"open " + row(0)});
}
TEST_F(PlayThroughTest, TracksFollowInOrderRoundTheListShowingTheirTitles)
{
    play(1);
    for (const int next : {2, 0}) {
        EXPECT_EQ(after(), std::pair(next, row(next)));
        EXPECT_EQ(server.caption(), caption(TrackTitle(row(next))));
    }
    server.lstFiles.setSelectedIndex(-1);  // as after the list was filled again
    EXPECT_EQ(after(), std::pair(0, row(0)));
}
TEST_F(PlayThroughTest, AtRandomTheDrawPicksTheRowAndTheCaptionStays)
{
    play(0);
    server.controller.cmdRandomize_Click();
    draws = {0.99999994f, 0.5f};  // the largest float below 1, then the middle
    for (const int next : {2, 1}) {
        EXPECT_EQ(after(), std::pair(next, row(next)));
        EXPECT_EQ(server.caption(), caption("Alpha"));
    }
}
TEST_F(PlayThroughTest, UnplayableFilesAreSkippedAndAWholeRoundOfFailuresStopsTillAPick)
{
    server.media.unplayable = {row(1)};
    play(0);
    EXPECT_EQ(after(), std::pair(2, row(2))) << "the one that cannot be opened is skipped";
    EXPECT_EQ(after(true), std::pair(0, row(0)));
    server.media.calls.clear();
    EXPECT_EQ(after(true), std::pair(0, row(0))) << "a third failure in a row";
    EXPECT_TRUE(server.media.calls.empty());
    play(2);
    EXPECT_EQ(server.media.calls, std::vector{"open " + row(2)}) << "a pick gets a round of its own";
}
// While a track plays with no client, what follows is named to the player ahead, and shown only once it begins.
using GaplessTest = PlayThroughTest;
TEST_F(GaplessTest, WhatFollowsIsQueuedAheadAndShownOnlyOnceItBegins)
{
    play(0);
    EXPECT_EQ(server.media.queued, "") << "not before it plays";
    playing();
    EXPECT_EQ(now(), std::tuple(0, caption("Alpha"), row(1)));
    std::vector<int> announced;
    QObject::connect(&server.nowPlaying(), &NowPlaying::changed, [&](NowPlaying::Changes what) {
        what & NowPlaying::Change::Track ? announced.push_back(server.nowPlaying().row()) : void();
    });
    begins(1);
    EXPECT_EQ(now(), std::tuple(1, caption("Beta"), row(2)));
    EXPECT_EQ(announced, std::vector{1}) << "announced once, with its row";
    server.lstFiles.setSelectedIndex(2);
    EXPECT_EQ(server.media.queued, row(0)) << "a new pick names what follows it, round the list";
    draws = {0.0f, 0.5f, 0.0f};
    server.controller.cmdRandomize_Click();
    EXPECT_EQ(server.media.queued, row(0)) << "drawn when shuffle is switched on";
    begins(0);
    EXPECT_EQ(now(), std::tuple(0, caption("Beta"), row(1))) << "a random pick keeps the caption";
    server.lstFiles.addLines(server.file("Delta.mp3") + "\r\n");
    begins(1);
    EXPECT_EQ(server.lstFiles.selectedIndex(), 0) << "a row queued from the list before is not selected in a new one";
}
TEST_F(GaplessTest, WithAClientNothingIsQueuedAndATrackThatBeganMeanwhileEnds)
{
    play(0);
    playing();
    clientComes();
    EXPECT_EQ(server.media.queued, "");
    emit server.winsock.peerClosed();
    EXPECT_EQ(server.media.queued, row(1)) << "once the client has gone";
    clientComes();
    server.media.calls.clear();
    begins(1);
    EXPECT_EQ(std::tuple(server.media.calls, server.winsock.allSent(), server.lstFiles.selectedIndex()),
              std::tuple(std::vector<std::string>{"stop"}, "CODE_12"s, 0));
}
TEST_F(ControlsTest, ReplayGainIsStoredAndAutoTakesTheAlbumsGainInOrderAndTheTracksAtRandom)
{
    using Gain = IMediaPlayer::ReplayGain;
    const struct { ReplayGainMode mode; bool shuffle; Gain gain; const char* stored; } rows[] = {
        {ReplayGainMode::Off, true, Gain::Off, "off"}, {ReplayGainMode::Track, false, Gain::Track, "track"},
        {ReplayGainMode::Album, true, Gain::Album, "album"}, {ReplayGainMode::Auto, false, Gain::Album, "auto"},
        {ReplayGainMode::Auto, true, Gain::Track, "auto"}};
    for (const auto& row : rows) {
        server.controls().setShuffleQuietly(row.shuffle);
        server.controls().setReplayGain(row.mode);
        EXPECT_EQ(std::pair(server.media.gain.first, server.settings.read(kAppName, kSettingsSection, kReplayGainKey, "")),
                  std::pair(row.gain, std::string(row.stored))) << row.stored << (row.shuffle ? " shuffled" : "");
    }
}
}  // namespace
}  // namespace tallowcrest::testing
