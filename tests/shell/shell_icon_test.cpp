#include <gtest/gtest.h>

#include "shell/artwork.h"
#include "shell/shell_icon.h"
#include "support/spin.h"

namespace tallowcrest {
namespace {

using Log = std::vector<std::string>;

// The fixture is the component's shell and its single-click timer. One log
// holds the events raised and the shell calls made, in their order; a shell
// call shows the tip the shell would show and whether there is an icon.
class ShellIconTest : public ::testing::Test, public ITrayShell, public IMenuTimer {
protected:
    ShellIconTest() { window.setObjectName(QStringLiteral("frmMain")); }

    void Add(const NotifyData& record) override { Call("add", record); }
    void Modify(const NotifyData& record) override { Call("modify", record); }
    void Delete(const NotifyData& record) override { Call("delete", record); }
    QPoint CursorPos() const override { return {640, 790}; }
    void PopupSystemMenu(QObject* owner, QPoint at) override
    {
        log.push_back("menu of " + owner->objectName().toStdString() + " at " + std::to_string(at.x()) + "," +
                      std::to_string(at.y()));
    }
    bool Available() const override { return true; }
    void Call(const std::string& name, const NotifyData& record)
    {
        log.push_back(name + " '" + record.TipShown().toStdString() + "'" + (record.hIcon.isNull() ? "" : " icon"));
    }

    void Start(int intervalMs) override { interval = intervalMs, timing = true; }
    void Stop() override { timing = false; }
    bool IsActive() const override { return timing; }
    // The event loop fires the timer only while it runs.
    void Tick(ShellIcon& icon)
    {
        if (timing)
            icon.tmrMenu_Timer();
    }

    std::unique_ptr<ShellIcon> MakeIcon(bool userMode = true)
    {
        auto icon = std::make_unique<ShellIcon>(ShellIcon::Host{
            *this, &window, userMode, [this](const QString& name) { changed.push_back(name.toStdString()); }, this});
        const auto raised = [this](const char* name) {
            return [this, name](int button) { log.push_back(name + ("(" + std::to_string(button) + ")")); };
        };
        icon->events = {[this] { log.push_back("MouseMove"); }, raised("MouseDown"), raised("MouseUp"),
                        raised("DblClick"), raised("Click"), raised("SingleClick")};
        return icon;
    }

