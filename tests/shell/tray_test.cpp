// The tray icon over a recording shell and a single-click timer that ticks when told, and the Qt shell's codes.
#include "shell/artwork.h"
#include "shell/qt_tray_shell.h"
#include "support/fakes.h"
#include <gtest/gtest.h>
#include <map>

namespace tallowcrest::testing {
namespace {
using Log = std::vector<std::string>;
// The events raised, the shell's calls and the property changes ("~Name") as steps run: a mouse code, "tick" (of
// the single-click timer), "show", "hide", "menu" (SysMenu on), "tip TEXT", "icon", "noicon", "read" or "read{}"
// (the bag below or none), "copy" or "design" (a new icon, on a design surface for the latter, reads the old one's).
Log runShellIcon(const Log& steps)
{
    QObject window;
    window.setObjectName(QStringLiteral("frmMain"));
    FakeTrayShell shell;
    FakeMenuTimer timer;
    const auto note = [&](std::string event) {
        return [&, event](int button) { shell.log.push_back(event + "(" + std::to_string(button) + ")"); };
    };
    const auto makeIcon = [&](bool userMode) {
        auto icon = std::make_unique<ShellIcon>(ShellIcon::Host{
            shell, &window, userMode, [&](const QString& name) { shell.log.push_back("~" + name.toStdString()); },
            &timer});
        icon->events = {[&] { shell.log.push_back("MouseMove"); }, note("MouseDown"), note("MouseUp"), note("DblClick"),
                        note("Click"), note("SingleClick")};
        return icon;
    };
    auto icon = makeIcon(true);
    const auto copy = [&](bool userMode) {
        PropertyBag bag;
        icon->writeProperties(bag), icon = makeIcon(userMode), icon->readProperties(bag);
    };
    const PropertyBag stored{{"tooltiptext", "Stored"}, {"ICON", QVariant::fromValue(windowIcon())}, {"visible", true},
                             {"SysMenu", false}};
    const std::map<std::string, std::function<void()>> named = {
        {"tick", [&] { timer.tick(*icon); }}, {"show", [&] { icon->SetVisible(true); }},
        {"hide", [&] { icon->SetVisible(false); }}, {"menu", [&] { icon->SetSysMenu(true); }},
        {"icon", [&] { icon->SetIcon(windowIcon()); }}, {"noicon", [&] { icon->SetIcon({}); }},
        {"read", [&] { icon->readProperties(stored); }}, {"read{}", [&] { icon->readProperties(PropertyBag{}); }},
        {"copy", [&] { copy(true); }}, {"design", [&] { copy(false); }}};
    for (const std::string& step : steps) {
        EXPECT_TRUE(step != "tick" || !timer.active || timer.intervalMs == 500) << timer.intervalMs;
        if (named.contains(step))
            named.at(step)();
        else if (step.starts_with("tip "))
            icon->SetToolTipText(QString::fromStdString(step.substr(4)));
        else
            icon->mouseCallback(std::stoi(step));
    }
    icon.reset();
    return shell.log;
}
// A row that expects property changes gets only those; any other gets all but them.
void expectLogs(std::initializer_list<std::tuple<const char*, Log, Log>> rows)
{
    for (const auto& [name, steps, expected] : rows) {
        const bool properties = std::ranges::any_of(expected, [](const std::string& e) { return e.starts_with('~'); });
        Log log = runShellIcon(steps);
        std::erase_if(log, [&](const std::string& entry) { return entry.starts_with('~') != properties; });
        EXPECT_EQ(log, expected) << name;
    }
}
TEST(ShellIcon, MouseCodesBecomeEvents)
{
    expectLogs({{"a move", {"512"}, {"MouseMove"}}, {"double clicks", {"515", "518"}, {"DblClick(1)", "DblClick(2)"}},
                {"a left click", {"513", "514"}, {"MouseDown(1)", "MouseUp(1)", "Click(1)"}},
                {"a right click", {"516", "517"}, {"MouseDown(2)", "MouseUp(2)", "Click(2)"}},
                {"codes of no mouse message", {"511", "519", "0"}, {}}});
}
TEST(ShellIcon, ALeftReleaseWithNoSecondInTheIntervalIsASingleClick)
{
    expectLogs({{"one left click", {"514", "tick", "tick"}, {"MouseUp(1)", "Click(1)", "SingleClick(1)"}},
                {"a left double click", {"514", "515", "514", "tick"},
                 {"MouseUp(1)", "Click(1)", "DblClick(1)", "MouseUp(1)", "Click(1)"}},
                {"a right click", {"517", "518", "tick"}, {"MouseUp(2)", "Click(2)", "DblClick(2)"}}});
}
TEST(ShellIcon, WithSysMenuARightReleasePopsUpTheWindowsMenuAtTheCursor)
{
    expectLogs({{"set on", {"menu", "516", "517"}, {"MouseDown(2)", "menu of frmMain at 640,790"}},
                {"on when nothing is stored", {"read{}", "517"}, {"menu of frmMain at 640,790"}}});
}
// Added once when shown, changed only while added, removed once when hidden or gone.
TEST(ShellIcon, TheShellHoldsTheIconWhileItIsShownWithItsTipAndPicture)
{
    expectLogs({{"shown and hidden twice", {"hide", "show", "show", "hide", "hide"}, {"add ''", "delete ''"}},
                {"gone while shown", {"show"}, {"add ''", "delete ''"}},
                {"set before", {"tip before", "icon", "show"}, {"add 'before' icon", "delete 'before' icon"}},
                {"set while shown", {"show", "tip Tallowcrest", "icon", "noicon"},
                 {"add ''", "modify 'Tallowcrest'", "modify 'Tallowcrest' icon", "modify 'Tallowcrest'",
                  "delete 'Tallowcrest'"}},
                {"set after", {"show", "hide", "tip after", "icon"}, {"add ''", "delete ''"}}});
}
TEST(ShellIcon, EachPropertySetButNoReadIsReportedByName)
{
    expectLogs({{"each set", {"tip x", "icon", "show", "menu", "hide"},
                 {"~ToolTipText", "~Icon", "~Visible", "~SysMenu", "~Visible"}},
                {"reads", {"read", "read{}", "tip x"}, {"~ToolTipText"}}});
}
// Copied, a right release is a click again: the stored SysMenu is off.
TEST(ShellIcon, StoredValuesShowTheIconAtOnceAndCarryOverToANewOneExceptOnADesignSurface)
{
    expectLogs({{"read", {"read"}, {"add 'Stored' icon", "delete 'Stored' icon"}},
                {"copied", {"read", "copy", "517"}, {"add 'Stored' icon", "delete 'Stored' icon", "add 'Stored' icon",
                                                     "MouseUp(2)", "Click(2)", "delete 'Stored' icon"}},
                {"copied to a design surface", {"read", "design", "show", "hide", "read"},
                 {"add 'Stored' icon", "delete 'Stored' icon"}}});
}
TEST(ShellIcon, TheTipFieldIsTheTextANulAndBlanksOrTheFirst64Characters)
{
    FakeTrayShell shell;
    ShellIcon icon(ShellIcon::Host{shell});
    const QString nul(QChar(0)), x63(63, 'x');
    for (const auto& [name, text, field] :
         {std::tuple{"short", QString("Tallowcrest"), "Tallowcrest" + nul + QString(52, ' ')},
          {"empty", "", nul + QString(63, ' ')}, {"63 long", x63, x63 + nul}, {"65 long", x63 + "yz", x63 + "y"}}) {
        icon.SetToolTipText(text);
        EXPECT_EQ(std::pair(icon.record().szTip, icon.ToolTipText()), std::pair(field, text)) << name;
    }
}
TEST(QtTrayShell, EachActivationStandsForThePressAndReleaseOfItsButton)
{
    using Reason = QSystemTrayIcon::ActivationReason;
    for (const auto& [name, reason, codes] :
         {std::tuple{"left", Reason::Trigger, std::vector{513, 514}}, {"right", Reason::Context, {516, 517}},
          {"double", Reason::DoubleClick, {515, 514}}, {"middle", Reason::MiddleClick, {}}})
        EXPECT_EQ(QtTrayShell::mouseCodes(reason), codes) << name;
}
}  // namespace
}  // namespace tallowcrest::testing
