#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QListView>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <functional>
#include <set>

#include "library/track_scan.h"
#include "playback/qt_media_player.h"
#include "playback/server_controller.h"
#include "remote/winsock.h"
#include "shell/frm_main.h"
#include "shell/frm_main_fakes.h"

namespace tallowcrest {
namespace {

using test::MemorySettings;
using test::RecordingMessageBox;
using test::RecordingSocket;
using test::ScriptedPrompt;

bool RunUntil(const std::function<bool()>& done, int limitMs = 5000)
{
    const QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void Touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

class FrmMainTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(library.isValid());
        Touch(library.filePath("a.mp3"));
        Touch(library.filePath("Sub/b.mp3"));
        Touch(library.filePath("notes.txt"));
        settings.Seed("Dir", library.path().toStdString());
        settings.Seed("Port", "4711");
        // Each window here stands for a fresh start of the program, whose
        // scan buffer begins empty.
        TrackListBuffer.clear();
    }

    std::unique_ptr<frmMain> MakeWindow(ISocket& socket)
    {
        auto window = std::make_unique<frmMain>(
            frmMain::Components{settings, messages, prompt, socket, media});
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

    static void ExpectStretched(frmMain& window, int clientWidth, int clientHeight)
    {
        SCOPED_TRACE(testing::Message() << clientWidth << "x" << clientHeight);
        ASSERT_EQ(window.size(), QSize(clientWidth, clientHeight));
        EXPECT_EQ(Control(window, "Media")->geometry(),
                  QRect(158, 0, std::max(0, clientWidth - 154), 45));
        EXPECT_EQ(Control(window, "lstFiles")->geometry(),
                  QRect(0, 46, clientWidth, std::max(0, clientHeight - 46)));
        EXPECT_EQ(Control(window, "cmdExit")->geometry(), QRect(78, 24, 77, 23));
    }

    QTemporaryDir library;
    MemorySettings settings;
    RecordingMessageBox messages;
    ScriptedPrompt prompt;
    RecordingSocket socket;
    QtMediaPlayer media;
};

TEST_F(FrmMainTest, ControlsCarryTheirNamesCaptionsAndPlaces)
{
    auto window = MakeWindow(socket);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tallowcrest Server"));
    EXPECT_EQ(window->size(), QSize(700, 309));
    for (int side : {16, 32, 48})
        EXPECT_TRUE(window->windowIcon().availableSizes().contains(QSize(side, side))) << side;

    struct Button {
        const char* name;
        const char* caption;
        QRect geometry;
    };
    for (const Button& expected : {Button{"cmdDir", "Change Dir", {0, 0, 77, 23}},
                                   Button{"cmdPort", "Change Port", {78, 0, 77, 23}},
                                   Button{"cmdRandomize", "Randomize", {0, 24, 77, 23}},
                                   Button{"cmdExit", "Exit", {78, 24, 77, 23}}}) {
        auto* button = Control<QPushButton>(*window, expected.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString::fromLatin1(expected.caption));
        EXPECT_EQ(button->geometry(), expected.geometry) << expected.name;
    }

    auto* list = Control<QListView>(*window, "lstFiles");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->geometry(), QRect(0, 46, 701, 264));
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_TRUE(list->uniformItemSizes());
    EXPECT_EQ(list->model(), &window->trackList());
    EXPECT_EQ(window->trackList().Count(), 0);

