#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QTemporaryDir>

#include "playback/qt_media_player.h"
#include "playback/qt_settings_store.h"
#include "remote/socket.h"
#include "shell/artwork.h"
#include "shell/frm_main.h"
#include "shell/qt_tray_shell.h"
#include "shell/shell_icon.h"
#include "support/fake_dialogs.h"
#include "support/isolated_settings.h"
#include "support/spin.h"

namespace tallowcrest {
namespace {

using Codes = std::vector<int>;

// Activations are reported once the event loop runs again.
void Activate(QSystemTrayIcon& tray, QSystemTrayIcon::ActivationReason reason)
{
    emit tray.activated(reason);
    SpinFor(10);
}

TEST(QtTrayShellTest, ActivationsReachTheCallbackAsPressAndReleaseCodesWhileAdded)
{
    QtTrayShell shell(nullptr);
    Codes codes;
    NotifyData record;
    record.callback = [&](int code) { codes.push_back(code); };
    record.szTip = QStringLiteral("Tallowcrest") + QChar(0) + QString(52, ' ');
    QSystemTrayIcon& tray = shell.trayIcon();

    Activate(tray, QSystemTrayIcon::Trigger);
    EXPECT_TRUE(codes.empty()) << "nothing is reported before the add";

    shell.Add(record);
    EXPECT_TRUE(tray.isVisible());
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Tallowcrest"));
    const struct {
        QSystemTrayIcon::ActivationReason reason;
        Codes codes;
    } cases[] = {
        {QSystemTrayIcon::Trigger, {513, 514}},
        {QSystemTrayIcon::DoubleClick, {515, 514}},
        {QSystemTrayIcon::Context, {516, 517}},
        {QSystemTrayIcon::MiddleClick, {}},
        {QSystemTrayIcon::Unknown, {}},
    };
    for (const auto& c : cases) {
        codes.clear();
        Activate(tray, c.reason);
        EXPECT_EQ(codes, c.codes) << "reason " << c.reason;
    }

    record.szTip = QString(64, 'y');
    record.hIcon = WindowIcon();
    shell.Modify(record);
    EXPECT_EQ(tray.toolTip(), QString(64, 'y')) << "a full field has no NUL and is shown whole";
    EXPECT_FALSE(tray.icon().isNull());
    record.szTip = QChar(0) + QString(63, ' ');
    shell.Modify(record);
    EXPECT_TRUE(tray.toolTip().isEmpty());

    // An activation whose first code removes the icon reports no more.
    record.callback = [&](int code) {
        codes.push_back(code);
        shell.Delete(record);
    };
    shell.Add(record);
    codes.clear();
    Activate(tray, QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(codes, Codes{515});
    EXPECT_FALSE(tray.isVisible());
    codes.clear();
    Activate(tray, QSystemTrayIcon::Trigger);
    EXPECT_TRUE(codes.empty()) << "a removed icon reports nothing";
}

TEST(QtTrayShellTest, SystemMenuActsOnItsWindow)
{
    QWidget window;
    window.resize(300, 200);
    window.show();
    QtTrayShell shell(&window);

    const auto popup = [&] {
        shell.PopupSystemMenu(nullptr, QPoint(20, 30));
        QMenu* menu = shell.systemMenu();
        std::map<QString, QAction*> actions;
        if (menu)
            for (QAction* action : menu->actions())
                if (!action->isSeparator())
                    actions[action->text()] = action;
        return actions;
    };
    const auto enabled = [](const std::map<QString, QAction*>& actions) {
        QStringList names;
        for (const auto& [name, action] : actions)
            if (action->isEnabled())
                names.push_back(name);
        return names.join(' ').toStdString();
    };

    auto actions = popup();
    ASSERT_EQ(actions.size(), 4u);
    EXPECT_EQ(enabled(actions), "Close Maximize Minimize");
    actions.at("Maximize")->trigger();
    EXPECT_TRUE(window.isMaximized());

    actions = popup();
    EXPECT_EQ(enabled(actions), "Close Minimize Restore");
    actions.at("Minimize")->trigger();
    EXPECT_TRUE(window.isMinimized());

    actions = popup();
    EXPECT_EQ(enabled(actions), "Close Maximize Restore");
    actions.at("Restore")->trigger();
    EXPECT_FALSE(window.isMinimized());
    EXPECT_FALSE(window.isMaximized());

    popup().at("Close")->trigger();
    EXPECT_FALSE(window.isVisible());
}

// A notification area that logs what is asked of it.
struct RecordingTray : ITrayShell {
    void Add(const NotifyData& record) override
    {
        calls.push_back(std::string("add") + (record.hIcon.isNull() ? "" : " icon") +
                        (record.TipShown().isEmpty() ? "" : " tip"));
        added = record;
    }
    void Modify(const NotifyData&) override { calls.push_back("modify"); }
    void Delete(const NotifyData&) override
    {
        calls.push_back("delete");
        added = {};
    }
    QPoint CursorPos() const override { return {}; }
    void PopupSystemMenu(QObject*, QPoint) override { calls.push_back("menu"); }
    bool Available() const override { return available; }

    // The shell reporting mouse codes for the icon while it is there.
    void Report(const Codes& codes)
    {
        for (int code : codes)
            if (added.callback)
                added.callback(code);
    }

    bool available = true;
    NotifyData added;
    std::vector<std::string> calls;
};

struct SilentSocket : ISocket {
    void SetLocalPort(int32_t) override {}
    void Listen() override {}
    void Accept(int32_t) override {}
    void Close() override {}
    std::string GetData() override { return {}; }
    void SendData(std::string_view) override {}
    int State() const override { return Listening; }
    void Hold(int) override {}
};

class MinimiseToTrayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings.Save(kAppName, kSettingsSection, "Dir", library.path().toStdString());
        window = std::make_unique<frmMain>(frmMain::Components{settings, messages, prompt, socket, media, &tray});
        window->show();
    }

