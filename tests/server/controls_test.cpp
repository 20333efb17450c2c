// The rules every hand at the machine goes through, once: what each command
// does in each state of the player, and how each hand reports it.
#include "library/track_scan.h"
#include "shell/player_strip.h"
#include "support/fake_server.h"
#include "web/web_api.h"

#include <QToolButton>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace tallowcrest::testing {
namespace {

using Status = IMediaPlayer::PlaybackState;

struct State {
    const char* name;
    const char* file;
    Status status;
};
const State kNothingLoaded{"nothing loaded", "", Status::Stopped};
const State kStates[] = {kNothingLoaded, {"playing", "/m/a.mp3", Status::Playing},
                         {"paused", "/m/a.mp3", Status::Paused}, {"stopped", "/m/a.mp3", Status::Stopped}};

class ControlsTest : public ::testing::Test {
protected:
    void enter(const State& state)
    {
        server.media.opened = state.file;
        server.media.state = state.status;
        server.media.calls.clear();
    }
    FakeServer server;
};

TEST_F(ControlsTest, TransportAndSeekActOnlyOnALoadedTrack)
{
    const struct {
        const char* name;
        std::function<Outcome(Controls&)> command;
        std::string call;
    } commands[] = {
        {"play", &Controls::play, "play"},
        {"pause", &Controls::pause, "pause"},
        {"stop", &Controls::stop, "stop"},
        {"seek", [](Controls& c) { return c.seek(1000); }, "seek 1000"},
    };
    for (const auto& command : commands) {
        for (const State& state : kStates) {
            enter(state);
            const bool loaded = *state.file != '\0';
            EXPECT_EQ(command.command(server.controls()), loaded ? Outcome::Done : Outcome::NothingLoaded)
                << command.name << " when " << state.name;
            EXPECT_EQ(server.media.calls, loaded ? std::vector{command.call} : std::vector<std::string>{})
                << command.name << " when " << state.name;
        }
    }
}

TEST_F(ControlsTest, RowsArePlayedOnlyFromTheListTheirNumberCameFrom)
{
    server.fillList({"a.mp3", "b.mp3", "c.mp3"});
    server.connectClient();
    const std::uint64_t version = server.nowPlaying().listVersion();
    const struct {
        const char* name;
        int selectedBefore;
        std::function<Outcome(Controls&)> command;
        Outcome outcome;
        int selectedAfter;
    } rows[] = {
        {"a row of this list", -1, [=](Controls& c) { return c.playRow(1, version); }, Outcome::Done, 1},
        {"a row of an older list", -1, [=](Controls& c) { return c.playRow(1, version - 1); }, Outcome::StaleList, -1},
        {"past the last row", -1, [=](Controls& c) { return c.playRow(3, version); }, Outcome::NoSuchRow, -1},
        {"before the first row", -1, [=](Controls& c) { return c.playRow(-1, version); }, Outcome::NoSuchRow, -1},
        {"next after the last", 2, &Controls::next, Outcome::Done, 0},
        {"next with none selected", -1, &Controls::next, Outcome::Done, 0},
        {"previous before the first", 0, &Controls::previous, Outcome::Done, 2},
        {"previous with none selected", -1, &Controls::previous, Outcome::Done, 2},
    };
    for (const auto& row : rows) {
        server.lstFiles.setSelectedIndex(row.selectedBefore);
        server.winsock.sent.clear();
        EXPECT_EQ(row.command(server.controls()), row.outcome) << row.name;
        EXPECT_EQ(server.lstFiles.selectedIndex(), row.selectedAfter) << row.name;
        const std::string heard = row.outcome == Outcome::Done
            ? "CODE_11" + std::string(TrackTitle(server.lstFiles.row(row.selectedAfter))) : "";
        EXPECT_EQ(server.winsock.allSent(), heard) << row.name;
    }
    server.lstFiles.clear();
    EXPECT_EQ(server.controls().next(), Outcome::NoSuchRow) << "an empty list";
    EXPECT_EQ(server.controls().previous(), Outcome::NoSuchRow) << "an empty list";
}

TEST_F(ControlsTest, OnlyAFileThePlayerOpensIsShownAndAnnounced)
{
    server.fillList({"Song.mp3", "Refused.mp3", "Folder.mp3/x.mp3"});
    server.media.unplayable = {server.path("Refused.mp3")};
    server.connectClient();
    const struct {
        const char* name;
        std::string path;
        Outcome outcome;
    } rows[] = {
        {"a missing file", server.path("Missing.mp3"), Outcome::CannotPlay},
        {"a folder", server.path("Folder.mp3"), Outcome::CannotPlay},
        {"a file the player refuses", server.path("Refused.mp3"), Outcome::CannotPlay},
        {"a NUL byte in the name", server.path("Song.mp3") + '\0', Outcome::CannotPlay},
        {"a track", server.path("Song.mp3"), Outcome::Done},
    };
    for (const auto& row : rows) {
        // Asked for by a client, as the socket hears it.
        server.winsock.sent.clear();
        server.winsock.incoming = "01" + row.path;
        emit server.winsock.dataArrival();
        const bool done = row.outcome == Outcome::Done;
        EXPECT_EQ(server.winsock.allSent(), done ? "CODE_11Song" : "CODE_12") << row.name;
        // Asked for by another hand: a connected client hears only of success.
        server.winsock.sent.clear();
        EXPECT_EQ(server.controls().openFile(row.path), row.outcome) << row.name;
        EXPECT_EQ(server.winsock.allSent(), done ? "CODE_11Song" : "") << row.name;
        EXPECT_EQ(server.nowPlaying().caption(), done ? "Tallowcrest Server: Song" : "Tallowcrest Server") << row.name;
    }
}

TEST_F(ControlsTest, TheVolumeMovesWithinItsRangeOrStays)
{
    const struct {
        const char* name;
        int before;
        std::function<Outcome(Controls&)> command;
        Outcome outcome;
        int after;
    } rows[] = {
        {"one step up", -600, [](Controls& c) { return c.stepVolume(+1); }, Outcome::Done, -500},
        {"one step down", -600, [](Controls& c) { return c.stepVolume(-1); }, Outcome::Done, -700},
        {"up at the loudest", 0, [](Controls& c) { return c.stepVolume(+1); }, Outcome::OutOfRange, 0},
        {"down when silent", -10000, [](Controls& c) { return c.stepVolume(-1); }, Outcome::OutOfRange, -10000},
        {"half the gain", 0, [](Controls& c) { return c.setVolume(0.5); }, Outcome::Done, -602},
        {"no gain", 0, [](Controls& c) { return c.setVolume(0.0); }, Outcome::Done, -10000},
        {"full gain", -600, [](Controls& c) { return c.setVolume(1.0); }, Outcome::Done, 0},
        {"above full", -600, [](Controls& c) { return c.setVolume(1.01); }, Outcome::OutOfRange, -600},
        {"below none", -600, [](Controls& c) { return c.setVolume(-0.01); }, Outcome::OutOfRange, -600},
        {"not a number", -600, [](Controls& c) { return c.setVolume(std::nan("")); }, Outcome::OutOfRange, -600},
    };
    for (const auto& row : rows) {
        server.media.level = row.before;
        EXPECT_EQ(row.command(server.controls()), row.outcome) << row.name;
        EXPECT_EQ(server.nowPlaying().volumeLevel(), row.after) << row.name;
    }
}

TEST_F(ControlsTest, ShuffleIsAnnouncedWhenSwitchedAtTheMachineNotWhenAClientSetsIt)
{
    server.connectClient();
    const struct {
        const char* name;
        std::function<void(Controls&)> command;
        bool on;
        std::string heard;
    } rows[] = {
        {"switched on", [](Controls& c) { c.setShuffle(true); }, true, "CODE_13True"},
        {"switched on again", [](Controls& c) { c.setShuffle(true); }, true, ""},
        {"set off by a client", [](Controls& c) { c.setShuffleQuietly(false); }, false, ""},
        {"toggled", &Controls::toggleShuffle, true, "CODE_13True"},
        {"toggled back", &Controls::toggleShuffle, false, "CODE_13False"},
    };
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
    const struct {
        const char* hand;
        std::function<std::string()> play;
        std::string nothingLoaded;
        std::string loaded;
    } hands[] = {
        {"the socket", [&] {
             server.winsock.sent.clear();
             server.winsock.incoming = "02";
             emit server.winsock.dataArrival();
             return server.winsock.allSent();
         }, "CODE_12", ""},
        {"the web API", [&] {
             return std::to_string(api.handle("POST", "control", {}, R"({"action": "play"})").status);
         }, "409", "200"},
        {"the player strip", [&] {
             auto* button = strip.findChild<QToolButton*>(QString(), Qt::FindDirectChildrenOnly);
             button->click();
             return std::string(button->isEnabled() ? "enabled" : "disabled");
         }, "disabled", "enabled"},
    };
    for (const auto& hand : hands) {
        for (const State& state : {kNothingLoaded, kStates[2]}) {
            enter(state);
            emit server.media.stateChanged();
            const bool loaded = *state.file != '\0';
            EXPECT_EQ(hand.play(), loaded ? hand.loaded : hand.nothingLoaded) << hand.hand << " when " << state.name;
            EXPECT_EQ(server.media.calls, loaded ? std::vector<std::string>{"play"} : std::vector<std::string>{})
                << hand.hand << " when " << state.name;
        }
    }
}

}  // namespace
}  // namespace tallowcrest::testing
