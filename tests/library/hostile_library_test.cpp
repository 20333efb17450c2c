// Libraries a user (or someone else) may have made hostile: every track that
// can stand on a line of the list is listed, and every listed row names a
// track that the player can then be given.
#include "library/track_scan.h"
#include "support/live_server.h"
#include "support/mp3_fixture.h"
#include "support/test_client.h"

#include <gtest/gtest.h>

#include <QDir>

#include <cstdio>
#include <set>
#include <string>
#include <sys/stat.h>

#include "library/scan_tree.h"

namespace tallowcrest::testing {
namespace {

using Paths = std::multiset<std::string>;

bool IsTrackName(const std::string& path)
{
    const std::string name = path.substr(path.rfind('/') + 1);
    return name.size() >= 3 && (name[name.size() - 3] | 0x20) == 'm' && (name[name.size() - 2] | 0x20) == 'p'
           && name.back() == '3';
}

// Every file below root that find reaches following links (find reports and
// skips a link back to a folder it is in), whose name passes the filter and
// whose path can stand on one line.
Paths FoundByFind(const std::string& root)
{
    Paths found;
    FILE* find = ::popen(("find -L '" + root + "' -type f -print0 2>/dev/null").c_str(), "r");
    std::string path;
    for (int c; find && (c = std::fgetc(find)) != EOF;) {
        if (c != '\0') {
            path.push_back(static_cast<char>(c));
            continue;
        }
        if (IsTrackName(path) && path.find_first_of("\r\n") == std::string::npos)
            found.insert(path);
        path.clear();
    }
    if (find)
        ::pclose(find);
    return found;
}

Paths Lines(const std::string& text)
{
    const std::vector<std::string> lines = SplitTrackLines(text);
    return {lines.begin(), lines.end()};
}

using HostileLibraryTest = TreeTest;

TEST_F(HostileLibraryTest, FiveHundredFoldersDeepAreWalkedToTheBottom)
{
    std::string path = root_;
    for (int level = 1; level <= 500; ++level) {
        path += "d/";
        ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << level;
        if (level % 100 == 0)
            MakeTree(path, {"level" + std::to_string(level) + ".mp3", "notes.txt"});
    }
    const Paths walked = FoundByFind(root_);
    ASSERT_EQ(walked.size(), 5u);
    std::string buffer;
    ScanFolder(root_, buffer);
    EXPECT_EQ(Lines(buffer), walked);
}

// The whole road a listed row takes: scan, file, socket, list on screen, and
// back as the path of an open request.
TEST_F(HostileLibraryTest, EveryListedRowIsAWholePathThePlayerOpens)
{
    const QString root = QString::fromStdString(root_);
    const std::string name255 = std::string(251, 'n') + ".mp3";
    const std::string folder255(255, 'f');
    MakeTree(root_, {"A/", "A/up -> ..", "A/self -> .", "bad\nfolder/", "bad\nfolder/in.mp3", "line\nbreak.mp3",
                     "carriage\rreturn.mp3", "Caf\xe9/", folder255 + "/", folder255 + "/x.mp3", "cover.jpg"});
    // Folders of 255 bytes (the last one shorter) down to a track whose path
    // is 4,000 bytes long.
    std::string deep = root_;
    while (deep.size() < 4000 - 255) {
        deep += std::string(std::min<std::size_t>(255, 4000 - 255 - deep.size() - 1), 'g') + "/";
        ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0);
    }
    // Real, long tracks where the player opens them below; it never gets
    // near their end.
    const std::string plain = MakeMp3(root, "A/a.mp3", 30.0);
    const std::string latin1 = MakeMp3(root, "Caf\xe9/\xe9t\xe9.mp3", 30.0);
    const std::string longName = MakeMp3(root, name255, 30.0);
    const std::string longPath = MakeMp3(QString::fromStdString(deep.substr(0, deep.size() - 1)), name255, 30.0);
    ASSERT_EQ(longPath.size(), 4000u);
    const Paths walked = FoundByFind(root_);
    ASSERT_EQ(walked.size(), 5u);

    const uint16_t port = FreePort();
    LiveServer server(root_, std::to_string(port));
    TestClient client;
    ASSERT_TRUE(client.Connect(port));
    client.Send("00");
    const std::string reply = client.ReceiveUntilSuffix("END", 30000);
    ASSERT_TRUE(reply.starts_with("START") && reply.ends_with("END")) << reply.substr(0, 300);
    const std::string body = reply.substr(5, reply.size() - 8);
    ASSERT_TRUE(body.ends_with("\r\n"));
    EXPECT_EQ(Lines(body), walked);
    EXPECT_EQ(RowsOf(server.lstFiles), SplitTrackLines(body));
    for (const std::string& row : SplitTrackLines(body)) {
        struct stat info {};
        EXPECT_TRUE(::stat(row.c_str(), &info) == 0 && S_ISREG(info.st_mode)) << row;
    }

    for (const std::string& track : {plain, latin1, longName, longPath}) {
        client.Send("01" + track);
        EXPECT_EQ(client.ReceiveQuiet(500), "CODE_11" + TrackTitle(track)) << track.substr(0, 100);
        EXPECT_EQ(server.media.FileName(), track);
    }
}

TEST_F(HostileLibraryTest, AMediaFolderRemovedAfterStartIsAskedForAgainBeforeAnythingIsSent)
{
    MakeTree(root_, {"Old/", "Old/a.mp3", "New/", "New/Sub/", "New/Sub/b.mp3", "New/c.mp3"});
    const uint16_t port = FreePort();
    LiveServer server(root_ + "Old", std::to_string(port));
    ASSERT_EQ(RowsOf(server.lstFiles), std::vector<std::string>{root_ + "Old/a.mp3"});
    ASSERT_TRUE(QDir(QString::fromStdString(root_ + "Old")).removeRecursively());

    TestClient client;
    ASSERT_TRUE(client.Connect(port));
    server.prompt.answers = {"", root_ + "Old", root_ + "New"};
    server.prompt.onAsk = [&] { EXPECT_EQ(client.ReceiveQuiet(50), "") << "nothing before a usable folder"; };
    client.Send("00");
    const std::string reply = client.ReceiveUntilSuffix("END", 10000);

    EXPECT_EQ(server.prompt.asked.size(), 3u);
    ASSERT_TRUE(reply.starts_with("START") && reply.ends_with("END")) << reply;
    EXPECT_EQ(Lines(reply.substr(5, reply.size() - 8)), (Paths{root_ + "New/Sub/b.mp3", root_ + "New/c.mp3"}));
    EXPECT_EQ(Lines(reply.substr(5, reply.size() - 8)), Paths(FoundByFind(root_ + "New")));
    EXPECT_EQ(server.lstFiles.Count(), 2);
    EXPECT_EQ(server.controller.MediaFolder(), root_ + "New");
    EXPECT_EQ(server.settings.Read(kAppName, kSettingsSection, "Dir", ""), root_ + "New");
    EXPECT_TRUE(server.messageBox.shown.empty());
}

}  // namespace
}  // namespace tallowcrest::testing
