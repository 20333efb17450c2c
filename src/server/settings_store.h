#pragma once

#include <string>

namespace tallowcrest {

inline constexpr const char* kAppName = "TallowcrestServer";
inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kDirKey = "Dir";
inline constexpr const char* kFolderNotSet = "not set";
// The port is written under "Port" and read under "port": keys match in any
// letter case.
inline constexpr const char* kPortKeyWritten = "Port";
inline constexpr const char* kPortKeyRead = "port";
inline constexpr const char* kDefaultPort = "9999";
// Where the sound goes: "auto", or a sink as gst-launch-1.0 writes it.
inline constexpr const char* kAudioOutputKey = "AudioOutput";

// Per-user store of text values addressed by application, section and key.
// Keys match without regard to letter case. Values are UTF-8.
class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    virtual std::string read(const std::string& app, const std::string& section, const std::string& key,
                             const std::string& defaultValue) = 0;
    virtual void save(const std::string& app, const std::string& section, const std::string& key,
                      const std::string& value) = 0;
};

}  // namespace tallowcrest
