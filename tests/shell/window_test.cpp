// The main window over the window's logic as the start-up builds it, with a tray of its own.
#include "library/track_scan.h"
#include "shell/frm_main.h"
#include "shell/qt_tray_shell.h"
#include "support/fake_server.h"
#include "support/spin.h"

#include <QAbstractButton>
#include <QListView>
#include <QTest>

#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {

using Reason = QSystemTrayIcon::ActivationReason;

struct TrayHere : QtTrayShell {  // the desktop's own notification area, as if it had one
    TrayHere() : QtTrayShell(nullptr) {}
    bool available() const override { return true; }
};

// The library holds two tracks and a text file; the window is not shown yet.
class FrmMainTest : public ::testing::Test {
protected:
    FrmMainTest()
    {
        QDir(server.work.path()).mkdir("Sub");
        for (const char* name : {"a.mp3", "Sub/b.mp3", "notes.txt"})
            QFile(server.work.filePath(name)).open(QIODevice::WriteOnly);
        server.settings.save(kAppName, kSettingsSection, kDirKey, server.work.path().toStdString());
        server.settings.save(kAppName, kSettingsSection, kPortKeyWritten, "4711");
    }
    template <typename Control = QWidget>
    Control* control(const char* name) { return window.findChild<Control*>(QString::fromLatin1(name)); }

    FakeServer server;
    TrayHere tray;
    frmMain window{{.controller = server.controller, .trackList = server.lstFiles, .trayShell = &tray}};
    QListView* list = control<QListView>("lstFiles");
};

TEST_F(FrmMainTest, LaidOutAsDesignedWithItsFocusGoingRoundInTheDesignedOrder)
{
    EXPECT_EQ(window.size(), QSize(700, 309));
    for (const auto& [name, caption, geometry] : {
             std::tuple{"cmdDir", "Change Dir", QRect(0, 0, 77, 23)}, {"cmdPort", "Change Port", {78, 0, 77, 23}},
             {"cmdRandomize", "Randomize", {0, 24, 77, 23}}, {"cmdExit", "Exit", {78, 24, 77, 23}},
             {"lstFiles", "", {0, 46, 701, 264}}, {"Media", "", {158, 0, 541, 45}}}) {
        ASSERT_NE(control(name), nullptr) << name;
        const auto* button = qobject_cast<QAbstractButton*>(control(name));
        EXPECT_EQ(std::pair(control(name)->geometry(), button ? button->text() : ""),
                  std::pair(geometry, QString::fromLatin1(caption))) << name;
    }
    QStringList order = {"Media"};  // and the window's other controls in one round of the focus chain
    for (QWidget* at = control("Media")->nextInFocusChain(); at != control("Media"); at = at->nextInFocusChain())
        if (at->parentWidget() == &window)
            order << at->objectName();
    EXPECT_EQ(order.join(' '), QStringLiteral("Media cmdPort cmdDir cmdExit lstFiles cmdRandomize"));
}

TEST_F(FrmMainTest, ShownItListsTheTracksAndListensOnTheStoredPort)
{
    window.show();
    EXPECT_EQ(std::tuple(server.lstFiles.count(), server.winsock.localPort, server.winsock.state,
                         server.messageBox.shown.size()), std::tuple(2, 4711, SocketState::Listening, size_t(0)));
}

TEST_F(FrmMainTest, ADoubleClickOrEnterPlaysTheRowAndPutsItsTitleInTheCaption)
{
    window.show();
    for (const auto& [name, row, key] : {std::tuple{"a double-click", 1, Qt::Key_unknown},
                                         {"Return", 0, Qt::Key_Return}, {"Enter", 1, Qt::Key_Enter}}) {
        const QModelIndex at = server.lstFiles.index(row, 0);
        if (key != Qt::Key_unknown)
            list->setCurrentIndex(at), QTest::keyClick(list, key);
        else  // the first press of a real double-click makes the row the current one
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(at).center()),
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(at).center());
        const std::string path(server.lstFiles.row(row));
        EXPECT_EQ(std::pair(server.media.opened, window.windowTitle().toStdString()),
                  std::pair(path, "Tallowcrest Server: " + std::string(TrackTitle(path)))) << name;
    }
}

