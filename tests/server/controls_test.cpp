// The rules every hand at the machine goes through, once: what each command does in each state of the player, how
// each hand reports it, what a failed request logs, and what plays after a track ends or fails (the player's own
// reports of both are the playback tests').
#include "library/track_scan.h"
#include "shell/player_strip.h"
#include "support/fake_server.h"
#include "support/log_capture.h"
#include "server/replay_gain.h"
#include "web/web_api.h"

#include <QCoreApplication>
#include <QToolButton>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>

namespace tallowcrest::testing {
namespace {

using namespace std::string_literals;
using Status = IMediaPlayer::PlaybackState;
using Command = std::function<Outcome(Controls&)>;

struct State { const char* name; const char* file; Status status; };
const State kNothingLoaded{"nothing loaded", "", Status::Stopped}, kPlaying{"playing", "/m/a.mp3", Status::Playing};
const State kStates[] = {kNothingLoaded, kPlaying, {"paused", "/m/a.mp3", Status::Paused},
                         {"stopped", "/m/a.mp3", Status::Stopped}};

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
        {"seek", [](Controls& c) { return c.seek(1000); }, "seek 1000"}};
    for (const auto& command : commands) {
        for (const State& state : kStates) {
            enter(state);
            const bool loaded = *state.file != '\0';
            EXPECT_EQ((std::pair{command.command(server.controls()), server.media.calls}),
                      loaded ? std::pair(Outcome::Done, std::vector{command.call})
                             : std::pair(Outcome::NothingLoaded, std::vector<std::string>{}))
                << command.name << " when " << state.name;
        }
    }
}

// A block each, with any argument of a request that takes none ignored. A failed one leaves one line with its opcode,
// the reason and no more than the first 200 bytes the client sent; one that goes well, none.
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
        {"pause with nothing loaded", kNothingLoaded, "04", -600, "CODE_12", {}, -600, false, {}},
        {"louder", kPlaying, "05xyz", -600, "", {}, -500, false, {}},
        {"quieter", kPlaying, "06", -600, "", {}, -700, false, {}},
        {"louder at the loudest", kPlaying, "05", 0, "", {}, 0, false, {"request 05 failed", "out of range"}},
        {"quieter when silent", kPlaying, "06", -10000, "", {}, -10000, false, {"request 06 failed", "out of range"}},
        {"shuffle, told nobody", kPlaying, "07 1", -600, "", {}, -600, true, {}},
        {"shuffle of no Boolean", kPlaying, "07yes", -600, "", {}, -600, false, {"request 07 failed", "no Boolean", "07yes"}},
        {"unprintable bytes", kPlaying, std::string("07\x01\xff", 4), -600, "", {}, -600, false, {"07\\x01\\xff"}},
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

TEST_F(ControlsTest, OnlyARegularFileThePlayerOpensIsShownAndAnnounced)
{
    server.fillList({"Song.mp3", "Refused.mp3", "Folder.mp3/x.mp3", "mp3"});
    server.media.unplayable = {server.path("Refused.mp3")};
    ASSERT_EQ(::mkfifo(server.path("pipe.mp3").c_str(), 0600), 0);
    server.connectClient();
    const struct { const char* name; std::string path; Outcome outcome; std::string title; } rows[] = {
        {"a missing file", server.path("Missing.mp3"), Outcome::CannotPlay, ""},
        {"a folder", server.path("Folder.mp3"), Outcome::CannotPlay, ""},
        {"a FIFO", server.path("pipe.mp3"), Outcome::CannotPlay, ""},
        {"no path", "", Outcome::CannotPlay, ""},
        {"a file the player refuses", server.path("Refused.mp3"), Outcome::CannotPlay, ""},
        {"a NUL byte in the name", server.path("Song.mp3") + '\0', Outcome::CannotPlay, ""},
        {"a name too short for a title", server.path("mp3"), Outcome::Done, ""},
        {"a track", server.path("Song.mp3"), Outcome::Done, "Song"}};
    for (const auto& row : rows) {
        const bool done = row.outcome == Outcome::Done;
        // Asked for by a client, as the socket hears it.
        EXPECT_EQ(server.winsock.answer("01" + row.path), done ? "CODE_11" + row.title : "CODE_12") << row.name;
        // Asked for by another hand: a connected client hears only of success.
        server.winsock.sent.clear();
        EXPECT_EQ(server.controls().openFile(row.path), row.outcome) << row.name;
        EXPECT_EQ(server.winsock.allSent(), done ? "CODE_11" + row.title : "") << row.name;
        EXPECT_EQ(server.caption(), "Tallowcrest Server" + (done ? ": " + row.title : "")) << row.name;
    }
}

