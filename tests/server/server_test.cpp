// The window's logic from start-up on, with fake components and the real settings file; the file itself.
#include "server/folder_prescan.h"
#include "support/fake_server.h"
#include "support/log_capture.h"
#include "support/tagged_mp3.h"
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <filesystem>

namespace tallowcrest::testing {
namespace {
class ServerTest : public ::testing::Test {
protected:
    std::string box() const { return server.messageBox.shown.at(0).title + ": " + server.messageBox.shown.at(0).text; }
    void storeFolder(QString dir) { server.settings.save(kAppName, kSettingsSection, kDirKey, server.path(dir)); }
    FakeServer server;
};
TEST_F(ServerTest, AFirstStartAsksForAFolderAndListensOn9999)
{
    server.controller.Form_Load();
    EXPECT_EQ(server.controller.MediaFolder(), "not set");
    EXPECT_EQ(box(), "Invalid path: Please click the 'Set Dir' button and enter a valid directory.");
    EXPECT_EQ(std::pair(server.winsock.localPort, server.winsock.state), std::pair(9999, SocketState::Listening));
}
TEST_F(ServerTest, PortAndFolderAreStoredUnderOneKeyWhateverItsCase)
{
    server.settings.save(kAppName, kSettingsSection, "PORT", "1");  // written by hand in another case
    server.prompt.answers = {"12345", ""};
    server.controller.cmdPort_Click(), server.controller.cmdDir_Click();
    QFile stored(server.isolation.filePath());
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), "[Settings]\nDir=\nPort=12345\n") << "an empty answer too";
}
TEST_F(ServerTest, AListRequestPromptsUntilTheFolderExistsAndWhatArrivesMeanwhileFollows)
{
    const std::string track = server.file("lib/Artist/t.mp3");
    server.connectClient();
    server.prompt.answers = {"", server.path("missing"), server.path("lib")};
    server.prompt.onAsk = [this] {
        EXPECT_TRUE(server.winsock.sent.empty()) << "nothing goes out before a folder is usable";
        if (server.prompt.asked.size() == 1) {
            server.winsock.incoming = "02";
            emit server.winsock.dataArrival();
        }
    };
    server.winsock.answer("00");
    EXPECT_EQ(server.winsock.sent, (std::vector<std::string>{"START", track + "\r\n", "END", "CODE_12"}));
    EXPECT_EQ(std::pair(server.prompt.asked.size(), server.lstFiles.count()), std::pair(std::size_t(3), 1));
}
TEST_F(ServerTest, AClientLostHalfWayThroughTheListLeavesTheWindowsListAndNoFile)
{
    server.file("lib/first.mp3");
    storeFolder("lib");
    server.controller.Form_Load();
    for (int i = 0; i < 10; ++i)
        server.file(QString("lib/track %1.mp3").arg(i));
    server.connectClient();
    server.winsock.sendsBeforeFailure = 1;
    EXPECT_EQ(server.winsock.answer("00"), "START");
    EXPECT_EQ(server.lstFiles.count(), 1);
    EXPECT_FALSE(QFile::exists(server.work.filePath("tracks.temp")));
}
TEST_F(ServerTest, AStartTakesTheScanMadeMeanwhileOnlyOfTheSameFolder)
{
    server.file("lib/a.mp3");
    storeFolder("lib");
    FolderPrescan prescan(server.settings);
    prescan.wait();
    server.file("lib/b.mp3");
    ServerController taking(server.parts(&prescan));
    taking.Form_Load();
    EXPECT_EQ(server.lstFiles.count(), 1);
    storeFolder("lib/");
    FolderPrescan other(server.settings);
    storeFolder("lib");
    ServerController scanning(server.parts(&other));
    scanning.Form_Load();
    EXPECT_EQ(server.lstFiles.count(), 2) << "another folder's scan is not taken";
}
TEST_F(ServerTest, ASocketErrorIsShownInAnErrorBox)
{
    emit server.winsock.error(10053, "Connection is aborted");
    EXPECT_EQ(box(), "Error: An error has occurred:\r\nError: 10053\r\nDescription: Connection is aborted");
}
// The caption and "01" keep the file name's title; the index's new tags for the playing track are announced once.
TEST(IndexedServer, TagsChangeWhatIsShownButNeitherTheCaptionNorTheWire)
{
    FakeServer server{WithIndex{}};
    const QString lib = server.work.filePath("lib");
    QDir().mkpath(lib);
    const std::string track = MakeTaggedMp3(lib, "file name.mp3", {"Old", "", "", "", ""});
    server.settings.save(kAppName, kSettingsSection, kDirKey, lib.toStdString());
    server.controller.Form_Load();
    ASSERT_TRUE(server.indexed());
    int announced = 0;
    QObject::connect(&server.nowPlaying(), &NowPlaying::changed,
                     [&](NowPlaying::Changes what) { announced += bool(what & NowPlaying::Change::Tags); });
    server.connectClient();
    EXPECT_EQ(server.winsock.answer("01" + track), "CODE_11file name");
    MakeTaggedMp3(lib, "file name.mp3", {"New", "Someone", "", "", ""});
    for (int refill = 0; refill < 2; ++refill) {
        EXPECT_EQ(server.winsock.answer("00").substr(0, 5), "START");
        ASSERT_TRUE(server.indexed());
    }
    EXPECT_EQ(std::tuple(server.nowPlaying().playingDetails().tags.title, announced, server.caption()),
              std::tuple(QString("New"), 1, std::string("Tallowcrest Server: file name")));
}
TEST(IndexedServer, ReadingShowsItsProgressWithGroupedDigitsOnlyWhileItRuns)
{
    EXPECT_EQ(readingTagsText({12340, 200000, true}) + readingTagsText({5, 5, false}), "Reading tags: 12,340 of 200,000");
}
// The file holds the pairing code: it is the owner's alone, and narrowing it keeps every byte the user wrote.
TEST(SettingsFile, OnlyItsOwnerReadsItAndHandWrittenKeysStay)
{
    const QByteArray handWritten = "; mine\n[Settings]\nDir=/m/Rock, Pop\nport=1234\nWebToken=5f0c\n";
    const struct { const char* name; mode_t folderMode, fileMode, folderAfter; std::size_t warnings; } rows[] = {
        {"new file", 0, 0, 0700, 0}, {"hand-written 0644 file", 0700, 0644, 0700, 1},
        {"user's 0755 folder", 0755, 0, 0755, 0}};
    const auto modeOf = [](const QString& path) { return mode_t(std::filesystem::status(path.toStdString()).permissions()); };
    for (const auto& row : rows) {
        LogCapture log;
        IsolatedSettings isolation;
        const QString folder = QFileInfo(isolation.filePath()).path();
        if (row.folderMode) {
            ASSERT_TRUE(QDir().mkdir(folder) && ::chmod(QFile::encodeName(folder).constData(), row.folderMode) == 0);
        }
        QFile file(isolation.filePath());
        if (row.fileMode) {
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(handWritten) == handWritten.size());
            file.close();
            ASSERT_EQ(::chmod(QFile::encodeName(file.fileName()).constData(), row.fileMode), 0);
        }
        QtSettingsStore store;
        if (row.fileMode) {
            EXPECT_EQ(store.read(kAppName, kSettingsSection, "Port", ""), "1234") << row.name;
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << row.name;
            EXPECT_EQ(file.readAll(), handWritten) << row.name << ": narrowing rewrites nothing";
        }
        store.save(kAppName, kSettingsSection, "WebPort", "9998");
        EXPECT_EQ(std::tuple(modeOf(isolation.filePath()), modeOf(folder), log.warnings("tallowcrest.server").size()),
                  std::tuple(mode_t(0600), row.folderAfter, row.warnings)) << row.name;
        EXPECT_EQ(store.read(kAppName, kSettingsSection, "Dir", ""), row.fileMode ? "/m/Rock, Pop" : "") << row.name;
    }
}
}  // namespace
}  // namespace tallowcrest::testing
