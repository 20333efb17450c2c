#include "library/track_list_model.h"
#include "library/track_scan.h"
#include "server/qt_settings_store.h"
#include "server/server_controller.h"
#include "shell/frm_main.h"
#include "shell/qt_tray_shell.h"
#include "support/fakes.h"
#include "support/spin.h"

#include <QAbstractButton>
#include <QDir>
#include <QListView>
#include <QTest>

#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {

struct TrayHere : QtTrayShell {  // the desktop's own notification area, as if it had one
    TrayHere() : QtTrayShell(nullptr) {}
    bool available() const override { return true; }
};

class FrmMainTest : public ::testing::Test {
protected:
    FrmMainTest()
    {
        QDir(library.path()).mkdir("Sub");
        for (const char* name : {"a.mp3", "Sub/b.mp3", "notes.txt"})
            QFile(library.filePath(name)).open(QIODevice::WriteOnly);
        settings.save(kAppName, kSettingsSection, kDirKey, library.path().toStdString());
        settings.save(kAppName, kSettingsSection, kPortKeyWritten, "4711");
    }
    template <typename Control = QWidget>
    Control* control(const char* name) { return window.findChild<Control*>(QString::fromLatin1(name)); }

    QTemporaryDir library;
    IsolatedSettings isolation;
    QtSettingsStore settings;
    RecordingMessageBox messageBox;
    ScriptedPrompt prompt;
    FakeSocket winsock;
    FakePlayer media;
    TrayHere tray;
    TrackListModel rows;
    ServerController controller{{.settings = settings, .lstFiles = rows, .messageBox = messageBox, .prompt = prompt,
                                 .winsock = winsock, .media = media}};
    frmMain window{{.controller = controller, .trackList = rows, .trayShell = &tray}};
};

TEST_F(FrmMainTest, LaidOutAsDesignedItListsListensAndPassesOnRowsKeysButtonsAndTrayClicks)
{
    EXPECT_EQ(window.size(), QSize(700, 309));
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
    QStringList order = {"Media"};  // and the window's other controls in one round of the focus chain
    for (QWidget* at = control("Media")->nextInFocusChain(); at != control("Media"); at = at->nextInFocusChain())
        if (at->parentWidget() == &window)
            order << at->objectName();
    EXPECT_EQ(order.join(' '), QStringLiteral("Media cmdPort cmdDir cmdExit lstFiles cmdRandomize"));

    window.show();
    EXPECT_EQ(std::tuple(rows.count(), winsock.localPort, winsock.state, messageBox.shown.size()),
              std::tuple(2, 4711, SocketState::Listening, size_t(0)));
    auto* list = control<QListView>("lstFiles");
    const QPoint title = list->visualRect(rows.index(1, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, title);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, title);
    EXPECT_EQ(media.opened, rows.row(1));
    EXPECT_EQ(window.windowTitle().toStdString(), "Tallowcrest Server: " + std::string(TrackTitle(rows.row(1))));
    for (const auto& [key, row] : {std::pair(Qt::Key_Return, 0), std::pair(Qt::Key_Enter, 1)}) {
        list->setCurrentIndex(rows.index(row, 0));
        QTest::keyClick(list, key);
        EXPECT_EQ(media.opened, rows.row(row)) << key;
    }
    rows.setSelectedIndex(0);
    EXPECT_EQ(list->currentIndex().row(), 0) << "the view follows the list's selection";
    prompt.answers = {"/srv/other music/", "8080"};
    control<QAbstractButton>("cmdDir")->click();
    control<QAbstractButton>("cmdPort")->click();
    EXPECT_EQ(prompt.asked, (std::vector<std::string>{"Please enter the Local Directory that you wish to use:",
                                                      "Please enter the Local Port that you wish to use:"}));
    winsock.state = SocketState::Connected;  // a client hears each new value
    for (const bool on : {true, false}) {
        control<QAbstractButton>("cmdRandomize")->click();
        EXPECT_EQ(window.controller().ShuffleOn(), on);
    }
    EXPECT_EQ(winsock.allSent(), "CODE_13TrueCODE_13False");

    // The strip and the list stretch with the window, never below zero.
    const std::tuple<QSize, int, QSize> sizes[] = {
        {{700, 309}, 546, {700, 263}}, {{1920, 1000}, 1766, {1920, 954}}, {{155, 47}, 1, {155, 1}},
        {{90, 30}, 0, {90, 0}}};
    for (const auto& [client, stripWidth, listSize] : sizes) {
        window.resize(client);
        const QSize wanted = client;
        ASSERT_TRUE(SpinUntil([&] { return window.size() == wanted; }));
        EXPECT_EQ(std::pair(control("Media")->geometry(), list->geometry()),
                  std::pair(QRect(158, 0, stripWidth, 45), QRect(QPoint(0, 46), listSize)));
    }

    // Minimised, it hides behind a tray icon that any click turns back into the window.
    window.setWindowState(Qt::WindowMinimized);
    window.setWindowState(Qt::WindowNoState);
    SpinFor(50);
    EXPECT_TRUE(window.isVisible() && !window.shellIcon().iconAdded()) << "restored before it was hidden";
    int singleClicks = 0;
    window.shellIcon().events.SingleClick = [&](int) { ++singleClicks; };
    using Reason = QSystemTrayIcon::ActivationReason;
    const std::pair<Reason, std::vector<int>> clicks[] = {
        {Reason::Trigger, {513, 514}}, {Reason::Context, {516, 517}}, {Reason::DoubleClick, {515, 514}}};
    for (const auto& [reason, codes] : clicks) {
        EXPECT_EQ(QtTrayShell::mouseCodes(reason), codes);
        window.setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
        ASSERT_TRUE(SpinUntil([&] { return !window.isVisible(); })) << reason;
        EXPECT_TRUE(tray.trayIcon().isVisible() && tray.trayIcon().toolTip().isEmpty());
        for (const int code : {512, 513, 516})
            window.shellIcon().mouseCallback(code);
        emit tray.trayIcon().activated(Reason::MiddleClick);
        SpinFor(20);
        EXPECT_FALSE(window.isVisible()) << "moving, pressing and a middle click do nothing";
        emit tray.trayIcon().activated(reason);
        ASSERT_TRUE(SpinUntil([&] { return window.isVisible(); })) << reason;
        EXPECT_EQ(window.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), Qt::WindowNoState);
        EXPECT_FALSE(tray.trayIcon().isVisible());
        SpinFor(600);  // past the single-click interval: the next press starts afresh
    }
    EXPECT_TRUE(SpinUntil([&] { return singleClicks > 0; }, 5000) && window.isVisible()) << "a late single click";
}

}  // namespace
}  // namespace tallowcrest::testing
