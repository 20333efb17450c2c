#pragma once

#include <string>

namespace tallowcrest {

inline constexpr const char* kAppName = "TallowcrestServer";
inline constexpr const char* kSettingsSection = "Settings";

// Per-user store of text values addressed by application, section and key.
// Keys match without regard to letter case. Values are UTF-8.
class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    virtual std::string Read(const std::string& app, const std::string& section,
                             const std::string& key, const std::string& defaultValue) = 0;
    virtual void Save(const std::string& app, const std::string& section,
                      const std::string& key, const std::string& value) = 0;
};

}  // namespace tallowcrest
