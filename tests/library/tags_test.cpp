// Tags read from real and hand-made files, search text, cover pictures and thumbnails, and files made to break them.
#include "library/cover_art.h"
#include "library/search_text.h"
#include "library/track_tags.h"
#include "support/hostile_corpus.h"
#include "support/log_capture.h"
#include "support/tagged_mp3.h"
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <filesystem>
#include <fstream>

namespace tallowcrest {
namespace {
using namespace Qt::Literals::StringLiterals;
using Picture = TagLib::ID3v2::AttachedPictureFrame;

QByteArray readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return QByteArray::fromStdString({std::istreambuf_iterator<char>(in), {}});
}
QByteArray apic(char type, const QByteArray& bytes) { return Id3Frame("APIC", "\0image/jpeg\0"_qba + type + '\0' + bytes, 3); }

// Removed by its bytes: QTemporaryDir cannot remove names that are not UTF-8.
class TagsTest : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove_all(m_root); }
    QTemporaryDir m_temp;
    const QString m_dir = m_temp.path();
    const std::string m_root = m_temp.path().toStdString();
};

TEST_F(TagsTest, TagsOfEveryVersionAndEncodingReadAlike)
{
    const TrackTags full{.title = "Dvořák Song", .artist = "Björk", .album = "Æther", .albumArtist = "Various",
                         .genre = "Jazz", .trackNumber = 3, .discNumber = 2, .year = 1999};
    const TrackTags latin{.title = "Café", .artist = "Mötley", .album = "Été", .genre = "Rock", .trackNumber = 5, .year = 2001};
    const auto v1WithV2Title = [&](const QString& dir) {
        const std::string path = MakeTaggedMp3(dir, "a.mp3", latin, {}, {.version = 1});
        const QByteArray bytes = Id3Tag(4, Id3Frame("TIT2", Latin1Body("New"))) + readAll(path);
        std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
        return path;
    };
    const struct {
        const char* name;
        std::function<std::string(const QString&)> write;
        TrackTags expected;
    } rows[] = {
        {"v24Utf8", [&](auto dir) { return MakeTaggedMp3(dir, "a.mp3", full); }, full},
        {"v23Utf16WithBom", [&](auto dir) { return MakeTaggedMp3(dir, "a.mp3", full, {}, {.version = 3, .encoding = TagLib::String::UTF16}); }, full},
        {"v24Latin1", [&](auto dir) { return MakeTaggedMp3(dir, "a.mp3", latin, {}, {.encoding = TagLib::String::Latin1}); }, latin},
        {"v23Utf16BigEndianWithoutBom", [](auto dir) {
             return WriteMp3WithHead(dir, "a.mp3", Id3Tag(3, Id3Frame("TIT2", Utf16Body("Dvořák", true), 3)
                                                            + Id3Frame("TYER", Latin1Body("1999"), 3)));
         }, {.title = "Dvořák", .year = 1999}},
        {"v22", [](auto dir) {
             return WriteMp3WithHead(dir, "a.mp3", Id3Tag(2, Id3Frame("TT2", Latin1Body("Old"), 2) + Id3Frame("TP1", Utf16Body("Ørn"), 2)
                                                            + Id3Frame("TRK", Latin1Body("7/9"), 2) + Id3Frame("TYE", Latin1Body("1988"), 2)));
         }, {.title = "Old", .artist = "Ørn", .trackNumber = 7, .year = 1988}},
        {"id3v1Only", [&](auto dir) { return MakeTaggedMp3(dir, "a.mp3", latin, {}, {.version = 1}); }, latin},
        {"id3v1WhereV2SaysNothing", v1WithV2Title, {.title = "New", .artist = "Mötley", .album = "Été", .genre = "Rock", .trackNumber = 5, .year = 2001}},
        {"noTags", [](auto dir) { return MakeMp3(dir, "a.mp3"); }, {}},
        {"numbersOfTotalsDateAndGenreNumber", [](auto dir) {
             return MakeTaggedMp3(dir, "a.mp3", {.title = "T"}, {}, {.frames = {{"TRCK", "3/12"}, {"TPOS", "2/3"}, {"TDRC", "1999-05-01T10:00"}, {"TCON", "(17)"}}});
         }, {.title = "T", .genre = "Rock", .trackNumber = 3, .discNumber = 2, .year = 1999}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        std::optional<TrackTags> tags = readTrackTags(row.write(dir.path()));
        ASSERT_TRUE(tags);
        EXPECT_NEAR(tags->lengthMs, 1000, 100);
        tags->lengthMs = 0;
        EXPECT_EQ(*tags, row.expected) << tags->title.toStdString() << " / " << tags->artist.toStdString();
    }
}

TEST_F(TagsTest, TheFrontCoverIsChosenElseTheFirstPicture)
{
    const QByteArray jpeg = MakeImage(20, 10, "JPG");
    const struct { const char* name; QByteArray head; QByteArray expected; } rows[] = {
        {"frontCoverAfterAnother", Id3Tag(3, apic(0, "first") + apic(3, "front") + apic(4, "back")), "front"},
        {"noFrontCover", Id3Tag(3, apic(0, "first") + apic(4, "back")), "first"},
        {"none", Id3Tag(3, Id3Frame("TIT2", Latin1Body("T"), 3)), ""},
    };
    for (const auto& row : rows) {
        QByteArray cover = "stale";
        EXPECT_TRUE(readTrackTags(WriteMp3WithHead(m_dir, "a.mp3", row.head), &cover)) << row.name;
        EXPECT_EQ(cover, row.expected) << row.name;
    }
    QByteArray cover;
    readTrackTags(MakeTaggedMp3(m_dir, "b.mp3", {.title = "T"}, jpeg, {.pictureType = Picture::Other}), &cover);
    EXPECT_EQ(cover, jpeg);
}

TEST_F(TagsTest, SearchTextFoldsCaseAccentsAndLettersWithoutADecomposition)
{
    const std::pair<QString, QString> rows[] = {
        {"Dvořák", "dvorak"}, {"Röyksopp", "royksopp"}, {"Björk", "bjork"}, {"Motörhead", "motorhead"}, {"Mø", "mo"},
        {"Sigur Rós", "sigur ros"}, {"Æther", "aether"}, {"Straße", "strasse"}, {"ŁÓDŹ", "lodz"}, {"Œuvre", "oeuvre"},
        {"Þór Đorđe", "thor dorde"}, {"İstanbul", "istanbul"}, {"ﬁne Ｆｕｌｌ", "fine full"}, {"ABC-def 09", "abc-def 09"},
        {"", ""}, {u"\U0001D400 x"_s, "a x"},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(searchText(text), expected) << text.toStdString();
}

TEST_F(TagsTest, FolderCoverFileIsCoverThenFolderThenFrontInAnyCase)
{
    const struct { const char* name; std::vector<std::string> files; std::string expected; } rows[] = {
        {"folderOverFront", {"front.png", "Folder.JPG", "cover.txt", "art.jpg"}, "Folder.JPG"},
        {"coverOverAll", {"FRONT.jpeg", "folder.jpg", "COVER.Png"}, "COVER.Png"},
        {"emptyFileAndFolderPassedOver", {"cover.jpg=", "folder.jpeg/", "front.jpg"}, "front.jpg"},
        {"none", {"cover.gif", "covers.jpg"}, ""},
    };
    for (const auto& row : rows) {
        const std::string folder = m_root + '/' + row.name;
        std::filesystem::create_directory(folder);
        for (const std::string& file : row.files)
            file.ends_with('/') ? (void)std::filesystem::create_directory(folder + '/' + file)
                                : (void)(std::ofstream(folder + '/' + file.substr(0, file.find('='))) << (file.ends_with('=') ? "" : "x"));
        EXPECT_EQ(folderCoverFile(folder), row.expected.empty() ? "" : folder + '/' + row.expected) << row.name;
    }
}

TEST_F(TagsTest, ThumbnailIsMadeOnceAt300PixelsNamedByItsPicture)
{
    Thumbnails thumbnails(m_dir + "/thumbs");
    const QString key = thumbnails.store(MakeImage(600, 400, "JPG"));
    ASSERT_TRUE(Thumbnails::isKey(key)) << key.toStdString();
    const std::string file = thumbnails.fileOf(key).toStdString();
    EXPECT_EQ(QImage(QString::fromStdString(file)).size(), QSize(300, 200));
    struct stat before {}, after {};
    stat(file.c_str(), &before);
    EXPECT_EQ(thumbnails.store(MakeImage(600, 400, "JPG")), key);
    stat(file.c_str(), &after);
    EXPECT_EQ(std::tie(before.st_ino, before.st_mtim.tv_nsec), std::tie(after.st_ino, after.st_mtim.tv_nsec));
    const QString other = thumbnails.store(MakeImage(40, 600, "PNG"));
    EXPECT_NE(other, key);
    EXPECT_EQ(QImage(thumbnails.fileOf(other)).size(), QSize(20, 300));
    EXPECT_EQ(thumbnails.fileOf(QString(32, u'0')), "");
    EXPECT_EQ(thumbnails.fileOf("../" + key), "");
}

TEST_F(TagsTest, PicturesThatCannotBeReadGiveNoThumbnailAndOneWarningEach)
{
    Thumbnails thumbnails(m_dir);
    const LogCapture log;
    const std::pair<const char*, QByteArray> rows[] = {
        {"notAPicture", "not an image"}, {"sizeClaimOf100000Squared", PngHeader(100000, 100000)},
        {"wider than 8000", MakeImage(8001, 2, "PNG")}, {"gif", "GIF89a\x01\0\x01\0\0\0\0"_qba},
    };
    for (const auto& [name, bytes] : rows)
        EXPECT_EQ(thumbnails.store(bytes) + thumbnails.store(bytes), "") << name;
    EXPECT_EQ(thumbnails.store({}), "");
    EXPECT_EQ(log.warnings("tallowcrest.library").size(), std::size(rows));
    EXPECT_EQ(QDir(m_dir).entryList(QDir::Files), QStringList());
}

TEST_F(TagsTest, EveryHostileFileGetsAnAnswerAndAVanishedOneNone)
{
    const std::map<std::string, std::optional<QString>> titles{
        {"empty.mp3", std::nullopt}, {"text.mp3", std::nullopt}, {"lone-surrogates.mp3", u"a\ufffdb\ufffd"_s},
        {"frames-10000.mp3", "Title"}, {"v22.mp3", "Old"}, {"picture-16mib.mp3", "Title"}, {"not-utf8-\xff\xfe.mp3", "Bytes"}};
    for (const std::string& path : WriteHostileCorpus(m_dir)) {
        const std::string name = path.substr(path.rfind('/') + 1);
        QByteArray cover, coverFromBytes;
        const std::optional<TrackTags> tags = readTrackTags(path, &cover);
        EXPECT_EQ(readTrackTagsFromBytes(readAll(path), &coverFromBytes), tags) << name;
        EXPECT_EQ(coverFromBytes, cover) << name;
        if (titles.contains(name))
            EXPECT_EQ(tags ? std::optional(tags->title) : std::nullopt, titles.at(name)) << name;
        const std::string folderCover = folderCoverFile(path.substr(0, path.rfind('/')));
        if (!folderCover.empty())
            EXPECT_EQ(Thumbnails(m_dir + "/thumbs").store(readAll(folderCover)), "") << folderCover;
    }
    const std::string gone = MakeTaggedMp3(m_dir, "gone.mp3", {.title = "T"});
    std::filesystem::remove(gone);
    EXPECT_EQ(readTrackTags(gone), std::nullopt);
}

}  // namespace
}  // namespace tallowcrest
