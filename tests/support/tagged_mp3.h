#pragma once
#include "library/track_tags.h"
#include "support/mp3_fixture.h"
#include <QBuffer>
#include <QImage>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <map>

namespace tallowcrest {
// How MakeTaggedMp3 writes: ID3v2.4 (4), ID3v2.3 (3) or ID3v1 alone (1); the text encoding of every ID3v2 text frame;
// the cover's picture type; raw text frames written after (and over) those made from the tags, e.g. {"TRCK", "3/12"}.
struct TagWriting {
    int version = 4;
    TagLib::String::Type encoding = TagLib::String::UTF8;
    TagLib::ID3v2::AttachedPictureFrame::Type pictureType = TagLib::ID3v2::AttachedPictureFrame::FrontCover;
    std::map<std::string, QString> frames;
};
inline TagLib::String ToTagLib(const QString& text) { return TagLib::String(text.toStdWString()); }
// A real MP3 (MakeMp3) with tags written by TagLib; a non-empty cover becomes an APIC frame. Returns the path.
inline std::string MakeTaggedMp3(const QString& dir, const std::string& name, const TrackTags& tags,
                                 const QByteArray& cover = {}, const TagWriting& how = {}, double seconds = 1.0)
{
    const std::string path = MakeMp3(dir, name, seconds);
    TagLib::MPEG::File file(path.c_str(), false);
    if (how.version == 1) {
        TagLib::ID3v1::Tag* tag = file.ID3v1Tag(true);
        tag->setTitle(ToTagLib(tags.title)), tag->setArtist(ToTagLib(tags.artist)), tag->setAlbum(ToTagLib(tags.album));
        tag->setGenre(ToTagLib(tags.genre)), tag->setTrack(tags.trackNumber), tag->setYear(tags.year);
        if (!file.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripOthers))
            throw std::runtime_error("MakeTaggedMp3: cannot save " + path);
        return path;
    }
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    std::map<std::string, QString> frames{{"TIT2", tags.title}, {"TPE1", tags.artist}, {"TALB", tags.album},
                                          {"TPE2", tags.albumArtist}, {"TCON", tags.genre}};
    for (auto [id, number] : {std::pair{"TRCK", tags.trackNumber}, {"TPOS", tags.discNumber}, {"TDRC", tags.year}})
        frames[id] = number ? QString::number(number) : QString();
    for (const auto& [id, text] : how.frames)
        frames[id] = text;
    for (const auto& [id, text] : frames) {
        if (text.isEmpty())
            continue;
        auto* frame = new TagLib::ID3v2::TextIdentificationFrame(TagLib::ByteVector(id.c_str(), 4), how.encoding);
        frame->setText(ToTagLib(text));
        tag->addFrame(frame);
    }
    if (!cover.isEmpty()) {
        auto* picture = new TagLib::ID3v2::AttachedPictureFrame;
        picture->setMimeType(cover.startsWith("\x89PNG") ? "image/png" : "image/jpeg");
        picture->setType(how.pictureType);
        picture->setPicture(TagLib::ByteVector(cover.constData(), static_cast<unsigned>(cover.size())));
        tag->addFrame(picture);
    }
    const auto version = how.version == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4;
    if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, version))
        throw std::runtime_error("MakeTaggedMp3: cannot save " + path);
    return path;
}
// An encoded picture of w x h pixels in format ("JPG", "PNG"), its colours made from its size.
inline QByteArray MakeImage(int w, int h, const char* format)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor::fromRgb((w * 7) % 256, (h * 13) % 256, (w + h) % 256));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}
}  // namespace tallowcrest