    EXPECT_EQ(Control(*window, "Media")->geometry(), QRect(158, 0, 541, 45));
}

TEST_F(FrmMainTest, TabOrderRunsStripPortDirExitListRandomize)
{
    auto window = MakeWindow(socket);
    const std::set<QString> tabStops = {"Media", "cmdPort", "cmdDir", "cmdExit", "lstFiles",
                                        "cmdRandomize"};
    QWidget* const start = Control(*window, "Media");
    ASSERT_NE(start, nullptr);
    std::vector<QString> order;
    QWidget* at = start;
    do {
        QString name;
        const bool tabStop = at->focusPolicy() & Qt::TabFocus;
        for (QWidget* w = at; tabStop && w && w != window.get(); w = w->parentWidget())
            if (tabStops.count(w->objectName()))
                name = w->objectName();
        if (!name.isEmpty() && (order.empty() || order.back() != name))
            order.push_back(name);
        at = at->nextInFocusChain();
    } while (at != start && order.size() < 20);
    const std::vector<QString> expected = {"Media", "cmdPort", "cmdDir", "cmdExit", "lstFiles",
                                           "cmdRandomize"};
    EXPECT_EQ(order, expected);
}

TEST_F(FrmMainTest, FirstShowLoadsBeforeTheWindowAppearsAndOnlyOnce)
{
    auto window = MakeWindow(socket);
    EXPECT_TRUE(socket.ports.empty()) << "nothing may start before the window is shown";

    window->show();
    const TrackListModel& rows = window->trackList();
    ASSERT_EQ(rows.Count(), 2);
    const std::set<std::string> listed = {rows.Row(0), rows.Row(1)};
    const std::string folder = library.path().toStdString();
    EXPECT_EQ(listed, (std::set<std::string>{folder + "/a.mp3", folder + "/Sub/b.mp3"}));
    EXPECT_EQ(socket.ports, std::vector<int32_t>{4711});
    EXPECT_EQ(socket.listens, 1);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(window->controller().MediaFolder(), folder);
    ExpectStretched(*window, 700, 309);

    window->hide();
    window->show();
    EXPECT_EQ(socket.listens, 1);
    EXPECT_EQ(window->trackList().Count(), 2);
}

TEST_F(FrmMainTest, WithoutAStoredFolderTheInvalidPathBoxComesOnceBeforeTheWindowAndListeningGoesOn)
{
    settings.values.clear();
    auto window = MakeWindow(socket);
    window->show();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].title, "Invalid path");
    EXPECT_EQ(messages.shown[0].text, "Please click the 'Set Dir' button and enter a valid directory.");
    EXPECT_FALSE(messages.shown[0].windowVisible);
    EXPECT_EQ(window->trackList().Count(), 0);
    EXPECT_EQ(window->controller().MediaFolder(), "not set");
    EXPECT_EQ(socket.ports, std::vector<int32_t>{9999});
    EXPECT_EQ(socket.listens, 1);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(FrmMainTest, ResizingStretchesStripAndListAndClampsAtZero)
{
    auto window = MakeWindow(socket);
    window->show();
    ExpectStretched(*window, 700, 309);
    for (QSize client : {QSize(1920, 1000), QSize(100, 30), QSize(154, 46), QSize(700, 309)}) {
        window->resize(client);
        RunUntil([&] { return window->size() == client; });
        ExpectStretched(*window, client.width(), client.height());
    }
}

TEST_F(FrmMainTest, ChangeDirAndChangePortButtonsPromptAndStore)
{
    auto window = MakeWindow(socket);
    window->show();
    prompt.answers = {"/srv/other music/", "8080"};

    Control<QPushButton>(*window, "cmdDir")->click();
    ASSERT_EQ(prompt.asked.size(), 1u);
    EXPECT_EQ(prompt.asked[0], "Please enter the Local Directory that you wish to use:");
    EXPECT_EQ(settings.Stored("Dir"), "/srv/other music/");
    EXPECT_EQ(window->controller().MediaFolder(), "/srv/other music/");
    EXPECT_EQ(window->trackList().Count(), 2) << "the list is not reloaded";

    Control<QPushButton>(*window, "cmdPort")->click();
    ASSERT_EQ(prompt.asked.size(), 2u);
    EXPECT_EQ(prompt.asked[1], "Please enter the Local Port that you wish to use:");
    EXPECT_EQ(settings.Stored("port"), "8080");
    EXPECT_EQ(socket.ports, std::vector<int32_t>{4711}) << "the new port waits for a restart";

    Control<QPushButton>(*window, "cmdRandomize")->click();
    Control<QPushButton>(*window, "cmdRandomize")->click();
    EXPECT_EQ(prompt.asked.size(), 2u);
}

TEST_F(FrmMainTest, ListViewAndTrackListAgreeOnTheSelectionBothWays)
{
    auto window = MakeWindow(socket);
    window->show();
    auto* list = Control<QListView>(*window, "lstFiles");
    TrackListModel& rows = window->trackList();
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

quint16 FreeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

TEST_F(FrmMainTest, RealSocketEventsReachTheServerAndTheCaptionFollowsTheTrack)
{
    const quint16 port = FreeLoopbackPort();
    ASSERT_NE(port, 0);
    settings.Seed("Port", std::to_string(port));
    Winsock winsock;
    auto window = MakeWindow(winsock);
    window->show();
    ASSERT_EQ(winsock.State(), ISocket::Listening);

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(RunUntil([&] { return winsock.State() == ISocket::Connected; }));

    const QByteArray track = QFile::encodeName(library.filePath("Sub/b.mp3"));
    client.write("01" + track);
    QByteArray reply;
    ASSERT_TRUE(RunUntil([&] {
        reply += client.readAll();
        return reply.contains("CODE_11");
    })) << reply.toStdString();
    EXPECT_TRUE(reply.startsWith("CODE_11b")) << reply.toStdString();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tallowcrest Server: b"));

    client.disconnectFromHost();
    EXPECT_TRUE(RunUntil([&] { return winsock.State() == ISocket::Listening; }))
        << "after the client leaves the server listens again";
}

}  // namespace
}  // namespace tallowcrest
