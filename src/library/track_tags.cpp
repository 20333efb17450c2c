#include "library/track_tags.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tiostream.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

namespace tallowcrest {
namespace {

// A file as TagLib reads it, read-only, through pread: the head (tag and first audio frame) and the tail (ID3v1, APE
// footer, last frame) are read once each, anything else as asked. TagLib's own stream seeks a stdio FILE to and fro,
// several system calls per look, which costs more than the tags themselves on a large library.
class FileBytes : public TagLib::IOStream {
public:
    explicit FileBytes(const std::string& path) : m_name(path), m_fd(open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        struct stat info {};
        if (m_fd < 0 || fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            close();
            return;
        }
        m_length = static_cast<long>(std::min<off_t>(info.st_size, std::numeric_limits<long>::max()));
        m_head = readAt(0, std::min(m_length, kHeadSize));
        m_tailStart = std::max(static_cast<long>(m_head.size()), m_length - kTailSize);
        m_tail = readAt(m_tailStart, m_length - m_tailStart);
    }
    ~FileBytes() override { close(); }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    TagLib::FileName name() const override { return m_name.c_str(); }
    TagLib::ByteVector readBlock(unsigned long length) override
    {
        const long size = static_cast<long>(std::min<unsigned long>(length, std::max(0L, m_length - m_position)));
        const long at = m_position;
        m_position += size;
        if (at + size <= static_cast<long>(m_head.size()))
            return TagLib::ByteVector(m_head.data() + at, static_cast<unsigned>(size));
        if (at >= m_tailStart && at + size <= m_tailStart + static_cast<long>(m_tail.size()))
            return TagLib::ByteVector(m_tail.data() + (at - m_tailStart), static_cast<unsigned>(size));
        return readAt(at, size);
    }
    void writeBlock(const TagLib::ByteVector&) override {}
    void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return m_fd >= 0; }
    void seek(long offset, Position from) override
    {
        const long base = from == Beginning ? 0 : from == Current ? m_position : m_length;
        m_position = std::clamp(base + offset, 0L, m_length);
    }
    long tell() const override { return m_position; }
    long length() override { return m_length; }
    void truncate(long) override {}

private:
    static constexpr long kHeadSize = 64 * 1024;
    static constexpr long kTailSize = 8 * 1024;