TEST_F(ControlsTest, TheVolumeMovesWithinItsRangeOrStays)
{
    const auto step = [](int steps) { return [=](Controls& c) { return c.stepVolume(steps); }; };
    const auto gain = [](double gain) { return [=](Controls& c) { return c.setVolume(gain); }; };
    const struct { const char* name; int before; Command command; Outcome outcome; int after; } rows[] = {
        {"one step up", -600, step(+1), Outcome::Done, -500}, {"one step down", -600, step(-1), Outcome::Done, -700},
        {"up at the loudest", 0, step(+1), Outcome::OutOfRange, 0},
        {"down when silent", -10000, step(-1), Outcome::OutOfRange, -10000},
        {"half the gain", 0, gain(0.5), Outcome::Done, -602}, {"no gain", 0, gain(0.0), Outcome::Done, -10000},
        {"full gain", -600, gain(1.0), Outcome::Done, 0}, {"above full", -600, gain(1.01), Outcome::OutOfRange, -600},
        {"below none", -600, gain(-0.01), Outcome::OutOfRange, -600},
        {"not a number", -600, gain(std::nan("")), Outcome::OutOfRange, -600}};
    for (const auto& row : rows) {
        server.media.level = row.before;
        EXPECT_EQ((std::pair{row.command(server.controls()), server.nowPlaying().volumeLevel()}),
                  std::pair(row.outcome, row.after)) << row.name;
    }
}

TEST_F(ControlsTest, ShuffleIsAnnouncedWhenSwitchedAtTheMachineNotWhenAClientSetsIt)
{
    server.connectClient();
    const struct { const char* name; std::function<void(Controls&)> command; bool on; std::string heard; } rows[] = {
        {"switched on", [](Controls& c) { c.setShuffle(true); }, true, "CODE_13True"},
        {"switched on again", [](Controls& c) { c.setShuffle(true); }, true, ""},
        {"set off by a client", [](Controls& c) { c.setShuffleQuietly(false); }, false, ""},
        {"toggled", &Controls::toggleShuffle, true, "CODE_13True"},
        {"toggled back", &Controls::toggleShuffle, false, "CODE_13False"}};
    for (const auto& row : rows) {
        server.winsock.sent.clear();
        row.command(server.controls());
        EXPECT_EQ(std::pair(server.nowPlaying().shuffle(), server.winsock.allSent()), std::pair(row.on, row.heard))
            << row.name;
    }
}

// Each hand asks the controls to play; it differs only in how it says what came of it.
TEST_F(ControlsTest, EachHandReportsNothingLoadedInItsOwnWords)
{
    PlayerStrip strip(server.controls(), server.nowPlaying());
    WebApi api(server.controls(), server.nowPlaying());
    server.connectClient();
    auto* button = strip.findChild<QToolButton*>(QString(), Qt::FindDirectChildrenOnly);
    const struct { const char* hand; std::function<std::string()> play; std::string nothingLoaded, loaded; } hands[] = {
        {"the socket", [&] { return server.winsock.answer("02"); }, "CODE_12", ""},
        {"the web API", [&] { return std::to_string(api.handle("POST", "control", {}, R"({"action": "play"})").status); },
         "409", "200"},
        {"the player strip", [&] { return button->click(), std::string(button->isEnabled() ? "enabled" : "disabled"); },
         "disabled", "enabled"}};
    for (const auto& hand : hands) {
        for (const State& state : {kNothingLoaded, kStates[2]}) {
            enter(state);
            emit server.media.stateChanged();
            const bool loaded = *state.file != '\0';
            EXPECT_EQ((std::pair{hand.play(), server.media.calls}),
                      std::pair(loaded ? hand.loaded : hand.nothingLoaded,
                                loaded ? std::vector<std::string>{"play"} : std::vector<std::string>{}))
                << hand.hand << " when " << state.name;
        }
    }
}

class PlayThroughTest : public ControlsTest {
protected:
    void SetUp() override { server.fillList({"Alpha.mp3", "Beta.mp3", "Gamma.mp3"}); }
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
        EXPECT_EQ(server.caption(), "Tallowcrest Server: " + std::string(TrackTitle(row(next))));
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
        EXPECT_EQ(server.caption(), "Tallowcrest Server: Alpha");
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

// Gapless play-through: while a track plays with no client, what follows is named to the player ahead, and shown
// only once it begins.
class GaplessTest : public PlayThroughTest {
protected:
    void playing() { server.media.state = Status::Playing, emit server.media.stateChanged(); }
    void begins(int index) { server.media.opened = row(index), emit server.media.advanced(); }
    void clientComes() { server.winsock.state = SocketState::Listening, emit server.winsock.connectionRequest(1); }
    std::tuple<int, std::string, std::string> now() const
    {
        return {server.lstFiles.selectedIndex(), server.caption(), server.media.queued};
    }
    std::string caption(const char* title) const { return "Tallowcrest Server: "s + title; }
};

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
    draws = {0.0f, 0.5f};
    server.controller.cmdRandomize_Click();
    EXPECT_EQ(server.media.queued, row(0)) << "drawn when shuffle is switched on";
    begins(0);
    EXPECT_EQ(now(), std::tuple(0, caption("Beta"), row(1))) << "a random pick keeps the caption";
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
                  std::pair(row.gain, std::string(row.stored)))
            << row.stored << (row.shuffle ? " at random" : " in order");
    }
}

}  // namespace
}  // namespace tallowcrest::testing
