#include "library/track_scan.h"
#include "remote/fakes.h"
#include "remote/track_list_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace tallowcrest::testing {
namespace {

std::string FileWith(const QTemporaryDir& dir, size_t bytes)
{
    const QString path = dir.path() + "/tracks.temp";
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QByteArray content(static_cast<qsizetype>(bytes), 'x');
    for (qsizetype i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    file.write(content);
    return path.toStdString();
}

std::vector<size_t> PieceSizes(const RecordingSocket& socket)
{
    std::vector<size_t> sizes;
    for (size_t i = 1; i + 1 < socket.sent.size(); ++i)
        sizes.push_back(socket.sent[i].size());
    return sizes;
}

TEST(SendTrackList, SendsFramedPiecesOfAtMost2048BytesThenPauses)
{
    const std::vector<std::pair<size_t, std::vector<size_t>>> cases = {
        {0, {}}, {1, {1}}, {2048, {2048}}, {2049, {2048, 1}}, {5000, {2048, 2048, 904}},
    };
    QTemporaryDir dir;
    for (const auto& [length, pieces] : cases) {
        RecordingSocket socket;
        const std::string file = FileWith(dir, length);
        SendTrackList(file, socket);
        ASSERT_GE(socket.sent.size(), 2u);
        EXPECT_EQ(socket.sent.front(), "START");
        EXPECT_EQ(socket.sent.back(), "END");
        EXPECT_EQ(PieceSizes(socket), pieces) << length << " bytes";
        QFile read(QString::fromStdString(file));
        ASSERT_TRUE(read.open(QIODevice::ReadOnly));
        EXPECT_EQ(socket.AllSent(), "START" + read.readAll().toStdString() + "END");
        EXPECT_EQ(socket.holds, std::vector<int>{200});
    }
}

TEST(WriteTrackList, WritesTheSameLinesWithOrWithoutTrailingSeparator)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.path() + "/lib"));
    QFile(dir.path() + "/lib/a.mp3").open(QIODevice::WriteOnly);
    const std::string folder = (dir.path() + "/lib").toStdString();
    const std::string file = (dir.path() + "/list").toStdString();
    for (const std::string& form : {folder, folder + "/"}) {
        TrackListBuffer = "left over\r\n";
        WriteTrackList(form, file);
        QFile written(QString::fromStdString(file));
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_EQ(written.readAll().toStdString(), folder + "/a.mp3\r\n") << form;
        EXPECT_EQ(TrackListBuffer, folder + "/a.mp3\r\n");
    }
}

TEST(WriteTrackList, RefusesToWriteThroughALink)
{
    QTemporaryDir dir;
    const QString victim = dir.path() + "/victim";
    QFile(victim).open(QIODevice::WriteOnly);
    const std::string link = (dir.path() + "/tracks.temp").toStdString();
    ASSERT_EQ(::symlink(victim.toLocal8Bit().constData(), link.c_str()), 0);
    EXPECT_THROW(WriteTrackList(dir.path().toStdString(), link), std::system_error);
    EXPECT_EQ(QFileInfo(victim).size(), 0);
}

// The runtime and cache folders come from the environment; each test sets
// them to folders of its own.
class TrackListFilePathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CACHE_HOME"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        ::setenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit().constData(), 1);
        ::setenv("XDG_CACHE_HOME", cache_.path().toLocal8Bit().constData(), 1);
    }
    void TearDown() override
    {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

    QTemporaryDir runtime_;
    QTemporaryDir cache_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(TrackListFilePathTest, LivesInAPrivateFolderOfTheRuntimeFolder)
{
    const std::string path = TrackListFilePath();
    EXPECT_EQ(path, runtime_.path().toStdString() + "/TallowcrestServer/tracks.temp");
    struct stat info {};
    ASSERT_EQ(::stat((runtime_.path() + "/TallowcrestServer").toLocal8Bit().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(TrackListFilePathTest, APlantedLinkOrAnOpenFolderFallsBackToTheCacheFolder)
{
    const QString planted = runtime_.path() + "/TallowcrestServer";
    ASSERT_EQ(::symlink("/tmp", planted.toLocal8Bit().constData()), 0);
    EXPECT_EQ(TrackListFilePath(), cache_.path().toStdString() + "/TallowcrestServer/tracks.temp");

    ASSERT_EQ(::unlink(planted.toLocal8Bit().constData()), 0);
    ASSERT_EQ(::mkdir(planted.toLocal8Bit().constData(), 0777), 0);
    ASSERT_EQ(::chmod(planted.toLocal8Bit().constData(), 0777), 0);
    EXPECT_EQ(TrackListFilePath(), cache_.path().toStdString() + "/TallowcrestServer/tracks.temp");
}

TEST_F(TrackListFilePathTest, NoUsableFolderIsAnError)
{
    QFile(runtime_.path() + "/TallowcrestServer").open(QIODevice::WriteOnly);
    QFile(cache_.path() + "/TallowcrestServer").open(QIODevice::WriteOnly);
    EXPECT_THROW(TrackListFilePath(), std::system_error);
}

}  // namespace
}  // namespace tallowcrest::testing
