#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QListView>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <set>

#include "library/track_scan.h"
#include "playback/qt_media_player.h"
#include "playback/qt_settings_store.h"
#include "playback/server_controller.h"
#include "remote/winsock.h"
#include "shell/dialogs.h"
#include "shell/frm_main.h"
#include "support/spin.h"
#include "support/isolated_settings.h"
#include "support/test_client.h"

namespace tallowcrest {
namespace {

// Records each box as "title|text", marked when the window was already up.
struct RecordingMessageBox : IMessageBox {
    void Show(const std::string& text, const std::string& title, MessageStyle) override
    {
        shown.push_back(title + "|" + text + (window->isVisible() ? "|over the window" : ""));
    }
    QWidget* window = nullptr;
    std::vector<std::string> shown;
};

struct ScriptedPrompt : IPrompt {
    std::string Ask(const std::string& message) override
    {
        asked.push_back(message);
        return asked.size() <= answers.size() ? answers[asked.size() - 1] : "";
    }
    std::vector<std::string> answers, asked;
};

// Logs what the window asks of its socket; never touches the network.
struct RecordingSocket : ISocket {
    void SetLocalPort(int32_t port) override { calls.push_back("port " + std::to_string(port)); }
    void Listen() override { calls.push_back("listen"); }
    void Accept(int32_t) override {}
    void Close() override {}
    std::string GetData() override { return {}; }
    void SendData(std::string_view) override {}
    int State() const override { return calls.empty() ? Closed : Listening; }
    void Hold(int) override {}
    std::vector<std::string> calls;
};

class FrmMainTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"a.mp3", "Sub/b.mp3", "notes.txt"}) {
            const QString path = library.filePath(QString::fromLatin1(name));
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << name;
        }
        Store("Dir", library.path().toStdString());
        Store("Port", "4711");
        // Each window stands for a fresh start of the program, whose scan
        // buffer begins empty.
        TrackListBuffer.clear();
    }

    void Store(const std::string& key, const std::string& value) { settings.Save(kAppName, kSettingsSection, key, value); }
    std::string Stored(const std::string& key) { return settings.Read(kAppName, kSettingsSection, key, "<absent>"); }

    std::unique_ptr<frmMain> MakeWindow(ISocket& winsock)
    {
        auto window = std::make_unique<frmMain>(frmMain::Components{settings, messages, prompt, winsock, media});
        messages.window = window.get();
        return window;
    }

    template <typename T = QWidget>
    static T* Control(frmMain& window, const char* name)
    {
        T* control = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    QTemporaryDir library;
    testing::IsolatedSettings isolation;
    QtSettingsStore settings;
    RecordingMessageBox messages;
    ScriptedPrompt prompt;
    RecordingSocket socket;
    QtMediaPlayer media;
};

TEST_F(FrmMainTest, ControlsCarryTheirCaptionsPlacesAndTabOrder)
{
    auto window = MakeWindow(socket);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tallowcrest Server"));
    EXPECT_EQ(window->size(), QSize(700, 309));
    const struct {
        const char* name;
        const char* caption;  // nullptr: not a button
        QRect geometry;
    } controls[] = {
        {"cmdDir", "Change Dir", {0, 0, 77, 23}},       {"cmdPort", "Change Port", {78, 0, 77, 23}},
        {"cmdRandomize", "Randomize", {0, 24, 77, 23}}, {"cmdExit", "Exit", {78, 24, 77, 23}},
        {"lstFiles", nullptr, {0, 46, 701, 264}},       {"Media", nullptr, {158, 0, 541, 45}},
    };
    for (const auto& expected : controls) {
        SCOPED_TRACE(expected.name);
        QWidget* control = Control(*window, expected.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->geometry(), expected.geometry);
        if (expected.caption)
            EXPECT_EQ(qobject_cast<QAbstractButton*>(control)->text(), QString::fromLatin1(expected.caption));
    }
    EXPECT_EQ(Control<QListView>(*window, "lstFiles")->selectionMode(), QAbstractItemView::SingleSelection);

    // One round of the focus chain, each tab stop named by the window's
    // control it lies in (the strip's stops are its own buttons).
    QStringList order;
    QWidget* const start = Control(*window, "Media");
    QWidget* at = start;
    do {
        QWidget* control = at;
        while (control->parentWidget() && control->parentWidget() != window.get())
            control = control->parentWidget();
        if ((at->focusPolicy() & Qt::TabFocus) && (order.isEmpty() || order.last() != control->objectName()))
            order.push_back(control->objectName());
        at = at->nextInFocusChain();
    } while (at != start && order.size() < 20);
    EXPECT_EQ(order.join(" ").toStdString(), "Media cmdPort cmdDir cmdExit lstFiles cmdRandomize");
}

