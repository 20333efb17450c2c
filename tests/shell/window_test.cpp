#include "library/track_scan.h"
#include "server/qt_settings_store.h"
#include "server/server_controller.h"
#include "shell/frm_main.h"
#include "shell/qt_tray_shell.h"
#include "support/fakes.h"
#include "support/spin.h"
#include "support/wire_client.h"

#include <QAbstractButton>
#include <QDir>
#include <QListView>
#include <QTest>

#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {

// The desktop's own notification area, as if the desktop had one.
struct TrayHere : QtTrayShell {
    TrayHere() : QtTrayShell(nullptr) {}
    bool available() const override { return true; }
};

// The window on the real settings file and tray, a fake socket and player.
class FrmMainTest : public ::testing::Test {
protected:
    FrmMainTest()
    {
        for (const QString name : {"a.mp3", "Sub/b.mp3", "notes.txt"}) {
            QDir().mkpath(QFileInfo(library.filePath(name)).path());
            QFile(library.filePath(name)).open(QIODevice::WriteOnly);
        }
        for (const auto& [key, value] : {std::pair<std::string, std::string>{"Dir", library.path().toStdString()},
                                         {"Port", "4711"}, {"WebPort", std::to_string(freePort())}})
            settings.save(kAppName, kSettingsSection, key, value);
    }
    template <typename Control = QWidget>
    Control* control(const char* name)
    {
        return window.findChild<Control*>(QString::fromLatin1(name));
    }

    QTemporaryDir library;
    IsolatedSettings isolation;
    QtSettingsStore settings;
    RecordingMessageBox messageBox;
    ScriptedPrompt prompt;
    FakeSocket winsock;
    FakePlayer media;
    TrayHere tray;
    frmMain window{{settings, messageBox, prompt, winsock, media, &tray}};
};

TEST_F(FrmMainTest, ControlsAsDesignedInTheirTabOrderAndStretchedWithTheWindowNeverBelowZero)
{
    EXPECT_EQ(std::pair(window.windowTitle(), window.size()), std::pair(QStringLiteral("Tallowcrest Server"), QSize(700, 309)));
    const std::tuple<const char*, const char*, QRect> controls[] = {
        {"cmdDir", "Change Dir", {0, 0, 77, 23}},       {"cmdPort", "Change Port", {78, 0, 77, 23}},
        {"cmdRandomize", "Randomize", {0, 24, 77, 23}}, {"cmdExit", "Exit", {78, 24, 77, 23}},
        {"lstFiles", "", {0, 46, 701, 264}},            {"Media", "", {158, 0, 541, 45}},
    };
    for (const auto& [name, caption, geometry] : controls) {
        ASSERT_NE(control(name), nullptr) << name;
        const auto* button = qobject_cast<QAbstractButton*>(control(name));
        EXPECT_EQ(std::pair(control(name)->geometry(), button ? button->text() : ""),
                  std::pair(geometry, QString::fromLatin1(caption)));
    }
    // One round of the focus chain, each stop named by the window's control
    // it lies in (the strip's stops are its own buttons).
    QStringList order;
    QWidget* at = control("Media");
    for (int step = 0; step < 50 && order.size() < 6; ++step, at = at->nextInFocusChain()) {
        QWidget* owner = at;
        while (owner != &window && owner->parentWidget() != &window)
            owner = owner->parentWidget();
        if ((at->focusPolicy() & Qt::TabFocus) && (order.isEmpty() || order.last() != owner->objectName()))
            order << owner->objectName();
    }
    EXPECT_EQ(order.join(' '), QStringLiteral("Media cmdPort cmdDir cmdExit lstFiles cmdRandomize"));

    window.show();
    const std::tuple<QSize, int, QSize> sizes[] = {
        {{700, 309}, 546, {700, 263}}, {{1920, 1000}, 1766, {1920, 954}}, {{155, 47}, 1, {155, 1}}, {{90, 30}, 0, {90, 0}},
    };
    for (const auto& [client, stripWidth, list] : sizes) {
        window.resize(client);
        ASSERT_TRUE(SpinUntil([&, &wanted = client] { return window.size() == wanted; }));
        EXPECT_EQ(std::pair(control("Media")->geometry(), control("lstFiles")->geometry()),
                  std::pair(QRect(158, 0, stripWidth, 45), QRect(QPoint(0, 46), list)));
    }
}

