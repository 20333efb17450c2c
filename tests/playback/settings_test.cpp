#include "library/track_list_model.h"
#include "playback/qt_settings_store.h"
#include "playback/server_controller.h"
#include "remote/fakes.h"
#include "support/fake_dialogs.h"
#include "support/isolated_settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {

void WriteText(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QByteArray ReadText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(QtSettingsStore, ValuesRoundTripThroughTheFileAndKeysIgnoreCase)
{
    IsolatedSettings isolation;
    QtSettingsStore store;
    EXPECT_EQ(store.Read(kAppName, kSettingsSection, "Dir", "not set"), "not set");

    store.Save(kAppName, kSettingsSection, "Port", "8080");
    store.Save(kAppName, kSettingsSection, "Dir", "/home/me/Music, Live/");
    EXPECT_EQ(QtSettingsStore().Read(kAppName, kSettingsSection, "port", "9999"), "8080");
    EXPECT_EQ(QtSettingsStore().Read(kAppName, kSettingsSection, "DIR", "not set"), "/home/me/Music, Live/");
    EXPECT_TRUE(ReadText(isolation.FilePath()).contains("[Settings]"));

    store.Save(kAppName, kSettingsSection, "PORT", "");
    EXPECT_EQ(store.Read(kAppName, kSettingsSection, "Port", "9999"), "") << "an empty answer is stored";
    EXPECT_EQ(ReadText(isolation.FilePath()).toLower().count("port="), 1) << "one key, whatever its case";
}

TEST(QtSettingsStore, ReadsAFileWrittenByHand)
{
    IsolatedSettings isolation;
    WriteText(isolation.FilePath(), "[Settings]\nport=1234\ndir=/srv/music\n");
    QtSettingsStore store;
    EXPECT_EQ(store.Read(kAppName, kSettingsSection, "port", "9999"), "1234");
    EXPECT_EQ(store.Read(kAppName, kSettingsSection, "Dir", "not set"), "/srv/music");
    EXPECT_EQ(store.Read(kAppName, "Other", "Dir", "none"), "none") << "sections are apart";
}

// The window's load sequence and its two buttons, with the real settings file.
class FormLoadTest : public ::testing::Test {
protected:
    ServerController& Controller()
    {
        if (!controller_)
            controller_ = std::make_unique<ServerController>(ServerController::Components{
                store_, list_, box_, prompt_, socket_, player_, [](const std::string&) {}});
        return *controller_;
    }

    IsolatedSettings isolation_;
    QtSettingsStore store_;
    TrackListModel list_;
    RecordingMessageBox box_;
    ScriptedPrompt prompt_;
    RecordingSocket socket_;
    FakePlayer player_;
    std::unique_ptr<ServerController> controller_;
};

TEST_F(FormLoadTest, AnUnusablePortIsReportedAndTheRestKeepsWorking)
{
    const std::vector<std::string> cases = {"", "abc", "70000", "0", "-5"};
    QTemporaryDir music;
    for (const std::string& portText : cases) {
        box_.shown.clear();
        store_.Save(kAppName, kSettingsSection, "Port", portText);
        store_.Save(kAppName, kSettingsSection, "Dir", music.path().toStdString());
        controller_.reset();
        socket_.state = ISocket::Closed;
        Controller().Form_Load();
        ASSERT_EQ(box_.shown.size(), 1u) << portText;
        EXPECT_EQ(box_.shown[0].title, "Error");
        EXPECT_EQ(box_.shown[0].text, "Cannot listen on port \"" + portText +
                                          "\":\r\nthe port must be a whole number from 1 to 65535.");
        EXPECT_EQ(socket_.state, ISocket::Closed);
    }
    prompt_.answers = {"/new"};
    Controller().cmdDir_Click();
    EXPECT_EQ(Controller().MediaFolder(), "/new");
}

TEST_F(FormLoadTest, APortThatCannotBeListenedOnIsReportedWithTheReason)
{
    socket_.listenFailure = "The bound address is already in use";
    store_.Save(kAppName, kSettingsSection, "Port", " 8080 ");
    Controller().Form_Load();
    ASSERT_EQ(box_.shown.size(), 2u);  // the folder, then the port
    EXPECT_EQ(box_.shown[1].title, "Error");
    EXPECT_EQ(box_.shown[1].text, "Cannot listen on port \" 8080 \":\r\nThe bound address is already in use");
    EXPECT_EQ(socket_.localPort, 8080);
}

TEST_F(FormLoadTest, ACancelledChangeDirStoresAndHoldsTheEmptyText)
{
    prompt_.answers = {""};
    Controller().cmdDir_Click();
    EXPECT_EQ(Controller().MediaFolder(), "");
    EXPECT_EQ(QtSettingsStore().Read(kAppName, kSettingsSection, "Dir", "x"), "");
}

TEST_F(FormLoadTest, ChangePortIsStoredForTheNextStartOnly)
{
    Controller().Form_Load();
    prompt_.answers = {"12345"};
    Controller().cmdPort_Click();
    EXPECT_EQ(prompt_.asked.back(), "Please enter the Local Port that you wish to use:");
    EXPECT_EQ(socket_.localPort, 9999) << "the running server keeps its port";
    EXPECT_TRUE(ReadText(isolation_.FilePath()).contains("Port=12345"));

    controller_.reset();
    Controller().Form_Load();
    EXPECT_EQ(socket_.localPort, 12345);
}

TEST_F(FormLoadTest, SocketErrorsShowTheErrorBox)
{
    Controller().Winsock_Error(10053, "Connection is aborted due to timeout or other failure");
    ASSERT_EQ(box_.shown.size(), 1u);
    EXPECT_EQ(box_.shown[0].title, "Error");
    EXPECT_EQ(box_.shown[0].style, MessageStyle::Critical);
    EXPECT_EQ(box_.shown[0].text,
              "An error has occurred:\r\nError: 10053\r\n"
              "Description: Connection is aborted due to timeout or other failure");
}

}  // namespace
}  // namespace tallowcrest::testing
