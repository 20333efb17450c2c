#include "playback/gst_player.h"
#include "server/audio_output.h"
#include "server/qt_settings_store.h"
#include "support/fakes.h"
#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {
// What GStreamer itself makes of each stored description.
TEST(AudioOutput, AStoredSinkIsUsedAndOneThatCannotBeIsReportedOnceForTheDefault)
{
    const struct { const char* name; std::string stored, used; bool reported; } rows[] = {
        {"auto", "Auto", "", false}, {"blank", " ", "", false}, {"a sink", "fakesink sync=true", "fakesink sync=true", false},
        {"no such element", "nosuchsink", "", true}, {"no sink", "volume", "", true}};
    for (const auto& row : rows) {
        IsolatedSettings isolation;
        QtSettingsStore settings;
        RecordingMessageBox messageBox;
        settings.save(kAppName, kSettingsSection, kAudioOutputKey, row.stored);
        EXPECT_EQ(chosenAudioOutput(settings, messageBox, &GstPlayer::checkAudioOutput), row.used) << row.name;
        std::vector<std::string> titles;
        for (const auto& shown : messageBox.shown)
            titles.push_back(shown.title);
        EXPECT_EQ(titles, row.reported ? std::vector<std::string>{"Error"} : std::vector<std::string>{}) << row.name;
    }
}
}  // namespace
}  // namespace tallowcrest::testing
