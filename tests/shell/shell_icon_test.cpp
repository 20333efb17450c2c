#include <gtest/gtest.h>

#include <QPixmap>

#include "shell/shell_icon.h"
#include "support/spin.h"

namespace tallowcrest {
namespace {

using Log = std::vector<std::string>;

// Records each shell call with the tip the shell would show and whether the
// record carries an icon.
struct RecordingShell : ITrayShell {
    void Add(const NotifyData& record) override { Record("add", record); }
    void Modify(const NotifyData& record) override { Record("modify", record); }
    void Delete(const NotifyData& record) override { Record("delete", record); }
    QPoint CursorPos() const override { return cursor; }
    void PopupSystemMenu(QObject* window, QPoint at) override
    {
        calls.push_back("menu of " + (window ? window->objectName().toStdString() : std::string("nothing")) +
                        " at " + std::to_string(at.x()) + "," + std::to_string(at.y()));
    }
    bool Available() const override { return true; }

    void Record(const std::string& call, const NotifyData& record)
    {
        calls.push_back(call + " '" + record.TipShown().toStdString() + "'" + (record.hIcon.isNull() ? "" : " icon"));
        last = record;
    }

    QPoint cursor{640, 790};
    Log calls;
    NotifyData last;
};

struct FakeTimer : IMenuTimer {
    void Start(int intervalMs) override { interval = intervalMs, active = true, ++starts; }
    void Stop() override { active = false; }
    bool IsActive() const override { return active; }
    int interval = 0;
    int starts = 0;
    bool active = false;
};

QIcon SomeIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::darkRed);
    return QIcon(pixmap);
}

class ShellIconTest : public ::testing::Test {
protected:
    ShellIconTest() { window.setObjectName(QStringLiteral("frmMain")); }

    std::unique_ptr<ShellIcon> MakeIcon(bool userMode = true)
    {
        auto icon = std::make_unique<ShellIcon>(ShellIcon::Host{
            shell, &window, userMode, [this](const QString& name) { changed.push_back(name.toStdString()); },
            &timer});
        ShellIcon::Events& on = icon->events;
        on.MouseMove = [this] { events.push_back("MouseMove"); };
        const auto record = [this](const char* name) {
            return [this, name](int button) { events.push_back(name + std::string("(") + std::to_string(button) + ")"); };
        };
        on.MouseDown = record("MouseDown");
        on.MouseUp = record("MouseUp");
        on.DblClick = record("DblClick");
        on.Click = record("Click");
        on.SingleClick = record("SingleClick");
        return icon;
    }

    // Fires the timer the way the event loop would: only while it runs.
    void Tick(ShellIcon& icon)
    {
        if (timer.active)
            icon.tmrMenu_Timer();
    }

    QObject window;
    RecordingShell shell;
    FakeTimer timer;
    Log events, changed;
};

