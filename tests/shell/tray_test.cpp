#include "shell/artwork.h"
#include "support/fakes.h"

#include <gtest/gtest.h>

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
    const auto makeIcon = [&](bool userMode) {
        auto icon = std::make_unique<ShellIcon>(ShellIcon::Host{
            shell, &window, userMode, [&](const QString& name) { shell.log.push_back("~" + name.toStdString()); },
            &timer});
        const auto raised = [&](std::string name) {
            return [&, name](int button) { shell.log.push_back(name + "(" + std::to_string(button) + ")"); };
        };
        icon->events = {[&] { shell.log.push_back("MouseMove"); }, raised("MouseDown"), raised("MouseUp"),
                        raised("DblClick"), raised("Click"), raised("SingleClick")};
        return icon;
    };
    const PropertyBag stored{{"tooltiptext", "Stored"}, {"ICON", QVariant::fromValue(windowIcon())}, {"visible", true},
                             {"SysMenu", false}};
    auto icon = makeIcon(true);
    for (const std::string& step : steps) {
        EXPECT_TRUE(step != "tick" || !timer.active || timer.intervalMs == 500) << timer.intervalMs;
        PropertyBag written;
        if (step == "tick") {
            timer.tick(*icon);
        } else if (step == "show" || step == "hide") {
            icon->SetVisible(step == "show");
        } else if (step == "menu") {
            icon->SetSysMenu(true);
        } else if (step.starts_with("tip ")) {
            icon->SetToolTipText(QString::fromStdString(step.substr(4)));
        } else if (step == "icon" || step == "noicon") {
            icon->SetIcon(step == "icon" ? windowIcon() : QIcon());
        } else if (step.starts_with("read")) {
            icon->readProperties(step == "read" ? stored : PropertyBag{});
        } else if (step == "copy" || step == "design") {
            icon->writeProperties(written);
            icon.reset();
            icon = makeIcon(step == "copy");
            icon->readProperties(written);
        } else {
            icon->mouseCallback(std::stoi(step));
        }
    }
    icon.reset();
    return shell.log;
}

TEST(ShellIcon, MouseCodesBecomeEventsTheIconIsAddedChangedAndRemovedOnceAndTheTipIsPadded)
{
    const std::pair<Log, Log> cases[] = {
        {{"512"}, {"MouseMove"}},
        {{"513", "514", "tick", "tick"}, {"MouseDown(1)", "MouseUp(1)", "Click(1)", "SingleClick(1)"}},
        {{"513", "514", "515", "514", "tick"},
         {"MouseDown(1)", "MouseUp(1)", "Click(1)", "DblClick(1)", "MouseUp(1)", "Click(1)"}},
        {{"516", "517", "518", "tick"}, {"MouseDown(2)", "MouseUp(2)", "Click(2)", "DblClick(2)"}},
        {{"menu", "516", "517"}, {"~SysMenu", "MouseDown(2)", "menu of frmMain at 640,790"}},
        {{"read{}", "517"}, {"menu of frmMain at 640,790"}},
        {{"hide", "tip before", "icon", "show", "show", "tip Tallowcrest", "noicon", "hide", "hide", "tip after",
          "show"},
         {"~Visible", "~ToolTipText", "~Icon", "~Visible", "add 'before' icon", "~Visible", "~ToolTipText",
          "modify 'Tallowcrest' icon", "~Icon", "modify 'Tallowcrest'", "~Visible", "delete 'Tallowcrest'",
          "~Visible", "~ToolTipText", "~Visible", "add 'after'", "delete 'after'"}},
        {{"read", "copy", "517"},
         {"add 'Stored' icon", "delete 'Stored' icon", "add 'Stored' icon", "MouseUp(2)", "Click(2)",
          "delete 'Stored' icon"}},
        {{"read", "design", "show", "hide", "read"},
         {"add 'Stored' icon", "delete 'Stored' icon", "~Visible", "~Visible"}},
    };
    for (const auto& [steps, log] : cases)
        EXPECT_EQ(runShellIcon(steps), log) << ::testing::PrintToString(steps);

    // The tip field is the text, a NUL and blanks, or the first 64 characters.
    FakeTrayShell shell;
    ShellIcon icon(ShellIcon::Host{shell});
    const QString nul(QChar(0)), x63(63, 'x');
    const std::pair<QString, QString> tips[] = {
        {"Tallowcrest", "Tallowcrest" + nul + QString(52, ' ')}, {"", nul + QString(63, ' ')}, {x63, x63 + nul},
        {x63 + "yz", x63 + "y"}};
    for (const auto& [text, field] : tips) {
        icon.SetToolTipText(text);
        EXPECT_EQ(std::pair(icon.record().szTip, icon.ToolTipText()), std::pair(field, text)) << text.toStdString();
    }
}

}  // namespace
}  // namespace tallowcrest::testing
