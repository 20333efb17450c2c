#pragma once

#include "server/settings_store.h"

namespace tallowcrest {

// The per-user settings file, in INI form: $XDG_CONFIG_HOME/<app>/<app>.conf (usually
// ~/.config/TallowcrestServer/TallowcrestServer.conf), one
// [section] per section. QSettings matches keys case-sensitively on Linux, so
// keys are folded here: reading finds a key in any letter case, and saving
// replaces every case variant of it. The file holds the pairing code, so it is
// made mode 0600 before its first write (its folder 0700 if we make it), and a
// file found open to others is narrowed to its owner whenever it is opened.
class QtSettingsStore : public ISettingsStore {
public:
    std::string read(const std::string& app, const std::string& section,
                     const std::string& key, const std::string& defaultValue) override;
    void save(const std::string& app, const std::string& section,
              const std::string& key, const std::string& value) override;
};

}  // namespace tallowcrest
