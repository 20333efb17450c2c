#include "server/replay_gain.h"

#include <QByteArray>

#include <array>
#include <cmath>

namespace tallowcrest {

namespace {

constexpr std::array<std::pair<ReplayGainMode, std::string_view>, 4> kNames = {{
    {ReplayGainMode::Off, "off"},
    {ReplayGainMode::Track, "track"},
    {ReplayGainMode::Album, "album"},
    {ReplayGainMode::Auto, "auto"},
}};
constexpr double kPreampLimitDb = 15.0;

}  // namespace

std::string_view nameOf(ReplayGainMode mode)
{
    for (const auto& [known, name] : kNames)
        if (known == mode)
            return name;
    return "off";
}

std::optional<ReplayGainMode> parseReplayGainMode(std::string_view text)
{
    const QByteArray lowered = QByteArray(text.data(), qsizetype(text.size())).trimmed().toLower();
    for (const auto& [mode, name] : kNames)
        if (lowered == QByteArray(name.data(), qsizetype(name.size())))
            return mode;
    return std::nullopt;
}

std::optional<double> parseReplayGainPreamp(std::string_view text)
{
    bool ok = false;
    const double db = QByteArray(text.data(), qsizetype(text.size())).trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(db) || std::abs(db) > kPreampLimitDb)
        return std::nullopt;
    return db;
}

}  // namespace tallowcrest