TEST_F(FrmMainTest, TheViewFollowsTheListsSelection)
{
    window.show();
    for (const auto& [name, row] : {std::pair{"the first", 0}, {"the second", 1}, {"none", -1}}) {
        server.lstFiles.setSelectedIndex(row);
        EXPECT_EQ(list->currentIndex().row(), row) << name;
    }
}

TEST_F(FrmMainTest, ChangeDirAndChangePortAskForTheirSetting)
{
    server.prompt.answers = {"/srv/other music/", "8080"};
    control<QAbstractButton>("cmdDir")->click();
    control<QAbstractButton>("cmdPort")->click();
    EXPECT_EQ(server.prompt.asked, (std::vector<std::string>{"Please enter the Local Directory that you wish to use:",
                                                             "Please enter the Local Port that you wish to use:"}));
}

TEST_F(FrmMainTest, RandomizeTurnsShuffleOnAndOffAndAClientHearsEachValue)
{
    server.connectClient();
    for (const bool on : {true, false}) {
        control<QAbstractButton>("cmdRandomize")->click();
        EXPECT_EQ(window.controller().ShuffleOn(), on);
    }
    EXPECT_EQ(server.winsock.allSent(), "CODE_13TrueCODE_13False");
}

TEST_F(FrmMainTest, TheStripAndTheListStretchWithTheWindowNeverBelowZero)
{
    window.show();
    for (const auto& [name, client, stripWidth, listSize] :
         {std::tuple{"as designed", QSize(700, 309), 546, QSize(700, 263)}, {"large", {1920, 1000}, 1766, {1920, 954}},
          {"just the buttons", {155, 47}, 1, {155, 1}}, {"smaller than the buttons", {90, 30}, 0, {90, 0}}}) {
        window.resize(client);
        ASSERT_TRUE(SpinUntil([&, client = client] { return window.size() == client; })) << name;
        EXPECT_EQ(std::pair(control("Media")->geometry(), list->geometry()),
                  std::pair(QRect(158, 0, stripWidth, 45), QRect(QPoint(0, 46), listSize))) << name;
    }
}

TEST_F(FrmMainTest, RestoredBeforeItIsHiddenItStaysShownWithNoIcon)
{
    window.show();
    window.setWindowState(Qt::WindowMinimized);
    window.setWindowState(Qt::WindowNoState);
    SpinFor(50);
    EXPECT_TRUE(window.isVisible() && !window.shellIcon().iconAdded());
}

// A release of the left button is followed by a single click of the icon, which leaves the window as it is.
TEST_F(FrmMainTest, MinimisedItWaitsInTheTrayUntilTheIconIsClicked)
{
    window.show();
    int singleClicks = 0;
    window.shellIcon().events.SingleClick = [&](int) { ++singleClicks; };
    const auto code = [&](int code) { return [&, code] { window.shellIcon().mouseCallback(code); }; };
    const auto click = [&](Reason reason) { return [&, reason] { emit tray.trayIcon().activated(reason); }; };
    const std::tuple<const char*, std::function<void()>, bool, int> rows[] = {
        {"a move", code(512), false, 0}, {"a left press", code(513), false, 0}, {"a right press", code(516), false, 0},
        {"a middle click", click(Reason::MiddleClick), false, 0}, {"a left click", click(Reason::Trigger), true, 1},
        {"a right click", click(Reason::Context), true, 1}, {"a double click", click(Reason::DoubleClick), true, 2}};
    for (const auto& [name, act, restores, singleClicksAfter] : rows) {
        if (window.isVisible()) {
            window.setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
            ASSERT_TRUE(SpinUntil([&] { return !window.isVisible(); })) << name;
            EXPECT_TRUE(tray.trayIcon().isVisible() && tray.trayIcon().toolTip().isEmpty()) << name;
        }
        act();
        restores ? (void)SpinUntil([&] { return window.isVisible(); }) : SpinFor(20);
        const bool plain = window.windowState() == Qt::WindowNoState, inTray = tray.trayIcon().isVisible();
        EXPECT_EQ(std::tuple(window.isVisible(), inTray, plain), std::tuple(restores, !restores, restores)) << name;
        const int n = singleClicksAfter;
        EXPECT_TRUE(SpinUntil([&] { return singleClicks == n; }) && window.isVisible() == restores) << name;
    }
}

}  // namespace
}  // namespace tallowcrest::testing
