// The window's logic with fake components and the real settings file:
// start-up, the two prompts, the list request's folder check, errors.
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
    std::vector<std::string> request(const std::string& block)
    {
        m_socket.sent.clear();
        m_socket.incoming = block;
        emit m_socket.dataArrival();
        return m_socket.sent;
    }
    std::string file(const QString& relative)
    {
        const QString path = m_work.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile(path).open(QIODevice::WriteOnly);
        return path.toStdString();
    }
    void save(const char* key, const std::string& value) { m_store.save(kAppName, kSettingsSection, key, value); }
    QByteArray settingsText() const
    {
        QFile in(m_isolation.filePath());
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }

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

TEST_F(ServerTest, SettingsKeepTheirTextAndKeysMatchInAnyCase)
{
    EXPECT_EQ(m_store.read(kAppName, kSettingsSection, "Dir", "not set"), "not set");
    save("Port", "8080");
    save("Dir", "/home/me/Music, Live/");
    save("PORT", "");
    EXPECT_EQ(QtSettingsStore().read(kAppName, kSettingsSection, "port", "9999"), "") << "an empty answer is stored";
    EXPECT_EQ(QtSettingsStore().read(kAppName, kSettingsSection, "DIR", "x"), "/home/me/Music, Live/");
    EXPECT_EQ(settingsText().toLower().count("port="), 1) << "one key, whatever its case";
    EXPECT_TRUE(settingsText().contains("[Settings]"));
    EXPECT_EQ(m_store.read(kAppName, "Other", "Dir", "none"), "none") << "sections are apart";
}

TEST_F(ServerTest, StartUpReportsAMissingFolderOnceAndListensOn9999)
{
    controller().Form_Load();
    EXPECT_EQ(controller().MediaFolder(), "not set");
    ASSERT_EQ(m_box.shown.size(), 1u);
    EXPECT_EQ(m_box.shown[0].title, "Invalid path");
    EXPECT_EQ(m_box.shown[0].text, "Please click the 'Set Dir' button and enter a valid directory.");
    EXPECT_EQ(m_socket.localPort, 9999);
    EXPECT_EQ(m_socket.state, ISocket::Listening);

    // "Change Port" is stored for the next start only; "Change Dir" at once.
    m_prompt.answers = {"12345", ""};
    controller().cmdPort_Click();
    controller().cmdDir_Click();
    EXPECT_EQ(m_prompt.asked, (std::vector<std::string>{"Please enter the Local Port that you wish to use:",
                                                        "Please enter the Local Directory that you wish to use:"}));
    EXPECT_EQ(m_socket.localPort, 9999);
    EXPECT_EQ(controller().MediaFolder(), "");
    EXPECT_TRUE(settingsText().contains("Port=12345"));
    m_controller.reset();
    controller().Form_Load();
    EXPECT_EQ(m_socket.localPort, 12345);
}

TEST_F(ServerTest, StartUpTakesTheScanMadeMeanwhileOnlyWhenItIsOfTheSameFolder)
{
    const std::string a = file("lib/a.mp3");
    save("Dir", m_work.filePath("lib").toStdString());
    FolderPrescan prescan(m_store);
    QThread::msleep(500);  // ample for a scan of one file
    file("lib/b.mp3");  // too late for the scan made at program start
    controller(&prescan).Form_Load();
    EXPECT_EQ(m_list.Count(), 1);
    EXPECT_EQ(m_list.Row(0), a);

    save("Dir", m_work.filePath("lib/").toStdString());
    FolderPrescan other(m_store);
    save("Dir", m_work.filePath("lib").toStdString());
    m_controller.reset();
    controller(&other).Form_Load();
    EXPECT_EQ(m_list.Count(), 2) << "another folder's scan is not taken";
    EXPECT_TRUE(m_box.shown.empty());
}

TEST_F(ServerTest, TheListRequestPromptsUntilTheFolderExistsAndHoldsOtherBlocksMeanwhile)
{
    const std::string track = file("lib/Artist/t.mp3");
    m_socket.state = ISocket::Connected;
    m_prompt.answers = {"", m_work.filePath("missing").toStdString(), m_work.filePath("lib").toStdString()};
    m_prompt.onAsk = [this] {
        EXPECT_TRUE(m_socket.sent.empty()) << "nothing goes out before a folder is usable";
        if (m_prompt.asked.size() == 1) {
            m_socket.incoming = "02";  // arrives while the prompt is up
            emit m_socket.dataArrival();
        }
    };
    controller();
    EXPECT_EQ(request("00"), (std::vector<std::string>{"START", track + "\r\n", "END", "CODE_12"}));
    EXPECT_EQ(m_prompt.asked.size(), 3u);
    EXPECT_EQ(controller().MediaFolder(), m_work.filePath("lib").toStdString());
    EXPECT_EQ(m_socket.holds, std::vector<int>{200});
    EXPECT_EQ(m_list.Count(), 1);

    // A client lost half-way ends the request: the list is not refilled.
    for (int i = 0; i < 10; ++i)
        file(QString("lib/track %1.mp3").arg(i));
    m_socket.sendsBeforeFailure = 1;
    EXPECT_EQ(request("00"), std::vector<std::string>{"START"});
    EXPECT_EQ(m_list.Count(), 1);
    m_socket.sendsBeforeFailure = -1;
    EXPECT_EQ(request("02"), std::vector<std::string>{"CODE_12"}) << "the next request is served";
}

TEST_F(ServerTest, SocketErrorsShowTheErrorBox)
{
    controller();
    emit m_socket.error(10053, "Connection is aborted");
    ASSERT_EQ(m_box.shown.size(), 1u);
    EXPECT_EQ(m_box.shown[0].title, "Error");
    EXPECT_EQ(m_box.shown[0].text, "An error has occurred:\r\nError: 10053\r\nDescription: Connection is aborted");
}

}  // namespace
}  // namespace tallowcrest::testing
