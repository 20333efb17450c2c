#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tallowcrest {

enum class CommandLineAction { Run, PrintVersion, PrintHelp, PrintPairingUrl, UsageError };

inline constexpr int kUsageExitStatus = 2;

// Decides from the arguments (without the program name) what the server does
// before any window exists. Qt's own standard options (-platform NAME,
// -display HOST:N, -style=NAME, ...) and their values are let through for
// QApplication; "--help", "--version" and "--pairing-url" act as soon as they
// are met; any other argument, or a Qt option missing its value, is a usage
// error.
CommandLineAction parseCommandLine(const std::vector<std::string_view>& arguments);

// "tallowcrest-server" and the project version, e.g. "tallowcrest-server 0.1".
std::string versionLine();

// "usage: tallowcrest-server [--help | --version | --pairing-url]"
std::string usageLine();

}  // namespace tallowcrest
