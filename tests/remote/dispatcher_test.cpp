// The request protocol driven through the window controller, with a recording
// socket and a fake player, and real files, folders and settings.
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

TEST_F(DispatcherTest, OnlyTheFirstTwoBytesOfABlockAreTheOpcode)
{
    EXPECT_EQ(Request("0203"), Sent{"CODE_12"}) << "joined blocks are one request";
    player_.fileName = "/loaded.mp3";
    EXPECT_EQ(Request("02xyz"), Sent{});
    EXPECT_EQ(player_.calls, std::vector<std::string>{"play"});
}

TEST_F(DispatcherTest, ShortAndUnknownBlocksDoNothingAndSendNothing)
{
    for (const std::string& block : std::vector<std::string>{"", "0", "2", "08", "ab", "99", "x", "\r\n", std::string("\0\0", 2)})
        EXPECT_EQ(Request(block), Sent{}) << "block: " << block;
    EXPECT_TRUE(player_.calls.empty());
    EXPECT_EQ(Request("02"), Sent{"CODE_12"}) << "the next request is served";
}

TEST_F(DispatcherTest, OpenAnswersTheTitleAndSetsTheCaption)
{
    WriteFile(QString::fromStdString(Path("Band/Song One.mp3")));
    EXPECT_EQ(Request("01" + Path("Band/Song One.mp3")), Sent{"CODE_11Song One"});
    EXPECT_EQ(player_.fileName, Path("Band/Song One.mp3"));
    EXPECT_EQ(caption_, "Tallowcrest Server: Song One");
}

TEST_F(DispatcherTest, OpenRefusesWhatIsNotAPlayableFile)
{
    WriteFile(QString::fromStdString(Path("a.mp3")));
    ASSERT_EQ(::mkfifo(Path("pipe.mp3").c_str(), 0600), 0);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Path("Folder.mp3"))));
    const std::vector<std::string> refused = {
        "01" + Path("missing.mp3"),
        "01" + Path("Folder.mp3"),
        "01" + Path("pipe.mp3"),
        "01" + Path("a.mp3") + "\r\n",
        "01",
    };
    for (const auto& block : refused)
        EXPECT_EQ(Request(block), Sent{"CODE_12"}) << block;
    EXPECT_EQ(player_.fileName, "");
    EXPECT_EQ(caption_, "Tallowcrest Server");
}

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

TEST_F(DispatcherTest, OpenOfANameWithoutSeparatorUsesTheWholeNameForTheTitle)
{
    const std::string old = QDir::currentPath().toStdString();
    WriteFile(QString::fromStdString(Path("Song.mp3")));
    ASSERT_EQ(::chdir(work_.path().toLocal8Bit().constData()), 0);
    const Sent sent = Request("01Song.mp3");
    ASSERT_EQ(::chdir(old.c_str()), 0);
    EXPECT_EQ(sent, Sent{"CODE_11Song"});
}

TEST_F(DispatcherTest, OpenOfANameShorterThanFourBytesStillAnswers)
{
    WriteFile(QString::fromStdString(Path("mp3")));
    EXPECT_EQ(Request("01" + Path("mp3")), Sent{"CODE_11"});
    EXPECT_EQ(caption_, "Tallowcrest Server: ");
}

TEST_F(DispatcherTest, PlayStopPauseAnswerOnlyWhileNothingIsLoaded)
{
    for (const char* op : {"02", "03", "04"})
        EXPECT_EQ(Request(op), Sent{"CODE_12"}) << op;
    EXPECT_TRUE(player_.calls.empty());

    player_.fileName = "/ended.mp3";
    for (const char* op : {"02", "03", "04"})
        EXPECT_EQ(Request(op), Sent{}) << op;
    EXPECT_EQ(player_.calls, (std::vector<std::string>{"play", "stop", "pause"}));
}

TEST_F(DispatcherTest, VolumeMovesInStepsOfOneHundredAndStopsAtTheEnds)
{
    player_.volume = -200;
    EXPECT_EQ(Request("05"), Sent{});
    EXPECT_EQ(player_.volume, -100);
    EXPECT_EQ(Request("05"), Sent{});
    EXPECT_EQ(player_.volume, 0);
    EXPECT_EQ(Request("05"), Sent{}) << "raising at the loudest is refused silently";
    EXPECT_EQ(player_.volume, 0);
    EXPECT_EQ(Request("06junk"), Sent{});
    EXPECT_EQ(player_.volume, -100);

    player_.volume = IMediaPlayer::kSilent;
    EXPECT_EQ(Request("06"), Sent{});
    EXPECT_EQ(player_.volume, IMediaPlayer::kSilent);
    EXPECT_TRUE(box_.shown.empty());
    EXPECT_EQ(Request("03"), Sent{"CODE_12"}) << "the next request is served";
}