TEST_F(ShellIconTest, MouseCodesBecomeEvents)
{
    const struct {
        const char* name;
        std::vector<int> codes;
        bool sysMenu;
        Log events;
        Log shellCalls;
        bool timerRunning;
    } cases[] = {
        {"move", {512}, false, {"MouseMove"}, {}, false},
        {"left click", {513, 514}, false, {"MouseDown(1)", "MouseUp(1)", "Click(1)"}, {}, true},
        {"left double click",
         {513, 514, 515, 514},
         false,
         {"MouseDown(1)", "MouseUp(1)", "Click(1)", "DblClick(1)", "MouseUp(1)", "Click(1)"},
         {},
         false},
        {"right click, no system menu", {516, 517}, false, {"MouseDown(2)", "MouseUp(2)", "Click(2)"}, {}, false},
        {"right click, system menu", {516, 517}, true, {"MouseDown(2)"}, {"menu of frmMain at 640,790"}, false},
        {"right double click", {516, 517, 518, 517}, false,
         {"MouseDown(2)", "MouseUp(2)", "Click(2)", "DblClick(2)", "MouseUp(2)", "Click(2)"}, {}, false},
        {"middle button and strays", {519, 520, 521, 0, 511, 522, -514, 514 + 65536}, true, {}, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events.clear();
        shell.calls.clear();
        timer = {};
        auto icon = MakeIcon();
        icon->SetSysMenu(c.sysMenu);
        for (int code : c.codes)
            icon->MouseCallback(code);
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(shell.calls, c.shellCalls);
        EXPECT_EQ(timer.active, c.timerRunning);

        Tick(*icon);
        const bool single = std::find(events.begin(), events.end(), "SingleClick(1)") != events.end();
        EXPECT_EQ(single, c.timerRunning) << "a single click follows exactly when the timer was left running";
    }
}

TEST_F(ShellIconTest, SingleClickComesOnceAfterTheIntervalOfALoneLeftRelease)
{
    auto icon = MakeIcon();
    icon->MouseCallback(513);
    icon->MouseCallback(514);
    EXPECT_EQ(timer.interval, 500);
    Tick(*icon);
    Tick(*icon);
    EXPECT_EQ(events, (Log{"MouseDown(1)", "MouseUp(1)", "Click(1)", "SingleClick(1)"}));

    // Every click after that starts a fresh interval of its own.
    events.clear();
    icon->MouseCallback(514);
    icon->MouseCallback(512);
    icon->MouseCallback(516);
    Tick(*icon);
    EXPECT_EQ(events, (Log{"MouseUp(1)", "Click(1)", "MouseMove", "MouseDown(2)", "SingleClick(1)"}));
    EXPECT_EQ(timer.starts, 2);
}

TEST_F(ShellIconTest, QtTimerDeliversTheSingleClickByItself)
{
    bool single = false;
    ShellIcon icon(ShellIcon::Host{shell});
    icon.events.SingleClick = [&](int button) { single = button == 1; };
    icon.MouseCallback(514);
    EXPECT_FALSE(single);
    EXPECT_TRUE(SpinUntil([&] { return single; }, 5000));
}

TEST_F(ShellIconTest, AddsOnceRemovesOnceAndModifiesOnlyWhileAdded)
{
    auto icon = MakeIcon();
    icon->SetVisible(false);
    icon->SetToolTipText(QStringLiteral("before"));
    icon->SetIcon(SomeIcon());
    EXPECT_TRUE(shell.calls.empty()) << "nothing is sent for an icon that is not there";

    icon->SetVisible(true);
    icon->SetVisible(true);
    icon->SetToolTipText(QStringLiteral("Tallowcrest"));
    icon->SetIcon(QIcon());
    icon->SetSysMenu(true);
    icon->SetVisible(false);
    icon->SetVisible(false);
    icon->SetToolTipText(QStringLiteral("after"));
    EXPECT_EQ(shell.calls, (Log{"add 'before' icon", "modify 'Tallowcrest' icon", "modify 'Tallowcrest'",
                                "delete 'Tallowcrest'"}));
    EXPECT_EQ(changed, (Log{"Visible", "ToolTipText", "Icon", "Visible", "Visible", "ToolTipText", "Icon",
                            "SysMenu", "Visible", "Visible", "ToolTipText"}));

    const NotifyData& record = shell.last;
    EXPECT_EQ(record.cbSize, 88u);
    EXPECT_EQ(record.uID, 1u);
    EXPECT_EQ(record.uFlags, 7u);
    EXPECT_EQ(record.uCallbackMessage, 512u);
    ASSERT_TRUE(record.callback);
    record.callback(513);
    EXPECT_EQ(events, Log{"MouseDown(1)"}) << "the record routes the shell's reports to the component";
}

TEST_F(ShellIconTest, TipFieldIsTextNulAndBlanksOrTheFirstSixtyFourCharacters)
{
    const QString nul(QChar(0));
    const struct {
        QString text;
        QString field;
    } cases[] = {
        {QString(), nul + QString(63, ' ')},
        {QStringLiteral("Tallowcrest Server"), QStringLiteral("Tallowcrest Server") + nul + QString(45, ' ')},
        {QString(63, 'x'), QString(63, 'x') + nul},
        {QString(64, 'y'), QString(64, 'y')},
        {QString(63, 'z') + QStringLiteral("ab"), QString(63, 'z') + 'a'},
        {QStringLiteral("\u00e9t\u00e9 "), QStringLiteral("\u00e9t\u00e9 ") + nul + QString(59, ' ')},
    };
    auto icon = MakeIcon();
    EXPECT_EQ(icon->Record().szTip, cases[0].field) << "a fresh component shows no tip";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        icon->SetToolTipText(c.text);
        EXPECT_EQ(icon->Record().szTip, c.field);
        EXPECT_EQ(icon->ToolTipText(), c.text);
    }
    icon->SetVisible(true);
    EXPECT_EQ(shell.last.TipShown(), QStringLiteral("\u00e9t\u00e9 "));
}