TEST_F(FrmMainTest, ShownItListsAndListensAndADoubleClickOrEnterPlaysTheRowUnderItsTitle)
{
    window.show();
    TrackListModel& rows = window.trackList();
    ASSERT_EQ(rows.Count(), 2);
    const std::string folder = library.path().toStdString();
    EXPECT_EQ((std::set<std::string>{std::string(rows.Row(0)), std::string(rows.Row(1))}),
              (std::set<std::string>{folder + "/a.mp3", folder + "/Sub/b.mp3"}));
    EXPECT_EQ(std::tuple(winsock.localPort, winsock.state, messageBox.shown.size()),
              std::tuple(4711, int(ISocket::Listening), size_t(0)));

    auto* list = control<QListView>("lstFiles");
    const QPoint title = list->visualRect(rows.index(1, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, title);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, title);
    EXPECT_EQ(media.fileName, rows.Row(1));
    EXPECT_EQ(window.windowTitle().toStdString(), "Tallowcrest Server: " + TrackTitle(rows.Row(1)));
    for (const auto& [key, row] : {std::pair(Qt::Key_Return, 0), std::pair(Qt::Key_Enter, 1)}) {
        list->setCurrentIndex(rows.index(row, 0));
        QTest::keyClick(list, key);
        EXPECT_EQ(media.fileName, rows.Row(row)) << key;
    }
    rows.SetSelectedIndex(0);
    EXPECT_EQ(list->currentIndex().row(), 0) << "the view follows the list's selection";
}

TEST_F(FrmMainTest, ChangeDirAndChangePortStoreTheAnswersAndRandomizeSwitchesShuffle)
{
    window.show();
    prompt.answers = {"/srv/other music/", "8080"};
    control<QAbstractButton>("cmdDir")->click();
    control<QAbstractButton>("cmdPort")->click();
    EXPECT_EQ(prompt.asked, (std::vector<std::string>{"Please enter the Local Directory that you wish to use:",
                                                      "Please enter the Local Port that you wish to use:"}));
    const QSettings stored(isolation.filePath(), QSettings::IniFormat);
    EXPECT_EQ(std::pair(stored.value("Settings/Dir"), stored.value("Settings/Port")),
              std::pair(QVariant("/srv/other music/"), QVariant("8080")));
    EXPECT_EQ(window.controller().MediaFolder(), "/srv/other music/");
    EXPECT_EQ(std::pair(window.trackList().Count(), winsock.localPort), std::pair(2, 4711)) << "till a list, a restart";
    for (const bool on : {true, false}) {
        control<QAbstractButton>("cmdRandomize")->click();
        EXPECT_EQ(window.controller().ShuffleOn(), on);
    }
}

TEST_F(FrmMainTest, MinimisedItHidesBehindATrayIconThatAnyClickTurnsBackIntoTheWindow)
{
    window.show();
    window.setWindowState(Qt::WindowMinimized);
    window.setWindowState(Qt::WindowNoState);
    SpinFor(50);
    EXPECT_TRUE(window.isVisible() && !window.shellIcon().iconAdded()) << "restored before it was hidden";
    int singleClicks = 0;
    window.shellIcon().events.SingleClick = [&](int) { ++singleClicks; };
    using Reason = QSystemTrayIcon::ActivationReason;
    for (const Reason reason : {Reason::Trigger, Reason::Context, Reason::DoubleClick}) {
        window.setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
        ASSERT_TRUE(SpinUntil([&] { return !window.isVisible(); })) << reason;
        EXPECT_TRUE(tray.trayIcon().isVisible() && tray.trayIcon().toolTip().isEmpty());
        for (const int code : {512, 513, 516})
            window.shellIcon().mouseCallback(code);
        SpinFor(20);
        EXPECT_FALSE(window.isVisible()) << "moving and pressing do nothing";
        emit tray.trayIcon().activated(reason);
        ASSERT_TRUE(SpinUntil([&] { return window.isVisible(); })) << reason;
        EXPECT_EQ(window.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), Qt::WindowNoState);
        EXPECT_FALSE(tray.trayIcon().isVisible());
        SpinFor(600);  // past the single-click interval: the next press starts afresh
    }
    EXPECT_TRUE(SpinUntil([&] { return singleClicks > 0; }, 5000)) << "a click's delayed one changes nothing";
    EXPECT_TRUE(window.isVisible());
}

}  // namespace
}  // namespace tallowcrest::testing
