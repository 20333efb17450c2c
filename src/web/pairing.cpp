#include "web/pairing.h"

#include "server/connection_lifecycle.h"
#include "server/settings_store.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QRandomGenerator>

#include <algorithm>

namespace tallowcrest {

namespace {

constexpr std::size_t kTokenDigits = 32;

bool isToken(std::string_view text)
{
    return text.size() == kTokenDigits && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

}  // namespace

Pairing::Pairing(ISettingsStore& settings) : m_settings(settings)
{
    m_token = m_settings.read(kAppName, kSettingsSection, kWebTokenKey, "");
    if (!isToken(m_token))
        renew();
}

void Pairing::renew()
{
    m_token = makeToken();
    m_settings.save(kAppName, kSettingsSection, kWebTokenKey, m_token);
}

bool Pairing::admits(std::string_view candidate) const
{
    return sameSecret(m_token, candidate);
}

std::string makeToken()
{
    static constexpr char kDigits[] = "0123456789abcdef";
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    std::string token;
    for (quint32 word : words) {
        for (int shift = 28; shift >= 0; shift -= 4)
            token.push_back(kDigits[(word >> shift) & 0xf]);
    }
    return token;
}

bool sameSecret(std::string_view known, std::string_view candidate)
{
    // Every byte of the known secret is looked at, whatever the candidate.
    unsigned char difference = known.size() == candidate.size() ? 0 : 1;
    for (std::size_t i = 0; i < known.size(); ++i)
        difference |= static_cast<unsigned char>(known[i] ^ (i < candidate.size() ? candidate[i] : ~known[i]));
    return difference == 0;
}

std::string pairingAddress()
{
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning)
            || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            const QHostAddress address = entry.ip();
            if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
                return address.toString().toStdString();
        }
    }
    return "127.0.0.1";
}

std::string pairingUrl(const std::string& address, int port, const std::string& token)
{
    return "http://" + address + ":" + std::to_string(port) + "/?pair=" + token;
}

std::string readWebPortText(ISettingsStore& settings)
{
    return settings.read(kAppName, kSettingsSection, kWebPortKey, kDefaultWebPort);
}

bool webRemoteOff(std::string_view portText)
{
    const auto first = portText.find_first_not_of(' ');
    const auto last = portText.find_last_not_of(' ');
    return first != std::string_view::npos && portText.substr(first, last - first + 1) == "0";
}

PairingUrlLine storedPairingUrl(ISettingsStore& settings)
{
    const std::string portText = readWebPortText(settings);
    if (webRemoteOff(portText))
        return {false, "The phone remote is off: WebPort is 0."};
    const std::optional<int32_t> port = parsePortText(portText);
    if (!port)
        return {false, "WebPort \"" + portText + "\" is no whole number from 1 to 65535."};
    return {true, pairingUrl(pairingAddress(), *port, Pairing(settings).token())};
}

}  // namespace tallowcrest
