// What only shows with a recording socket and a fake player: paths taken byte
// for byte, retries, the folder prompt, and requests that fail half-way.
#include "library/track_list_model.h"
#include "library/track_scan.h"
#include "playback/qt_settings_store.h"
#include "playback/server_controller.h"
#include "remote/fakes.h"
#include "remote/track_list_file.h"
#include "support/fake_dialogs.h"
#include "support/isolated_settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tallowcrest::testing {
namespace {

void WriteFile(const QString& path, const QByteArray& content = {})
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

class DispatcherTest : public ::testing::Test {
protected:
    DispatcherTest()
        : controller_({settings_, list_, box_, prompt_, socket_, player_,
                       [this](const std::string& text) { caption_ = text; },
                       [this] { return trackListFile_; }})
    {
        trackListFile_ = (work_.path() + "/tracks.temp").toStdString();
        socket_.state = ISocket::Connected;
    }

    // Sends one block as the client would and returns what the server sent.
    std::vector<std::string> Request(const std::string& block)
    {
        socket_.sent.clear();
        socket_.incoming = block;
        controller_.Winsock_DataArrival();
        return socket_.sent;
    }

    std::string Path(const QString& relative) const { return (work_.path() + "/" + relative).toStdString(); }

    void UseMediaFolder(const std::string& folder)
    {
        prompt_.answers = {folder};
        controller_.cmdDir_Click();
        prompt_.asked.clear();
    }

    QTemporaryDir work_;
    IsolatedSettings isolation_;
    QtSettingsStore settings_;
    TrackListModel list_;
    RecordingMessageBox box_;
    ScriptedPrompt prompt_;
    RecordingSocket socket_;
    FakePlayer player_;
    std::string caption_ = "Tallowcrest Server";
    std::string trackListFile_;
    ServerController controller_;
};

using Sent = std::vector<std::string>;

TEST_F(DispatcherTest, OpenTakesThePathByteForByte)
{
    const std::string name = "caf\xe9 \x01 .hidden.mp3";  // Latin-1, a control byte, a dot name
    {
        const std::string path = Path(QString()) + name;
        FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    EXPECT_EQ(Request("01" + Path(QString()) + name), Sent{"CODE_11caf\xe9 \x01 .hidden"});
    EXPECT_EQ(player_.fileName, Path(QString()) + name);
}

TEST_F(DispatcherTest, TitlesOfRelativeAndVeryShortNames)
{
    const std::string old = QDir::currentPath().toStdString();
    WriteFile(QString::fromStdString(Path("Song.mp3")));
    WriteFile(QString::fromStdString(Path("mp3")));
    ASSERT_EQ(::chdir(work_.path().toLocal8Bit().constData()), 0);
    const Sent relative = Request("01Song.mp3");
    ASSERT_EQ(::chdir(old.c_str()), 0);
    EXPECT_EQ(relative, Sent{"CODE_11Song"}) << "no separator: the whole name less four";
    // Too short to drop four: the client still gets its answer.
    EXPECT_EQ(Request("01" + Path("mp3")), Sent{"CODE_11"});
    EXPECT_EQ(caption_, "Tallowcrest Server: ");
}

TEST_F(DispatcherTest, ATransientComponentFailureIsRetriedAFewTimes)
{
    WriteFile(QString::fromStdString(Path("a.mp3")));
    player_.transientFailures = 2;
    EXPECT_EQ(Request("01" + Path("a.mp3")), Sent{"CODE_11a"});
    EXPECT_EQ(player_.failedCalls, 2);

    player_.transientFailures = 100;
    player_.failedCalls = 0;
    EXPECT_EQ(Request("02"), Sent{}) << "a failure that repeats ends the request";
    EXPECT_EQ(player_.failedCalls, 3);
    player_.transientFailures = 0;
    EXPECT_EQ(Request("02"), Sent{});
    EXPECT_EQ(player_.calls.back(), "play");
}

TEST_F(DispatcherTest, TrackListRequestPromptsUntilTheFolderExists)
{
    WriteFile(work_.path() + "/lib/Artist/Album/t.mp3");  // only sub-folders at the top
    prompt_.onAsk = [this] { EXPECT_TRUE(socket_.sent.empty()) << "nothing goes out before a folder is usable"; };

    prompt_.answers = {""};
    controller_.cmdDir_Click();
    ASSERT_EQ(controller_.MediaFolder(), "");
    prompt_.asked.clear();
    prompt_.answers = {"", Path("missing"), Path("lib")};
    Request("00");
    EXPECT_EQ(prompt_.asked.size(), 3u);
    EXPECT_EQ(controller_.MediaFolder(), Path("lib"));
    EXPECT_EQ(socket_.AllSent(), "START" + Path("lib/Artist/Album/t.mp3") + "\r\nEND");
}

TEST_F(DispatcherTest, AClientLostInTheMiddleOfTheListEndsTheRequest)
{
    for (int i = 0; i < 200; ++i)
        WriteFile(work_.path() + QString("/lib/track %1 with a fairly long name.mp3").arg(i));
    UseMediaFolder(Path("lib"));
    list_.AddRows({"kept"});
    socket_.sendsBeforeFailure = 3;
    Request("00");
    EXPECT_EQ(socket_.sent.size(), 3u);
    EXPECT_EQ(socket_.sent[0], "START");
    EXPECT_TRUE(socket_.holds.empty());
    EXPECT_EQ(list_.Count(), 1) << "the list is not refilled from a request that failed";

    socket_.sendsBeforeFailure = -1;
    Request("00");
    EXPECT_TRUE(socket_.AllSent().ends_with("END"));
    EXPECT_EQ(list_.Count(), 200);
}

TEST_F(DispatcherTest, ABlockArrivingWhileARequestWaitsForThePromptIsHandledAfterIt)
{
    WriteFile(work_.path() + "/lib/a.mp3");
    prompt_.answers = {"", Path("lib")};
    int nested = 0;
    prompt_.onAsk = [&] {
        if (nested++ == 0) {
            socket_.incoming = "02";  // arrives during the modal prompt
            controller_.Winsock_DataArrival();
            EXPECT_TRUE(socket_.sent.empty());
        }
    };
    socket_.incoming = "00";
    controller_.Winsock_DataArrival();
    // The list request first, then the block that waited.
    EXPECT_EQ(socket_.AllSent(), "START" + Path("lib/a.mp3") + "\r\nENDCODE_12");
}

}  // namespace
}  // namespace tallowcrest::testing
