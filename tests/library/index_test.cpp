// The library index on real tagged files: details, covers, incremental passes, search and recovery.
#include "library/library_index.h"
#include "support/hostile_corpus.h"
#include "support/log_capture.h"
#include "support/spin.h"
#include "support/tagged_mp3.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <filesystem>
#include <fstream>

namespace tallowcrest {
namespace {
using Rows = std::vector<int>;
TrackTags tagged(QString title, QString artist = {}, QString album = {}, QString albumArtist = {})
{
    return {std::move(title), std::move(artist), std::move(album), std::move(albumArtist), {}, 0, 0, 0, 0};
}

class IndexTest : public ::testing::Test {
protected:
    std::unique_ptr<LibraryIndex> open(LibraryIndexOptions options = {}, QString cache = {})
    {
        options.idlePriority = false;
        return std::make_unique<LibraryIndex>(cache.isEmpty() ? m_cache.path() : cache, options);
    }
    std::string track(const std::string& name, const TrackTags& tags, const QByteArray& cover = {}, TagWriting how = {})
    {
        QDir(m_media.path()).mkpath(QFileInfo(QString::fromStdString(name)).path());
        return tags == TrackTags{} ? MakeMp3(m_media.path(), name) : MakeTaggedMp3(m_media.path(), name, tags, cover, how);
    }
    // Gives the index the list and waits for its pass to end.
    void index(const std::vector<std::string>& paths, LibraryIndex* index = nullptr)
    {
        std::string list;
        for (const std::string& path : paths)
            list += path + '\0';
        (index = index ? index : m_index.get())->update(list);
        ASSERT_TRUE(SpinUntil([&] { return !index->progress().running; }, 60000));
    }
    QString title(const std::string& path) { return m_index->details(path).value_or(TrackDetails{}).tags.title; }
    QTemporaryDir m_media, m_cache;
    std::unique_ptr<LibraryIndex> m_index = open();
};

TEST_F(IndexTest, DetailsGiveTheTagsAndTheEmbeddedFrontCoverElseTheFolderCover)
{
    TrackTags tags = tagged("Jóga", "Björk", "Homogenic", "Björk");
    tags.genre = "Electronic", tags.trackNumber = 3, tags.discNumber = 1, tags.year = 1997;
    TagWriting back;
    back.pictureType = TagLib::ID3v2::AttachedPictureFrame::BackCover;
    const std::string front = track("a.mp3", tags, MakeImage(640, 480, "PNG")),
                      other = track("b.mp3", tags, MakeImage(20, 20, "PNG"), back), bare = track("Sub/c.mp3", {}),
                      none = track("Sub/d.mp3", tagged("", "Someone"));
    std::ofstream(m_media.filePath("Sub/Front.JPEG").toStdString(), std::ios::binary) << MakeImage(30, 40, "JPG").toStdString();
    index({front, other, bare, none, m_media.filePath("gone.mp3").toStdString()});
    const auto details = m_index->details(front);
    ASSERT_TRUE(details);
    tags.lengthMs = details->tags.lengthMs;
    EXPECT_EQ(details->tags, tags);
    EXPECT_NEAR(details->tags.lengthMs, 1000, 100);
    EXPECT_TRUE(QFileInfo(m_index->artFile(details->art)).isFile());
    EXPECT_FALSE(m_index->details(other)->art.isEmpty()) << "another picture type serves when there is no front";
    EXPECT_TRUE(m_index->details(bare)->tags.isBare());
    EXPECT_TRUE(QFileInfo(m_index->artFile(m_index->details(bare)->art)).isFile());
    EXPECT_EQ(m_index->details(none)->art, m_index->details(bare)->art);
    EXPECT_NE(m_index->details(bare)->art, details->art);
    EXPECT_FALSE(m_index->details(m_media.filePath("gone.mp3").toStdString()));
    EXPECT_EQ(m_index->artFile("../library.sqlite"), "");
    EXPECT_EQ(m_index->progress().done, 5);
    EXPECT_TRUE(m_index->available());
}

TEST_F(IndexTest, APassReadsOnlyFilesWhoseSizeOrTimeChangedAndDropsThoseGone)
{
    const std::string touched = track("a.mp3", tagged("Old A")), kept = track("b.mp3", tagged("Old B")),
                      resized = track("c.mp3", tagged("Old C")), gone = track("d.mp3", tagged("Old D"));
    index({touched, kept, resized, gone});
    struct stat before {};
    ASSERT_EQ(::stat(kept.c_str(), &before), 0);
    track("a.mp3", tagged("New A")), track("b.mp3", tagged("New B")), track("c.mp3", tagged("New C longer"));
    const time_t soon = before.st_mtim.tv_sec + 10;
    const timespec old[2] = {before.st_atim, before.st_mtim}, later[2] = {{soon, 0}, {soon, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, kept.c_str(), old, 0) + ::utimensat(AT_FDCWD, touched.c_str(), later, 0)
                  + ::utimensat(AT_FDCWD, resized.c_str(), old, 0), 0);
    ASSERT_EQ(std::filesystem::file_size(kept), std::size_t(before.st_size));
    std::filesystem::remove(gone);
    index({touched, kept, resized});
    EXPECT_EQ(title(touched), "New A");
    EXPECT_EQ(title(kept), "Old B");
    EXPECT_EQ(title(resized), "New C longer");
    EXPECT_FALSE(m_index->details(gone));
    index({touched});
    EXPECT_EQ(title(kept), "Old B") << "a file still there stays indexed when another list leaves it out";
}

TEST_F(IndexTest, ARestartedIndexAnswersFromTheFileBeforeAnyList)
{
    const std::string path = track("a.mp3", tagged("Kept"));
    index({path});
    m_index.reset();
    m_index = open();
    EXPECT_EQ(m_index->search("kept", 0, 10).total, -1) << "no list mapped yet";
    ASSERT_TRUE(SpinUntil([&] { return m_index->details(path).has_value(); }));
    EXPECT_EQ(title(path), "Kept");
}

TEST_F(IndexTest, SearchFindsFoldedTextInsideEveryFieldInListOrder)
{
    std::vector<std::string> paths = {
        track("1.mp3", tagged("Slavonic Dance", "Antonín Dvořák", "Dances")),
        track("2.mp3", tagged("Eple", "Röyksopp", "Melody A.M.")), track("3.mp3", tagged("Jóga", "Björk", "Homogenic")),
        track("4.mp3", tagged("Ace of Spades", "Motörhead", "", "Lemmy Ω")), track("Wanderer Fantasy.mp3", {})};
    for (int n = 5; n < 10; ++n)
        paths.push_back(track(std::to_string(n) + ".mp3", tagged("Filler " + QString::number(n), "Nobody")));
    index(paths);
    const struct { const char* name; QString query; Rows rows; } table[] = {
        {"accents", "dvorak", {0}}, {"case", "ROYKSOPP", {1}}, {"ö", "bjork", {2}}, {"album artist", "lemmy", {3}},
        {"inside a word", "omogen", {2}}, {"one character", "j", {2}}, {"two characters", "ep", {1}}, {"Greek", "ω", {3}},
        {"digits of file names", "7", {7}}, {"a space", "y ", {1, 3}}, {"nothing", "zzz", {}}, {"pieces apart", "sladan", {}},
        {"no match across fields", "akda", {}}, {"file name alone", "wanderer", {4}}, {"quotes", "\"ep", {}},
        {"empty", "", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}}};
    for (const auto& row : table) {
        const SearchPage page = m_index->search(row.query, 0, 20);
        EXPECT_EQ(page.rows, row.rows) << row.name;
        EXPECT_EQ(page.total, int(row.rows.size())) << row.name;
    }
    std::reverse(paths.begin(), paths.end());
    index(paths);
    const SearchPage page = m_index->search("filler", 1, 3);
    EXPECT_EQ(page.total, 5);
    EXPECT_EQ(page.rows, (Rows{1, 2, 3}));
    EXPECT_EQ(m_index->search("filler", 4, 3).rows, Rows{4});
    EXPECT_EQ(m_index->search("filler", 5, 3).rows, Rows{});
    m_index->update({});
    EXPECT_EQ(m_index->search("filler", 0, 3).total, -1) << "a list not yet mapped";
}

TEST_F(IndexTest, AnUnusableIndexIsRebuiltOrDoneWithoutInOneLogLine)
{
    const std::string path = track("a.mp3", tagged("Kept"));
    const QString file = m_cache.filePath("library.sqlite");
    auto overwrite = [&](qint64 at, const QByteArray& bytes) {
        QFile database(file);
        ASSERT_TRUE(database.open(QIODevice::ReadWrite) && database.seek(at) && database.write(bytes) == bytes.size());
    };
    m_index.reset();
    const struct { const char* name; std::function<void()> prepare; LibraryIndexOptions options; QString cache; bool kept; }
        table[] = {
        {"garbage", [&] { overwrite(0, QByteArray(5000, 'x')); }, {}, {}, true},
        {"another version", [&] { index({path}, open().get()), overwrite(60, QByteArray("\0\0\0\x63", 4)); }, {}, {}, true},
        {"a cache folder that cannot be made", [] {}, {}, m_media.filePath("a.mp3/cache"), false},
        {"a full disk", [&] { QFile::remove(file), track("a.mp3", tagged(QString(30000, 'k'))); }, {65536, true}, {}, false}};
    for (const auto& row : table) {
        row.prepare();
        const LogCapture log;
        const auto index = open(row.options, row.cache);
        this->index({path}, index.get());
        EXPECT_EQ(log.warnings("tallowcrest.library").size(), 1u) << row.name;
        EXPECT_EQ(index->details(path).has_value(), row.kept) << row.name;
        EXPECT_EQ(index->available(), row.cache.isEmpty()) << row.name;
        EXPECT_EQ(index->search("kept", 0, 1).total, row.kept ? 1 : row.cache.isEmpty() ? 0 : -1) << row.name;
    }
}

TEST_F(IndexTest, AHostileFolderIsIndexedWithEachUnreadableFileLoggedOnce)
{
    std::vector<std::string> paths = WriteHostileCorpus(m_media.path());
    paths.push_back(track("good.mp3", tagged("Good")));
    const LogCapture log;
    index(paths);
    const auto warnings = log.warnings("tallowcrest.library");
    for (const std::string& path : paths) {
        const QString shown = QDebug::toString(QByteArray::fromStdString(path));
        EXPECT_EQ(std::ranges::count_if(warnings, [&](const auto& warning) { return warning.text.contains(shown); }),
                  readTrackTags(path) ? 0 : 1) << path;
        EXPECT_TRUE(m_index->details(path)) << path;
    }
    EXPECT_EQ(m_index->search("good", 0, 5).rows, Rows{int(paths.size()) - 1});
}

}  // namespace
}  // namespace tallowcrest
