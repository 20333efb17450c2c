// The list's file: written from a fresh scan, sent in pieces, kept private.
#include "library/track_scan.h"
#include "remote/track_list_file.h"
#include "support/fakes.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace tallowcrest::testing {
namespace {

std::string contentOf(const std::string& file)
{
    QFile in(QString::fromStdString(file));
    return in.open(QIODevice::ReadOnly) ? in.readAll().toStdString() : "(unreadable)";
}

TEST(SendTrackList, FramedPiecesOfAtMost2048BytesThenThePause)
{
    QTemporaryDir dir;
    const std::string file = dir.filePath("tracks.temp").toStdString();
    const std::pair<std::size_t, std::vector<std::size_t>> cases[] = {
        {0, {}}, {1, {1}}, {2048, {2048}}, {2049, {2048, 1}}, {5000, {2048, 2048, 904}}};
    for (const auto& [length, pieces] : cases) {
        std::string content(length, 'x');
        for (std::size_t i = 0; i < length; ++i)
            content[i] = char(i * 7);
        QFile out(QString::fromStdString(file));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(content.data(), qint64(length));
        out.close();
        FakeSocket socket;
        socket.state = ISocket::Connected;
        SendTrackList(file, socket);
        std::vector<std::size_t> sizes;
        for (std::size_t i = 1; i + 1 < socket.sent.size(); ++i)
            sizes.push_back(socket.sent[i].size());
        EXPECT_EQ(sizes, pieces) << length;
        EXPECT_EQ(socket.allSent(), "START" + content + "END") << length;
        EXPECT_EQ(socket.holds, std::vector<int>{200});
    }
}

TEST(WriteTrackList, TheSameLinesWithOrWithoutSeparatorNeverThroughALink)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath("lib")));
    QFile(dir.filePath("lib/a.mp3")).open(QIODevice::WriteOnly);
    const std::string folder = dir.filePath("lib").toStdString();
    const std::string file = dir.filePath("list").toStdString();
    for (const std::string& form : {folder, folder + "/"}) {
        TrackListBuffer = "left over\r\n";
        WriteTrackList(form, file);
        EXPECT_EQ(contentOf(file), folder + "/a.mp3\r\n") << form;
        EXPECT_EQ(TrackListBuffer.capacity() + TrackListBuffer.size(), std::string().capacity())
            << "the buffer is handed back once the file holds the list";
    }
    const std::string link = dir.filePath("link").toStdString();
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    EXPECT_THROW(WriteTrackList(folder, link), std::system_error);
    EXPECT_EQ(contentOf(file), folder + "/a.mp3\r\n");
}

TEST(TrackListFilePath, APrivateFolderOfTheRuntimeFolderElseOfTheCache)
{
    QTemporaryDir runtime, cache;
    ::setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
    ::setenv("XDG_CACHE_HOME", cache.path().toLocal8Bit().constData(), 1);
    const std::string inRuntime = runtime.path().toStdString() + "/TallowcrestServer";
    const std::string inCache = cache.path().toStdString() + "/TallowcrestServer";
    EXPECT_EQ(trackListFilePath(), inRuntime + "/tracks.temp");
    struct stat info {};
    ASSERT_EQ(::stat(inRuntime.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    ASSERT_EQ(::rmdir(inRuntime.c_str()), 0);
    ASSERT_EQ(::symlink("/tmp", inRuntime.c_str()), 0);
    EXPECT_EQ(trackListFilePath(), inCache + "/tracks.temp") << "a planted link";
    ASSERT_EQ(::unlink(inRuntime.c_str()) + ::mkdir(inRuntime.c_str(), 0777) + ::chmod(inRuntime.c_str(), 0777), 0);
    EXPECT_EQ(trackListFilePath(), inCache + "/tracks.temp") << "a folder others can write";
    ASSERT_EQ(::rmdir(inCache.c_str()), 0);
    QFile(QString::fromStdString(inCache)).open(QIODevice::WriteOnly);
    EXPECT_THROW(trackListFilePath(), std::system_error);
    ::unsetenv("XDG_RUNTIME_DIR");
    ::unsetenv("XDG_CACHE_HOME");
}

}  // namespace
}  // namespace tallowcrest::testing
