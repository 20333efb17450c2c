#include <gtest/gtest.h>

#include "shell/command_line.h"

#include <regex>

namespace tallowcrest {
namespace {

struct CommandLineCase {
    std::vector<std::string_view> arguments;
    CommandLineAction expected;
};

std::string Describe(const std::vector<std::string_view>& arguments)
{
    std::string text = "[";
    for (std::string_view argument : arguments)
        text += " '" + std::string(argument) + "'";
    return text + " ]";
}

void ExpectActions(const std::vector<CommandLineCase>& cases)
{
    for (const CommandLineCase& c : cases)
        EXPECT_EQ(ParseCommandLine(c.arguments), c.expected) << Describe(c.arguments);
}

TEST(CommandLine, HelpAndVersionActAsSoonAsTheyAreMet)
{
    ExpectActions({
        {{}, CommandLineAction::Run},
        {{"--version"}, CommandLineAction::PrintVersion},
        {{"--help"}, CommandLineAction::PrintHelp},
        {{"--version", "--help"}, CommandLineAction::PrintVersion},
        {{"--help", "--version"}, CommandLineAction::PrintHelp},
        {{"--help", "--no-such-option"}, CommandLineAction::PrintHelp},
        {{"-platform", "offscreen", "--version"}, CommandLineAction::PrintVersion},
        {{"--no-such-option", "--help"}, CommandLineAction::UsageError},
    });
}

TEST(CommandLine, QtStandardOptionsAndTheirValuesAreLeftToQt)
{
    ExpectActions({
        {{"-platform", "offscreen"}, CommandLineAction::Run},
        {{"--platform", "xcb"}, CommandLineAction::Run},
        {{"-display", ":1", "-style", "Fusion"}, CommandLineAction::Run},
        {{"-style=Fusion", "-stylesheet=/tmp/a.qss"}, CommandLineAction::Run},
        {{"-reverse", "-nograb", "-widgetcount"}, CommandLineAction::Run},
        {{"-qwindowgeometry", "800x400+10+10", "-qwindowtitle", "A title"}, CommandLineAction::Run},
        // A value is the option's whatever it looks like, as Qt reads it.
        {{"-qwindowtitle", "--help"}, CommandLineAction::Run},
        {{"-qmljsdebugger=port:1234"}, CommandLineAction::Run},
    });
}

TEST(CommandLine, EverythingElseIsAUsageError)
{
    ExpectActions({
        {{"/home/me/Music/Song.mp3"}, CommandLineAction::UsageError},
        {{""}, CommandLineAction::UsageError},
        {{"-"}, CommandLineAction::UsageError},
        {{"--"}, CommandLineAction::UsageError},
        {{"-h"}, CommandLineAction::UsageError},
        {{"-version"}, CommandLineAction::UsageError},
        {{"--Version"}, CommandLineAction::UsageError},
        {{"--help=me"}, CommandLineAction::UsageError},
        {{"--versions"}, CommandLineAction::UsageError},
        {{"---platform", "xcb"}, CommandLineAction::UsageError},
        {{"-platformx", "xcb"}, CommandLineAction::UsageError},
        {{"-style:Fusion"}, CommandLineAction::UsageError},
        {{"-reverse=1"}, CommandLineAction::UsageError},
        {{"-platform", "offscreen", "extra"}, CommandLineAction::UsageError},
        // A Qt option at the end without its value.
        {{"-platform"}, CommandLineAction::UsageError},
        {{"-reverse", "-display"}, CommandLineAction::UsageError},
    });
}

TEST(CommandLine, VersionAndUsageAreSingleLines)
{
    EXPECT_TRUE(std::regex_match(VersionLine(), std::regex(R"(tallowcrest-server [0-9]+(\.[0-9]+)+)")))
        << VersionLine();
    EXPECT_EQ(UsageLine(), "usage: tallowcrest-server [--help | --version]");
}

}  // namespace
}  // namespace tallowcrest
