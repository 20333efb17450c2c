#pragma once

#include "server/dialogs.h"
#include "server/settings_store.h"

#include <QString>

#include <functional>
#include <optional>
#include <string>

namespace tallowcrest {

// Why a sink description cannot be used, or nothing when it can.
using AudioOutputCheck = std::function<std::optional<QString>(const std::string& description)>;

// The stored sound output: empty for "auto" (the desktop's default). One that
// cannot be used is reported in an "Error" box and a log line, and the
// default plays instead.
std::string chosenAudioOutput(ISettingsStore& settings, IMessageBox& messageBox, const AudioOutputCheck& check);

}  // namespace tallowcrest