    QObject window;
    int interval = 0;
    bool timing = false;
    Log log, changed;
};

TEST_F(ShellIconTest, MouseCodesBecomeEventsAndALoneLeftReleaseOneSingleClickLater)
{
    const struct {
        const char* name;
        bool sysMenu;
        std::vector<int> codes;
        Log log;  // after the codes and two chances for the timer to fire
    } cases[] = {
        {"move", false, {512}, {"MouseMove"}},
        {"left click", false, {513, 514}, {"MouseDown(1)", "MouseUp(1)", "Click(1)", "SingleClick(1)"}},
        {"left double click", false, {513, 514, 515, 514},
         {"MouseDown(1)", "MouseUp(1)", "Click(1)", "DblClick(1)", "MouseUp(1)", "Click(1)"}},
        {"right click", false, {516, 517}, {"MouseDown(2)", "MouseUp(2)", "Click(2)"}},
        {"right click, system menu", true, {516, 517}, {"MouseDown(2)", "menu of frmMain at 640,790"}},
        {"right double click", false, {516, 517, 518, 517},
         {"MouseDown(2)", "MouseUp(2)", "Click(2)", "DblClick(2)", "MouseUp(2)", "Click(2)"}},
        {"middle button and strays", true, {519, 520, 521, 0, 511, 522, -514, 514 + 65536}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        timing = false;
        auto icon = MakeIcon();
        icon->SetSysMenu(c.sysMenu);
        for (int code : c.codes)
            icon->MouseCallback(code);
        if (timing)
            EXPECT_EQ(interval, 500);
        Tick(*icon);
        Tick(*icon);
        EXPECT_EQ(log, c.log);
    }
}

TEST_F(ShellIconTest, QtTimerDeliversTheSingleClickByItself)
{
    bool single = false;
    ShellIcon icon(ShellIcon::Host{*this});
    icon.events.SingleClick = [&](int button) { single = button == 1; };
    icon.MouseCallback(514);
    EXPECT_FALSE(single);
    EXPECT_TRUE(SpinUntil([&] { return single; }, 5000));
}

TEST_F(ShellIconTest, ShowSysMenuPopsUpTheGivenWindowsMenu)
{
    QObject other;
    other.setObjectName(QStringLiteral("frmSplash"));
    MakeIcon()->ShowSysMenu(&other);
    EXPECT_EQ(log, Log{"menu of frmSplash at 640,790"});
}

TEST_F(ShellIconTest, AddsOnceRemovesOnceAndModifiesOnlyWhileAdded)
{
    auto icon = MakeIcon();
    icon->SetVisible(false);
    icon->SetToolTipText(QStringLiteral("before"));
    icon->SetIcon(WindowIcon());
    icon->SetVisible(true);
    icon->SetVisible(true);
    icon->SetToolTipText(QStringLiteral("Tallowcrest"));
    icon->SetIcon(QIcon());
    icon->SetSysMenu(true);
    icon->SetVisible(false);
    icon->SetVisible(false);
    icon->SetToolTipText(QStringLiteral("after"));
    EXPECT_EQ(log, (Log{"add 'before' icon", "modify 'Tallowcrest' icon", "modify 'Tallowcrest'",
                        "delete 'Tallowcrest'"}));
    EXPECT_EQ(changed, (Log{"Visible", "ToolTipText", "Icon", "Visible", "Visible", "ToolTipText", "Icon",
                            "SysMenu", "Visible", "Visible", "ToolTipText"}));
}

TEST_F(ShellIconTest, DestroyingRemovesAnAddedIconOnlyAndADesignSurfaceNeverAdds)
{
    MakeIcon().reset();
    auto designed = MakeIcon(false);
    designed->SetVisible(true);
    designed->ReadProperties(PropertyBag{{"Visible", true}});
    designed->SetVisible(false);
    designed.reset();
    EXPECT_TRUE(log.empty());

    auto icon = MakeIcon();
    icon->SetVisible(true);
    icon.reset();
    EXPECT_EQ(log, (Log{"add ''", "delete ''"})) << "a fresh icon has no tip";
}

TEST_F(ShellIconTest, TipFieldIsTextNulAndBlanksOrTheFirstSixtyFourCharacters)
{
    const QString nul(QChar(0));
    const struct {
        QString text;
        QString field;
    } cases[] = {
        {QStringLiteral("Tallowcrest Server"), QStringLiteral("Tallowcrest Server") + nul + QString(45, ' ')},
        {QString(), nul + QString(63, ' ')},
        {QString(63, 'x'), QString(63, 'x') + nul},
        {QString(64, 'y'), QString(64, 'y')},
        {QString(63, 'z') + QStringLiteral("ab"), QString(63, 'z') + 'a'},
    };
    auto icon = MakeIcon();
    for (const auto& c : cases) {
        icon->SetToolTipText(c.text);
        EXPECT_EQ(icon->Record().szTip, c.field) << c.text.toStdString();
    }
}

TEST_F(ShellIconTest, StoredSettingsAddAtOnceDefaultToSysMenuAndSurviveAWrite)
{
    const QIcon stored = WindowIcon();
    auto icon = MakeIcon();
    EXPECT_FALSE(icon->SysMenu()) << "a component never read from a store starts without the menu";
    icon->ReadProperties(PropertyBag{{"tooltiptext", "Stored tip"}, {"ICON", QVariant::fromValue(stored)},
                                     {"visible", true}});
    EXPECT_EQ(log, Log{"add 'Stored tip' icon"});
    EXPECT_TRUE(icon->SysMenu()) << "a store without SysMenu means true";
    EXPECT_TRUE(changed.empty()) << "reading is not a change";

    PropertyBag written{{"sysmenu", true}};
    icon->SetSysMenu(false);
    icon->WriteProperties(written);
    auto copy = MakeIcon(false);
    copy->ReadProperties(written);
    EXPECT_EQ(copy->ToolTipText(), QStringLiteral("Stored tip"));
    EXPECT_EQ(copy->Icon().cacheKey(), stored.cacheKey());
    EXPECT_TRUE(copy->Visible());
    EXPECT_FALSE(copy->SysMenu());
}

}  // namespace
}  // namespace tallowcrest
