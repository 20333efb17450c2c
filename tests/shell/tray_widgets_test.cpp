#include <gtest/gtest.h>

#include <QAction>
#include <QTemporaryDir>

#include "playback/qt_media_player.h"
#include "playback/qt_settings_store.h"
#include "remote/socket.h"
#include "shell/artwork.h"
#include "shell/frm_main.h"
#include "shell/qt_tray_shell.h"
#include "support/fake_dialogs.h"
#include "support/isolated_settings.h"
#include "support/spin.h"

namespace tallowcrest {
namespace {

using Codes = std::vector<int>;
using Log = std::vector<std::string>;

// Activations are reported once the event loop runs again.
void Activate(QSystemTrayIcon& tray, QSystemTrayIcon::ActivationReason reason)
{
    emit tray.activated(reason);
    SpinFor(10);
}

TEST(QtTrayShellTest, ActivationsReachTheRecordAsPressAndReleaseCodesWhileTheIconIsAdded)
{
    QtTrayShell shell(nullptr);
    QSystemTrayIcon& tray = shell.trayIcon();
    Codes codes;
    NotifyData record;
    record.callback = [&](int code) { codes.push_back(code); };
    record.szTip = QStringLiteral("Tallowcrest") + QChar(0) + QString(52, ' ');
    shell.Add(record);
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Tallowcrest"));
    const std::pair<QSystemTrayIcon::ActivationReason, Codes> cases[] = {
        {QSystemTrayIcon::Trigger, {513, 514}}, {QSystemTrayIcon::DoubleClick, {515, 514}},
        {QSystemTrayIcon::Context, {516, 517}}, {QSystemTrayIcon::MiddleClick, {}},
        {QSystemTrayIcon::Unknown, {}},
    };
    for (const auto& [reason, expected] : cases) {
        codes.clear();
        Activate(tray, reason);
        EXPECT_EQ(codes, expected) << "reason " << reason;
    }

    record.szTip = QString(64, 'y');
    record.hIcon = WindowIcon();
    shell.Modify(record);
    EXPECT_EQ(tray.toolTip(), QString(64, 'y')) << "a full field has no NUL and is shown whole";
    EXPECT_FALSE(tray.icon().isNull());

    // A code that removes the icon ends its activation; a removed icon reports nothing.
    record.callback = [&](int code) {
        codes.push_back(code);
        shell.Delete(record);
    };
    shell.Add(record);
    codes.clear();
    Activate(tray, QSystemTrayIcon::DoubleClick);
    Activate(tray, QSystemTrayIcon::Trigger);
    EXPECT_EQ(codes, Codes{515});
}

TEST(QtTrayShellTest, SystemMenuOffersWhatTheWindowsStateAllowsAndActsOnIt)
{
    QWidget window;
    window.show();
    QtTrayShell shell(&window);
    // Pops the menu up, triggers `choice` and returns the entries that were enabled.
    const auto choose = [&](const QString& choice) {
        shell.PopupSystemMenu(nullptr, QPoint(20, 30));
        QStringList enabled;
        for (QAction* action : shell.systemMenu()->actions()) {
            if (action->isEnabled() && !action->isSeparator())
                enabled << action->text();
            if (action->text() == choice)
                action->trigger();
        }
        return enabled.join(' ');
    };
    const auto state = [&] { return window.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized); };
    EXPECT_EQ(choose("Maximize"), "Minimize Maximize Close");
    EXPECT_EQ(state(), Qt::WindowMaximized);
    EXPECT_EQ(choose("Minimize"), "Restore Minimize Close");
    EXPECT_EQ(state(), Qt::WindowMinimized | Qt::WindowMaximized);
    EXPECT_EQ(choose("Restore"), "Restore Maximize Close") << "minimised from maximised";
    EXPECT_EQ(state(), Qt::WindowNoState);
    choose("Close");
    EXPECT_FALSE(window.isVisible());
}

// The desktop's tray as if it had a notification area, logging what it is
// asked to do.
struct LoggedTray : QtTrayShell {
    LoggedTray() : QtTrayShell(nullptr) {}
    void Add(const NotifyData& record) override
    {
        calls.push_back(std::string("add") + (record.hIcon.isNull() ? "" : " icon") +
                        (record.TipShown().isEmpty() ? "" : " tip"));
        QtTrayShell::Add(record);
    }
    void Delete(const NotifyData& record) override
    {
        calls.push_back("delete");
        QtTrayShell::Delete(record);
    }
    bool Available() const override { return available; }

    bool available = true;
    Log calls;
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
    LoggedTray tray;
    std::unique_ptr<frmMain> window;
};

TEST_F(MinimiseToTrayTest, MinimisingHidesTheWindowBehindAnIconAndAnyClickBringsItBackAtNormalSize)
{
    EXPECT_TRUE(tray.calls.empty()) << "no icon while the window is up";
    using Reasons = std::vector<QSystemTrayIcon::ActivationReason>;
    const std::pair<const char*, Reasons> clicks[] = {
        {"left click", {QSystemTrayIcon::Trigger}},
        {"right click", {QSystemTrayIcon::Context}},
        {"double click", {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}},
    };
    for (const auto& [name, reasons] : clicks) {
        SCOPED_TRACE(name);
        tray.calls.clear();
        window->setWindowState(Qt::WindowMaximized);
        Minimise();
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(tray.calls, Log{"add icon"}) << "the window icon, no tip";

        EXPECT_TRUE(tray.trayIcon().isVisible());

        for (int code : {512, 513, 516})
            window->shellIcon().MouseCallback(code);
        EXPECT_FALSE(window->isVisible()) << "moving and pressing do nothing";
        for (auto reason : reasons)
            Activate(tray.trayIcon(), reason);
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(tray.trayIcon().isVisible());
        EXPECT_EQ(window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), Qt::WindowNoState);
        EXPECT_EQ(tray.calls, (Log{"add icon", "delete"}));
    }
    SpinFor(ShellIcon::kMenuIntervalMs + 200);
    EXPECT_TRUE(window->isVisible()) << "the delayed single click changes nothing";
    EXPECT_EQ(tray.calls, (Log{"add icon", "delete"}));
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

}  // namespace
}  // namespace tallowcrest
