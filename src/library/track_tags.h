#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>

namespace tallowcrest {

// What a track's tags say: empty texts and zeros where they say nothing.
struct TrackTags {
    QString title;
    QString artist;
    QString album;
    QString albumArtist;
    QString genre;
    int trackNumber = 0;
    int discNumber = 0;
    int year = 0;
    // From the audio stream; 0 when unknown.
    qint64 lengthMs = 0;

    bool operator==(const TrackTags&) const = default;
    // No title, artist or album: the file name and folder stand in.
    bool isBare() const { return title.isEmpty() && artist.isEmpty() && album.isEmpty(); }
};

// Reads an MP3 file's tags: ID3v2.2/2.3/2.4, else ID3v1. When `cover` is
// given it receives the embedded front cover's bytes (picture type 3, else
// the first picture), or stays empty. nullopt when the file cannot be read
// as MPEG audio at all. Never throws; hostile files are skipped, not trusted.
std::optional<TrackTags> readTrackTags(const std::string& path, QByteArray* cover = nullptr);
// The same from a whole file's bytes held in memory.
std::optional<TrackTags> readTrackTagsFromBytes(const QByteArray& bytes, QByteArray* cover = nullptr);

}  // namespace tallowcrest
