#include "support/hostile_corpus.h"
#include "support/tagged_mp3.h"
#include <QDir>
#include <fstream>

namespace tallowcrest {
using namespace Qt::Literals::StringLiterals;
namespace {
QByteArray bigEndian(quint32 n, int bytes)
{
    QByteArray out;
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out += char(n >> shift);
    return out;
}
quint32 syncSafe(quint32 n) { return (n & 0x7f) | (n << 1 & 0x7f00) | (n << 2 & 0x7f0000) | (n << 3 & 0x7f000000); }
void writeFile(const std::string& path, const QByteArray& bytes) { std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size()); }
}  // namespace

QByteArray PngHeader(quint32 w, quint32 h)
{
    const QByteArray chunk = "IHDR" + bigEndian(w, 4) + bigEndian(h, 4) + QByteArray("\x08\x02\0\0\0", 5);
    quint32 crc = 0xffffffff;
    for (char c : chunk) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? (crc >> 1) ^ 0xedb88320 : crc >> 1;
    }
    return "\x89PNG\r\n\x1a\n" + bigEndian(13, 4) + chunk + bigEndian(~crc, 4);
}

QByteArray Id3Frame(const char* id, const QByteArray& body, int version)
{
    const quint32 size = quint32(body.size());
    if (version == 2)
        return id + bigEndian(size, 3) + body;
    return id + bigEndian(version == 4 ? syncSafe(size) : size, 4) + QByteArray(2, '\0') + body;
}

QByteArray Id3Tag(int version, const QByteArray& frames, char flags, qint64 claimedSize)
{
    const quint32 size = quint32(claimedSize < 0 ? frames.size() : claimedSize);
    return "ID3" + QByteArray(1, char(version)) + '\0' + flags + bigEndian(syncSafe(size), 4) + frames;
}

QByteArray Latin1Body(const QByteArray& text) { return '\0' + text; }

QByteArray Utf16Body(const QString& text, bool bigEndianNoBom)
{
    QByteArray out(bigEndianNoBom ? "\x02" : "\x01\xff\xfe");
    for (QChar c : text)
        out += bigEndianNoBom ? bigEndian(c.unicode(), 2) : bigEndian(c.unicode() >> 8 | c.unicode() << 8, 2);
    return out;
}

std::string WriteMp3WithHead(const QString& dir, const std::string& name, const QByteArray& head)
{
    const std::string path = MakeMp3(dir, name);
    std::ifstream in(path, std::ios::binary);
    const QByteArray audio = QByteArray::fromStdString({std::istreambuf_iterator<char>(in), {}});
    writeFile(path, head + audio);
    return path;
}

std::vector<std::string> WriteHostileCorpus(const QString& dir)
{
    const QByteArray title = Id3Frame("TIT2", Latin1Body("Title"));
    QByteArray manyFrames;
    for (int i = 0; i < 10000; ++i)
        manyFrames += Id3Frame("TXXX", Latin1Body("k\0v"_qba + QByteArray::number(i)));
    QByteArray lone = Utf16Body(QStringLiteral("ab"));
    lone.insert(5, QByteArray("\x00\xd8", 2)).append("\x00\xdc", 2);
    const std::string root = QFile::encodeName(dir).toStdString() + '/';
    std::vector<std::string> tracks{
        WriteMp3WithHead(dir, "size-past-end.mp3", Id3Tag(4, title, 0, 0x0fffffff)),
        WriteMp3WithHead(dir, "picture-16mib.mp3",
                         Id3Tag(3, title + Id3Frame("APIC", "\0image/jpeg\0\x03\0\xff\xd8\xff"_qba + QByteArray(16 << 20, 'x'), 3))),
        WriteMp3WithHead(dir, "frames-10000.mp3", Id3Tag(4, title + manyFrames)),
        WriteMp3WithHead(dir, "unsynchronised.mp3", Id3Tag(3, Id3Frame("TIT2", Latin1Body("\xff\x00\xe0 x"_qba), 3), '\x80')),
        WriteMp3WithHead(dir, "lone-surrogates.mp3", Id3Tag(4, Id3Frame("TIT2", lone))),
        WriteMp3WithHead(dir, "frame-past-tag.mp3", Id3Tag(4, "TIT2\x7f\x7f\x7f\x7f\0\0\0x"_qba)),
        WriteMp3WithHead(dir, "v22.mp3", Id3Tag(2, Id3Frame("TT2", Latin1Body("Old"), 2) + Id3Frame("PIC", "\0JPG\x03\0\xff\xd8"_qba, 2))),
        MakeTaggedMp3(dir, "not-utf8-\xff\xfe.mp3", {.title = "Bytes"}),
        root + "empty.mp3", root + "truncated.mp3", root + "text.mp3"};
    writeFile(tracks[8], {});
    writeFile(tracks[9], Id3Tag(4, title, 0, 2000).left(14));
    writeFile(tracks[10], "not audio at all\n");
    for (const auto& [album, cover, bytes] : {std::tuple{"album-not-image", "cover.jpg", "not an image"_qba},
                                              {"album-huge-png", "cover.png", PngHeader(100000, 100000)}}) {
        QDir(dir).mkdir(album);
        writeFile(root + album + '/' + cover, bytes);
        tracks.push_back(MakeTaggedMp3(dir + '/' + album, "track.mp3", {.title = "In " + QString(album)}));
    }
    return tracks;
}

}  // namespace tallowcrest