    void Minimise()
    {
        window->setWindowState(window->windowState() | Qt::WindowMinimized);
        SpinFor(50);
    }

    QTemporaryDir library;
    testing::IsolatedSettings isolation;
    QtSettingsStore settings;
    testing::RecordingMessageBox messages;
    testing::ScriptedPrompt prompt;
    SilentSocket socket;
    QtMediaPlayer media;
    RecordingTray tray;
    std::unique_ptr<frmMain> window;
};

TEST_F(MinimiseToTrayTest, MinimisingHidesTheWindowBehindAnIconAndAnyClickBringsItBackNeitherMinimisedNorMaximised)
{
    EXPECT_TRUE(tray.calls.empty()) << "no icon while the window is up";
    const struct {
        const char* name;
        Codes codes;
    } clicks[] = {
        {"left click", {513, 514}},
        {"right click", {516, 517}},
        {"double click", {513, 514, 515, 514}},
    };
    for (const auto& click : clicks) {
        SCOPED_TRACE(click.name);
        tray.calls.clear();
        window->setWindowState(Qt::WindowMaximized);
        Minimise();
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(tray.calls, std::vector<std::string>{"add icon"}) << "the window icon, no tip";

        tray.Report({512, 513, 516});
        EXPECT_FALSE(window->isVisible()) << "moving and pressing do nothing";

        tray.Report(click.codes);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), Qt::WindowNoState);
        EXPECT_EQ(tray.calls, (std::vector<std::string>{"add icon", "delete"}));
        EXPECT_FALSE(window->shellIcon().Visible());
    }
    SpinFor(ShellIcon::kMenuIntervalMs + 200);
    EXPECT_TRUE(window->isVisible()) << "the delayed single click changes nothing";
    EXPECT_EQ(tray.calls, (std::vector<std::string>{"add icon", "delete"}));
}

TEST_F(MinimiseToTrayTest, ARestoreBeforeTheWindowIsHiddenKeepsItAndDropsTheIcon)
{
    window->setWindowState(Qt::WindowMinimized);
    window->setWindowState(Qt::WindowNoState);
    SpinFor(50);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
    // The platform may echo each state once more; what counts is the end.
    ASSERT_FALSE(tray.calls.empty());
    EXPECT_EQ(tray.calls.back(), "delete");
    EXPECT_FALSE(window->shellIcon().IconAdded());
}

TEST_F(MinimiseToTrayTest, WithoutANotificationAreaTheWindowStaysMinimisedInTheTaskbar)
{
    tray.available = false;
    Minimise();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isMinimized());
    EXPECT_TRUE(tray.calls.empty());
}

TEST_F(MinimiseToTrayTest, ClosingTheWindowRemovesTheIcon)
{
    Minimise();
    ASSERT_EQ(tray.calls, std::vector<std::string>{"add icon"});
    window.reset();
    EXPECT_EQ(tray.calls, (std::vector<std::string>{"add icon", "delete"}));
}

}  // namespace
}  // namespace tallowcrest
