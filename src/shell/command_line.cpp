#include "shell/command_line.h"

#include <algorithm>
#include <array>

#ifndef TALLOWCREST_VERSION
#error "TALLOWCREST_VERSION is defined by the build from the project version"
#endif

namespace tallowcrest {

namespace {

// The options Qt 6 takes out of argv itself (QCoreApplication, QGuiApplication,
// QApplication and the xcb platform). Qt accepts them with one or two dashes.
constexpr std::array<std::string_view, 16> kQtOptionsWithValue = {
    "-platform", "-platformpluginpath", "-platformtheme", "-plugin",
    "-qwindowgeometry", "-qwindowtitle", "-qwindowicon", "-geometry",
    "-title", "-icon", "-session", "-style",
    "-stylesheet", "-display", "-name", "-visual",
};
constexpr std::array<std::string_view, 5> kQtFlags = {
    "-reverse", "-testability", "-widgetcount", "-nograb", "-dograb",
};
constexpr std::array<std::string_view, 3> kQtOptionsJoinedWithEquals = {
    "-style=", "-stylesheet=", "-qmljsdebugger=",
};

bool contains(const auto& names, std::string_view name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool startsWithAny(const auto& prefixes, std::string_view text)
{
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [text](std::string_view prefix) { return text.starts_with(prefix); });
}

}  // namespace

CommandLineAction parseCommandLine(const std::vector<std::string_view>& arguments)
{
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string_view argument = arguments[index];
        if (argument == "--version")
            return CommandLineAction::PrintVersion;
        if (argument == "--help")
            return CommandLineAction::PrintHelp;
        if (argument == "--pairing-url")
            return CommandLineAction::PrintPairingUrl;

        std::string_view option = argument;
        if (option.starts_with("--"))
            option.remove_prefix(1);
        if (option.size() < 2 || option.front() != '-')
            return CommandLineAction::UsageError;
        if (contains(kQtOptionsWithValue, option)) {
            if (++index == arguments.size())
                return CommandLineAction::UsageError;
        } else if (!contains(kQtFlags, option) && !startsWithAny(kQtOptionsJoinedWithEquals, option)) {
            return CommandLineAction::UsageError;
        }
    }
    return CommandLineAction::Run;
}

std::string versionLine()
{
    return "tallowcrest-server " TALLOWCREST_VERSION;
}

std::string usageLine()
{
    return "usage: tallowcrest-server [--help | --version | --pairing-url]";
}

}  // namespace tallowcrest
