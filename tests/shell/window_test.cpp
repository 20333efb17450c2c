// The main window and its player strip over the window's logic as the start-up builds it, with a tray of its own.
#include "library/track_scan.h"
#include "shell/frm_main.h"
#include "shell/qt_tray_shell.h"
#include "support/fake_server.h"
#include "support/spin.h"
#include <QAbstractButton>
#include <QLabel>
#include <QListView>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {
using Reason = QSystemTrayIcon::ActivationReason;
using Status = IMediaPlayer::PlaybackState;
struct TrayHere : QtTrayShell {  // the desktop's own notification area, as if it had one
    TrayHere() : QtTrayShell(nullptr) {}
    bool available() const override { return true; }
};
// The folder holds two tracks and a text file, all three listed until the window is shown and loads it.
class FrmMainTest : public ::testing::Test {
protected:
    FrmMainTest()
    {
        server.fillList({"a.mp3", "Sub/b.mp3", "notes.txt"});
        server.settings.save(kAppName, kSettingsSection, kDirKey, server.work.path().toStdString());
        server.settings.save(kAppName, kSettingsSection, kPortKeyWritten, "4711");
    }
    template <typename Control = QWidget>
    Control* control(const char* name) { return window.findChild<Control*>(QString::fromLatin1(name)); }
    template <typename Control = QToolButton>
    Control* inStrip(const char* accessibleName)
    {
        const auto all = control("Media")->findChildren<Control*>();
        const auto named = std::ranges::find_if(all, [&](Control* c) { return c->accessibleName() == accessibleName; });
        return all.value(named - all.begin());
    }
    void enter(const char* file, Status status, qint64 position = 0, qint64 length = 0)
    {
        FakePlayer& media = server.media;
        media.opened = file, media.state = status, media.positionMs = position, media.durationMs = length;
        emit media.stateChanged(), emit media.durationChanged(length), emit media.positionChanged(position);
        media.calls.clear();
    }
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
        const QPoint at = list->visualRect(server.lstFiles.index(row, 0)).center();
        if (key != Qt::Key_unknown)
            list->setCurrentIndex(server.lstFiles.index(row, 0)), QTest::keyClick(list, key);
        else  // the first press of a real double-click makes the row the current one
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at),
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
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
// Change Dir and Change Port ask for their setting; Randomize turns shuffle on and off, and a client hears it.
TEST_F(FrmMainTest, EachButtonRunsItsHandler)
{
    server.connectClient();
    server.prompt.answers = {"/srv/other music/", "8080"};
    for (const char* button : {"cmdRandomize", "cmdRandomize", "cmdDir", "cmdPort"})
        control<QAbstractButton>(button)->click();
    EXPECT_EQ(server.prompt.asked, (std::vector<std::string>{"Please enter the Local Directory that you wish to use:",
                                                             "Please enter the Local Port that you wish to use:"}));
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
    EXPECT_TRUE(SpinUntil([&] { return !window.shellIcon().iconAdded(); }) && window.isVisible());
}
// Minimised from maximised; a release of the left button is followed by a single click, which changes nothing. The
// mouse codes of each activation are checked with the tray shell's.
TEST_F(FrmMainTest, MinimisedItWaitsInTheTrayUntilTheIconIsClicked)
{
    window.show();
    int singleClicks = 0;
    window.shellIcon().events.SingleClick = [&](int) { ++singleClicks; };
    for (const auto& [name, code, reason, restores, singleClicksAfter] :
         {std::tuple{"a move", 512, Reason::Unknown, false, 0}, {"a left press", 513, Reason::Unknown, false, 0},
          {"a left click", 0, Reason::Trigger, true, 1}, {"a right click", 0, Reason::Context, true, 1},
          {"a double click", 0, Reason::DoubleClick, true, 2}}) {
        if (window.isVisible()) {
            window.setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
            ASSERT_TRUE(SpinUntil([&] { return !window.isVisible(); })) << name;
            EXPECT_TRUE(tray.trayIcon().isVisible() && tray.trayIcon().toolTip().isEmpty()) << name;
        }
        code ? window.shellIcon().mouseCallback(code) : emit tray.trayIcon().activated(reason);
        SpinPosted();
        const bool plain = window.windowState() == Qt::WindowNoState, inTray = tray.trayIcon().isVisible();
        EXPECT_EQ(std::tuple(window.isVisible(), inTray, plain), std::tuple(restores, !restores, restores)) << name;
        const bool clicked = SpinUntil([&, n = singleClicksAfter] { return singleClicks == n; });
        EXPECT_TRUE(clicked && window.isVisible() == restores) << name;
    }
}
// Each button acts on the player; one that cannot act is disabled, and a click on it does nothing.
TEST_F(FrmMainTest, TheStripsButtonsAreEnabledAndActOnThePlayerOnlyWhenTheyCan)
{
    for (const auto& [name, file, status, calls] :
         {std::tuple{"nothing loaded", "", Status::Stopped, std::vector<std::string>{}},
          {"playing", "/m/a.mp3", Status::Playing, {"pause", "stop"}},
          {"paused", "/m/a.mp3", Status::Paused, {"play", "stop"}},
          {"stopped", "/m/a.mp3", Status::Stopped, {"play"}}}) {
        enter(file, status);
        std::vector<std::string> enabled;
        for (const auto& [button, call] : {std::pair{"Play", "play"}, {"Pause", "pause"}, {"Stop", "stop"}}) {
            if (inStrip(button)->isEnabled())
                enabled.push_back(call);
            inStrip(button)->click();
        }
        EXPECT_EQ(std::pair(server.media.calls, enabled), std::pair(calls, calls)) << name;
    }
}
// "m:ss / m:ss"; minutes are not wrapped into hours. The slider moves only within a known length.
TEST_F(FrmMainTest, TheStripsTimeAndSliderFollowPositionAndLength)
{
    auto* slider = inStrip<QSlider>("Position");
    for (const auto& [name, position, length, text, value, enabled] :
         {std::tuple{"nothing known", 0, 0, "0:00 / 0:00", 0, false},
          {"into the track", 61999, 200000, "1:01 / 3:20", 61999, true},
          {"past an hour", 3723000, 4000000, "62:03 / 66:40", 3723000, true},
          {"before the start", -5, 9000, "0:00 / 0:09", 0, true},
          {"past the end", 9500, 9000, "0:09 / 0:09", 9000, true}}) {
        enter("/m/a.mp3", Status::Playing, position, length);
        EXPECT_EQ(std::tuple(inStrip<QLabel>("Time")->text(), slider->value(), slider->maximum(), slider->isEnabled()),
                  std::tuple(QString(text), value, length, enabled)) << name;
    }
}
TEST_F(FrmMainTest, TheStripSeeksAsItsSliderMoves)
{
    enter("/m/a.mp3", Status::Playing, 30000, 200000);
    for (const auto& [name, action, call] : {std::tuple{"a page on", QSlider::SliderPageStepAdd, "seek 50000"},
                                             {"to the start", QSlider::SliderToMinimum, "seek 0"}}) {
        inStrip<QSlider>("Position")->triggerAction(action);
        EXPECT_EQ(server.media.calls.back(), call) << name;
    }
}
TEST_F(FrmMainTest, TheStripWarnsOnceTheSoundPlaysIntoNothing)
{
    auto* warning = inStrip<QLabel>("Warning");
    EXPECT_TRUE(warning->isHidden());
    server.media.noSound = true;
    emit server.media.soundOutputLost();
    EXPECT_EQ(std::pair(warning->isHidden(), warning->text()),
              std::pair(false, QString("No sound output: see the README")));
}
}  // namespace
}  // namespace tallowcrest::testing