    // A file that shrinks while read gives what is left.
    TagLib::ByteVector readAt(long at, long size) const
    {
        TagLib::ByteVector bytes(static_cast<unsigned>(std::max(0L, size)), 0);
        const ssize_t got = size > 0 ? pread(m_fd, bytes.data(), static_cast<std::size_t>(size), at) : 0;
        bytes.resize(static_cast<unsigned>(std::max<ssize_t>(0, got)));
        return bytes;
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    std::string m_name;
    int m_fd;
    long m_length = 0;
    long m_position = 0;
    TagLib::ByteVector m_head;
    TagLib::ByteVector m_tail;
    long m_tailStart = 0;
};

// TagLib holds text as UTF-16 code units, one per wchar_t. A tag may end a string halfway through a surrogate pair,
// or carry one alone: those become U+FFFD, as do NULs and anything past U+FFFF.
QString toQString(const TagLib::String& text)
{
    const std::wstring& units = text.toWString();
    QString out(static_cast<qsizetype>(units.size()), Qt::Uninitialized);
    qsizetype n = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const auto unit = static_cast<std::uint32_t>(units[i]);
        const bool pair = QChar::isHighSurrogate(unit) && i + 1 < units.size()
                          && QChar::isLowSurrogate(static_cast<std::uint32_t>(units[i + 1]));
        if (pair) {
            out[n++] = QChar(static_cast<char16_t>(unit));
            out[n++] = QChar(static_cast<char16_t>(units[++i]));
        } else {
            const bool bad = unit == 0 || unit > 0xffff || QChar::isSurrogate(unit);
            out[n++] = bad ? QChar(QChar::ReplacementCharacter) : QChar(static_cast<char16_t>(unit));
        }
    }
    out.truncate(n);
    return out.trimmed();
}

QString frameText(const TagLib::ID3v2::Tag& tag, const char* id)
{
    const TagLib::ID3v2::FrameList& frames = tag.frameList(id);
    return frames.isEmpty() ? QString() : toQString(frames.front()->toString());
}

// The number a text starts with ("3/12" -> 3, "1999-05-01" -> 1999), at most `digits` long; 0 for none.
int leadingNumber(const QString& text, int digits = 6)
{
    int number = 0;
    for (qsizetype i = 0; i < text.size() && i < digits && text[i].isDigit(); ++i)
        number = number * 10 + text[i].digitValue();
    return number;
}

TrackTags readId3v2(const TagLib::ID3v2::Tag& tag, QByteArray* cover)
{
    TrackTags tags{.title = frameText(tag, "TIT2"),
                   .artist = frameText(tag, "TPE1"),
                   .album = frameText(tag, "TALB"),
                   .albumArtist = frameText(tag, "TPE2"),
                   .genre = toQString(tag.genre()),
                   .trackNumber = leadingNumber(frameText(tag, "TRCK")),
                   .discNumber = leadingNumber(frameText(tag, "TPOS"))};
    for (const char* id : {"TDRC", "TYER", "TDOR"})
        if (!tags.year)
            tags.year = leadingNumber(frameText(tag, id), 4);
    if (cover) {
        const TagLib::ID3v2::AttachedPictureFrame* chosen = nullptr;
        for (const TagLib::ID3v2::Frame* frame : tag.frameList("APIC")) {
            const auto* picture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame);
            if (picture && (!chosen || picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover))
                chosen = picture;
            if (chosen && chosen->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover)
                break;
        }
        if (chosen) {
            // Into the caller's own buffer: one kept across calls is not allocated (and faulted in) afresh each time.
            const TagLib::ByteVector bytes = chosen->picture();
            cover->resize(static_cast<qsizetype>(bytes.size()));
            std::copy(bytes.begin(), bytes.end(), cover->data());
        }
    }
    return tags;
}

void fillFromId3v1(TrackTags& tags, const TagLib::ID3v1::Tag& v1)
{
    for (auto [field, text] : {std::pair{&tags.title, v1.title()}, {&tags.artist, v1.artist()},
                               {&tags.album, v1.album()}, {&tags.genre, v1.genre()}})
        if (field->isEmpty())
            *field = toQString(text);
    if (!tags.trackNumber)
        tags.trackNumber = static_cast<int>(std::min(v1.track(), 999u));
    if (!tags.year)
        tags.year = static_cast<int>(std::min(v1.year(), 9999u));
}

std::optional<TrackTags> readStream(TagLib::IOStream& stream, QByteArray* cover)
{
    try {
        TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), true,
                                TagLib::AudioProperties::Average);
        if (!file.isValid() || !file.audioProperties() || file.firstFrameOffset() < 0)
            return std::nullopt;
        TrackTags tags;
        if (file.hasID3v2Tag())
            tags = readId3v2(*file.ID3v2Tag(), cover);
        if (file.hasID3v1Tag())
            fillFromId3v1(tags, *file.ID3v1Tag());
        tags.lengthMs = std::max(0, file.audioProperties()->lengthInMilliseconds());
        return tags;
    } catch (...) {
        // Hostile sizes can make TagLib throw std::bad_alloc; the file is skipped, not the scan.
        if (cover)
            cover->resize(0);
        return std::nullopt;
    }
}

}  // namespace

std::optional<TrackTags> readTrackTags(const std::string& path, QByteArray* cover)
{
    if (cover)
        cover->resize(0);
    try {
        FileBytes stream(path);
        return stream.isOpen() ? readStream(stream, cover) : std::nullopt;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<TrackTags> readTrackTagsFromBytes(const QByteArray& bytes, QByteArray* cover)
{
    if (cover)
        cover->resize(0);
    try {
        TagLib::ByteVectorStream stream(TagLib::ByteVector(bytes.constData(), static_cast<unsigned>(bytes.size())));
        return readStream(stream, cover);
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace tallowcrest