TEST_F(FrmMainTest, FirstShowLoadsBeforeTheWindowAppearsAndOnlyOnce)
{
    auto window = MakeWindow(socket);
    EXPECT_TRUE(socket.calls.empty()) << "nothing may start before the window is shown";
    window->show();
    const TrackListModel& rows = window->trackList();
    ASSERT_EQ(rows.Count(), 2);
    const std::string folder = library.path().toStdString();
    EXPECT_EQ((std::set<std::string>{rows.Row(0), rows.Row(1)}),
              (std::set<std::string>{folder + "/a.mp3", folder + "/Sub/b.mp3"}));
    EXPECT_EQ(window->controller().MediaFolder(), folder);
    EXPECT_TRUE(messages.shown.empty());

    window->hide();
    window->show();
    EXPECT_EQ(socket.calls, (std::vector<std::string>{"port 4711", "listen"}));
    EXPECT_EQ(window->trackList().Count(), 2);
}

TEST_F(FrmMainTest, WithoutAStoredFolderTheInvalidPathBoxComesOnceBeforeTheWindowAndListeningGoesOn)
{
    testing::IsolatedSettings firstStart;  // nothing stored yet
    auto window = MakeWindow(socket);
    window->show();
    EXPECT_EQ(messages.shown, std::vector<std::string>{
                                  "Invalid path|Please click the 'Set Dir' button and enter a valid directory."});
    EXPECT_EQ(window->trackList().Count(), 0);
    EXPECT_EQ(window->controller().MediaFolder(), "not set");
    EXPECT_EQ(socket.calls, (std::vector<std::string>{"port 9999", "listen"}));
    EXPECT_TRUE(window->isVisible());
}

TEST_F(FrmMainTest, ResizingStretchesStripAndListAndClampsAtZero)
{
    auto window = MakeWindow(socket);
    window->show();
    const struct {
        QSize client;
        int stripWidth;
        QSize list;
    } cases[] = {
        {{700, 309}, 546, {700, 263}},      // as designed, once shown
        {{1920, 1000}, 1766, {1920, 954}},  // maximised
        {{155, 47}, 1, {155, 1}},
        {{154, 46}, 0, {154, 0}},
        {{100, 30}, 0, {100, 0}},           // smaller than the buttons: clamped
    };
    for (const auto& expected : cases) {
        SCOPED_TRACE(::testing::Message() << expected.client.width() << "x" << expected.client.height());
        window->resize(expected.client);
        ASSERT_TRUE(SpinUntil([&] { return window->size() == expected.client; }));
        EXPECT_EQ(Control(*window, "Media")->geometry(), QRect(158, 0, expected.stripWidth, 45));
        EXPECT_EQ(Control(*window, "lstFiles")->geometry(), QRect(QPoint(0, 46), expected.list));
        EXPECT_EQ(Control(*window, "cmdExit")->geometry(), QRect(78, 24, 77, 23));
    }
}