TEST_F(ShellIconTest, OnADesignSurfaceNothingIsEverAdded)
{
    auto icon = MakeIcon(false);
    icon->SetVisible(true);
    EXPECT_TRUE(icon->Visible());
    EXPECT_FALSE(icon->IconAdded());
    icon->ReadProperties(PropertyBag{{"Visible", true}});
    icon->SetVisible(false);
    icon.reset();
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(ShellIconTest, StoredSettingsAreReadWithDefaultsAndCaseFreeKeys)
{
    const QIcon stored = SomeIcon();
    {
        auto icon = MakeIcon();
        icon->ReadProperties(PropertyBag{{"tooltiptext", "Stored tip"}, {"ICON", QVariant::fromValue(stored)},
                                         {"visible", true}});
        EXPECT_EQ(shell.calls, Log{"add 'Stored tip' icon"}) << "shown at once with what was stored";
        EXPECT_TRUE(icon->SysMenu()) << "a store without SysMenu means true";
        EXPECT_EQ(icon->ToolTipText(), QStringLiteral("Stored tip"));
        EXPECT_EQ(icon->Icon().cacheKey(), stored.cacheKey());
        EXPECT_TRUE(changed.empty()) << "reading is not a change";
    }
    EXPECT_EQ(shell.calls, (Log{"add 'Stored tip' icon", "delete 'Stored tip' icon"}));

    shell.calls.clear();
    auto icon = MakeIcon();
    EXPECT_FALSE(icon->SysMenu()) << "a component never read from a store starts without the menu";
    icon->ReadProperties(PropertyBag{{"_extentx", 847}, {"_extenty", 847}, {"icon", QVariant::fromValue(stored)},
                                     {"sysmenu", false}});
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_FALSE(icon->Visible());
    EXPECT_FALSE(icon->SysMenu());
    EXPECT_EQ(icon->Record().szTip, QChar(0) + QString(63, ' '));
    EXPECT_FALSE(icon->Record().hIcon.isNull());

    PropertyBag written{{"sysmenu", true}};
    icon->SetToolTipText(QStringLiteral("written"));
    icon->WriteProperties(written);
    EXPECT_EQ(written.Keys(), (QStringList{"Icon", "sysmenu", "ToolTipText", "Visible"}));
    EXPECT_EQ(written.ReadProperty("SYSMENU", true).toBool(), false);
    EXPECT_EQ(written.ReadProperty("tooltiptext", {}).toString(), QStringLiteral("written"));

    auto copy = MakeIcon();
    copy->ReadProperties(written);
    EXPECT_EQ(copy->ToolTipText(), QStringLiteral("written"));
    EXPECT_EQ(copy->Icon().cacheKey(), stored.cacheKey());
    EXPECT_FALSE(copy->SysMenu());
}

TEST_F(ShellIconTest, DestroyingRemovesAnAddedIconOnly)
{
    MakeIcon().reset();
    EXPECT_TRUE(shell.calls.empty());

    auto icon = MakeIcon();
    icon->SetVisible(true);
    icon.reset();
    EXPECT_EQ(shell.calls, (Log{"add ''", "delete ''"}));
}

TEST_F(ShellIconTest, ShowSysMenuUsesTheGivenWindowOrTheHost)
{
    auto icon = MakeIcon();
    QObject other;
    other.setObjectName(QStringLiteral("frmSplash"));
    icon->ShowSysMenu(&other);
    shell.cursor = {3, 4};
    icon->ShowSysMenu();
    EXPECT_EQ(shell.calls, (Log{"menu of frmSplash at 640,790", "menu of frmMain at 3,4"}));
    EXPECT_TRUE(events.empty());
}

}  // namespace
}  // namespace tallowcrest