TEST_F(DispatcherTest, ShuffleTakesBooleanTextsAndKeepsItsValueOtherwise)
{
    const std::vector<std::pair<std::string, bool>> steps = {
        {"true", true},  {"FALSE", false}, {"1", true},    {"0", false},  {"-1", true},
        {"yes", true},   {"", true},       {"0.0", false}, {" 2.5e3 ", true}, {"False\n", true},
        {"0x10", true},  {"nan", true},    {"tRuE", true}, {"-0", false}, {"inf", false},
    };
    for (const auto& [argument, expected] : steps) {
        EXPECT_EQ(Request("07" + argument), Sent{}) << argument;
        EXPECT_EQ(controller_.ShuffleOn(), expected) << "after 07" << argument;
    }
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

TEST_F(DispatcherTest, TrackListRequestSendsFramedListAndRefillsTheList)
{
    WriteFile(work_.path() + "/lib/a.mp3");
    WriteFile(work_.path() + "/lib/Sub/b.MP3");
    WriteFile(work_.path() + "/lib/notes.txt");
    UseMediaFolder(Path("lib"));
    list_.AddRows({"stale row"});

    const std::string all = [&] {
        Request("00");
        return socket_.AllSent();
    }();
    ASSERT_TRUE(all.starts_with("START")) << all;
    ASSERT_TRUE(all.ends_with("END")) << all;
    const std::string body = all.substr(5, all.size() - 8);
    std::vector<std::string> lines = SplitTrackLines(body);
    EXPECT_EQ(body.size(), Path("lib/a.mp3").size() + Path("lib/Sub/b.MP3").size() + 4);
    std::vector<std::string> rows;
    for (int i = 0; i < list_.Count(); ++i)
        rows.push_back(list_.Row(i));
    EXPECT_EQ(rows, lines) << "the list holds exactly what was sent, in order";
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{Path("lib/Sub/b.MP3"), Path("lib/a.mp3")}));
    EXPECT_EQ(socket_.holds, std::vector<int>{200});
    EXPECT_FALSE(QFile::exists(QString::fromStdString(trackListFile_))) << "the file is deleted";
    EXPECT_TRUE(prompt_.asked.empty());
}

TEST_F(DispatcherTest, TrackListOfAnEmptyFolderIsStartThenEnd)
{
    ASSERT_TRUE(QDir().mkpath(work_.path() + "/empty/sub"));
    UseMediaFolder(Path("empty") + "/");
    list_.AddRows({"x"});
    Request("00");
    EXPECT_EQ(socket_.AllSent(), "STARTEND");
    EXPECT_EQ(list_.Count(), 0);
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

TEST_F(DispatcherTest, TrackListRequestWithNotSetFolderPromptsFirst)
{
    ASSERT_EQ(controller_.MediaFolder(), "");  // before Form_Load
    controller_.Form_Load();
    ASSERT_EQ(controller_.MediaFolder(), "not set");
    prompt_.answers = {};  // the user gives no folder: the request ends, nothing is sent
    socket_.state = ISocket::Connected;
    EXPECT_EQ(Request("00"), Sent{});
    EXPECT_EQ(prompt_.asked.size(), 1u);
    EXPECT_EQ(Request("02"), Sent{"CODE_12"});
}

TEST_F(DispatcherTest, AStaleLongerTrackListFileIsReplacedWhole)
{
    WriteFile(work_.path() + "/lib/a.mp3");
    UseMediaFolder(Path("lib"));
    WriteFile(QString::fromStdString(trackListFile_), QByteArray(10000, 'Z'));
    Request("00");
    EXPECT_EQ(socket_.AllSent(), "START" + Path("lib/a.mp3") + "\r\nEND");
    EXPECT_EQ(list_.Count(), 1);
}

TEST_F(DispatcherTest, AnUnwritableTrackListFileSendsNothingAndTheNextRequestWorks)
{
    WriteFile(work_.path() + "/lib/a.mp3");
    UseMediaFolder(Path("lib"));
    list_.AddRows({"kept"});
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(trackListFile_)));  // a folder in the file's place
    EXPECT_EQ(Request("00"), Sent{});
    EXPECT_EQ(list_.Count(), 1);
    EXPECT_EQ(Request("03"), Sent{"CODE_12"});
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
