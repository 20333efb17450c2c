#pragma once

#include <string>
#include <string_view>

namespace tallowcrest {

class ISettingsStore;

inline constexpr const char* kWebPortKey = "WebPort";
inline constexpr const char* kDefaultWebPort = "9998";
inline constexpr const char* kWebTokenKey = "WebToken";

// What a phone must show to use the web remote: a token of 128 random bits,
// kept in the settings so that a paired phone stays paired across restarts.
class Pairing {
public:
    // Takes the stored token, or makes and stores one when there is none
    // (or what is stored is no token of ours).
    explicit Pairing(ISettingsStore& settings);

    const std::string& token() const { return m_token; }
    // A new token at once: every phone paired so far is locked out.
    void renew();
    // Compares in constant time, so the answer's timing tells nothing.
    bool admits(std::string_view candidate) const;

private:
    ISettingsStore& m_settings;
    std::string m_token;
};

// 32 lowercase hex digits from the system's random generator.
std::string makeToken();
bool sameSecret(std::string_view known, std::string_view candidate);
// The machine's first non-loopback IPv4 address, else 127.0.0.1.
std::string pairingAddress();
std::string pairingUrl(const std::string& address, int port, const std::string& token);

// The stored web port text, to be read with parsePortText; "0" (blanks
// around it allowed) turns the web remote off.
std::string readWebPortText(ISettingsStore& settings);
bool webRemoteOff(std::string_view portText);

// What --pairing-url prints: the URL from the stored settings (a token is
// made and stored if there is none), or why there is none.
struct PairingUrlLine {
    bool ok;
    std::string text;
};
PairingUrlLine storedPairingUrl(ISettingsStore& settings);

}  // namespace tallowcrest