TEST_F(FrmMainTest, ChangeDirAndChangePortButtonsPromptAndStore)
{
    auto window = MakeWindow(socket);
    window->show();
    prompt.answers = {"/srv/other music/", "8080"};

    Control<QAbstractButton>(*window, "cmdDir")->click();
    EXPECT_EQ(Stored("Dir"), "/srv/other music/");
    EXPECT_EQ(window->controller().MediaFolder(), "/srv/other music/");
    EXPECT_EQ(window->trackList().Count(), 2) << "the list is not reloaded";

    Control<QAbstractButton>(*window, "cmdPort")->click();
    EXPECT_EQ(Stored("Port"), "8080");
    EXPECT_EQ(socket.calls, (std::vector<std::string>{"port 4711", "listen"})) << "the new port waits for a restart";

    Control<QAbstractButton>(*window, "cmdRandomize")->click();
    EXPECT_EQ(prompt.asked, (std::vector<std::string>{"Please enter the Local Directory that you wish to use:",
                                                      "Please enter the Local Port that you wish to use:"}));
}

TEST_F(FrmMainTest, ListViewAndTrackListAgreeOnTheSelectionBothWays)
{
    auto window = MakeWindow(socket);
    window->show();
    auto* list = Control<QListView>(*window, "lstFiles");
    TrackListModel& rows = window->trackList();
    ASSERT_EQ(list->model(), &rows);
    ASSERT_EQ(rows.Count(), 2);

    rows.SetSelectedIndex(1);
    EXPECT_EQ(list->currentIndex().row(), 1);
    EXPECT_TRUE(list->selectionModel()->isRowSelected(1, {}));

    list->setCurrentIndex(rows.index(0, 0));
    EXPECT_EQ(rows.SelectedIndex(), 0);
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 1);

    rows.SetSelectedIndex(-1);
    EXPECT_TRUE(list->selectionModel()->selectedRows().isEmpty());
    EXPECT_FALSE(list->currentIndex().isValid());
}

void SendMouse(QWidget* target, QEvent::Type type, QPoint at)
{
    QMouseEvent event(type, at, target->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

TEST_F(FrmMainTest, DoubleClickOrEnterPlaysTheRowAndRandomizeTogglesShuffle)
{
    auto window = MakeWindow(socket);
    window->show();
    auto* list = Control<QListView>(*window, "lstFiles");
    TrackListModel& rows = window->trackList();
    ASSERT_EQ(rows.Count(), 2);

    // The press of a double-click selects the row under the pointer.
    const QPoint onSecondRow = list->visualRect(rows.index(1, 0)).center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                              QEvent::MouseButtonRelease})
        SendMouse(list->viewport(), type, onSecondRow);
    EXPECT_EQ(rows.SelectedIndex(), 1);
    EXPECT_EQ(media.FileName(), rows.Row(1));
    EXPECT_EQ(window->windowTitle().toStdString(), "Tallowcrest Server: " + TrackTitle(rows.Row(1)));

    rows.SetSelectedIndex(0);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(list, &enter);
    EXPECT_EQ(media.FileName(), rows.Row(0));

    auto* randomize = Control<QAbstractButton>(*window, "cmdRandomize");
    randomize->click();
    EXPECT_TRUE(window->controller().ShuffleOn());
    randomize->click();
    EXPECT_FALSE(window->controller().ShuffleOn());
    EXPECT_EQ(randomize->text(), QStringLiteral("Randomize"));
}

TEST_F(FrmMainTest, RealSocketEventsReachTheServerAndTheCaptionFollowsTheTrack)
{
    const uint16_t port = testing::FreePort();
    Store("Port", std::to_string(port));
    Winsock winsock;
    auto window = MakeWindow(winsock);
    window->show();

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(SpinUntil([&] { return winsock.State() == ISocket::Connected; }));
    client.write("01" + QFile::encodeName(library.filePath("Sub/b.mp3")));
    QByteArray reply;
    ASSERT_TRUE(SpinUntil([&] { return (reply += client.readAll()).contains("CODE_11"); })) << reply.toStdString();
    EXPECT_TRUE(reply.startsWith("CODE_11b")) << reply.toStdString();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tallowcrest Server: b"));

    client.disconnectFromHost();
    EXPECT_TRUE(SpinUntil([&] { return winsock.State() == ISocket::Listening; }))
        << "after the client leaves the server listens again";
}

}  // namespace
}  // namespace tallowcrest
