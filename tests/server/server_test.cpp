#include "library/track_list_model.h"
#include "server/folder_prescan.h"
#include "server/qt_settings_store.h"
#include "server/server_controller.h"
#include "support/fakes.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {

// The window's logic with fake components and the real settings file.
class ServerTest : public ::testing::Test {
protected:
    ServerController& controller(FolderPrescan* prescan = nullptr)
    {
        if (!m_controller)
            m_controller = std::make_unique<ServerController>(ServerController::Components{
                m_store, m_list, m_box, m_prompt, m_socket, m_player, prescan,
                [this] { return m_work.filePath("tracks.temp").toStdString(); }});
        return *m_controller;
    }
    std::string file(const QString& relative)
    {
        QDir(m_work.path()).mkpath(QFileInfo(relative).path());
        QFile(m_work.filePath(relative)).open(QIODevice::WriteOnly);
        return path(relative);
    }
    std::string path(const QString& relative) const { return m_work.filePath(relative).toStdString(); }

    IsolatedSettings m_isolation;
    QTemporaryDir m_work;
    QtSettingsStore m_store;
    TrackListModel m_list;
    RecordingMessageBox m_box;
    ScriptedPrompt m_prompt;
    FakeSocket m_socket;
    FakePlayer m_player;
    std::unique_ptr<ServerController> m_controller;
};

TEST_F(ServerTest, StartUpPromptsTheListRequestAndTheNextStartWithTheScanMadeMeanwhile)
{
    controller().Form_Load();
    EXPECT_EQ(controller().MediaFolder(), "not set");
    const auto box = [this](std::size_t i) { return m_box.shown.at(i).title + ": " + m_box.shown.at(i).text; };
    EXPECT_EQ(box(0), "Invalid path: Please click the 'Set Dir' button and enter a valid directory.");
    EXPECT_EQ(std::pair(m_socket.localPort, m_socket.state), std::pair(9999, SocketState::Listening));

    m_store.save(kAppName, kSettingsSection, "PORT", "1");  // written by hand in another case
    m_prompt.answers = {"12345", "", path("missing"), path("lib")};
    controller().cmdPort_Click();
    controller().cmdDir_Click();
    QFile stored(m_isolation.filePath());
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), "[Settings]\nDir=\nPort=12345\n") << "one key whatever its case, an empty answer too";

    // A list request prompts until the folder exists and holds what arrives meanwhile.
    const std::string track = file("lib/Artist/t.mp3");
    m_socket.state = SocketState::Connected;
    m_prompt.onAsk = [this] {
        EXPECT_TRUE(m_socket.sent.empty()) << "nothing goes out before a folder is usable";
        if (m_prompt.asked.size() == 3) {
            m_socket.incoming = "02";
            emit m_socket.dataArrival();
        }
    };
    m_socket.incoming = "00";
    emit m_socket.dataArrival();
    EXPECT_EQ(m_socket.sent, (std::vector<std::string>{"START", track + "\r\n", "END", "CODE_12"}));
    EXPECT_EQ(m_prompt.asked.size(), 4u) << "the port, then the folder till it exists";
    EXPECT_EQ(m_list.count(), 1);
    // A client lost half-way ends the request: the list is not refilled and its file is gone.
    for (int i = 0; i < 10; ++i)
        file(QString("lib/track %1.mp3").arg(i));
    m_socket.sent.clear();
    m_socket.sendsBeforeFailure = 1;
    m_socket.incoming = "00";
    emit m_socket.dataArrival();
    EXPECT_EQ(m_socket.sent, std::vector<std::string>{"START"});
    EXPECT_EQ(m_list.count(), 1);
    EXPECT_FALSE(QFile::exists(m_work.filePath("tracks.temp")));

    // The next start takes the new port and the scan made meanwhile, if it is of the same folder.
    FolderPrescan prescan(m_store);
    QThread::msleep(500);  // ample for a scan of eleven files
    file("lib/b.mp3");
    m_controller.reset();
    controller(&prescan).Form_Load();
    EXPECT_EQ(std::pair(m_socket.localPort, m_list.count()), std::pair(12345, 11));
    m_store.save(kAppName, kSettingsSection, kDirKey, path("lib/"));
    FolderPrescan other(m_store);
    m_store.save(kAppName, kSettingsSection, kDirKey, path("lib"));
    m_controller.reset();
    controller(&other).Form_Load();
    EXPECT_EQ(m_list.count(), 12) << "another folder's scan is not taken";
    emit m_socket.error(10053, "Connection is aborted");
    EXPECT_EQ(box(1), "Error: An error has occurred:\r\nError: 10053\r\nDescription: Connection is aborted");
}

}  // namespace
}  // namespace tallowcrest::testing
