#pragma once

#include <QByteArray>
#include <QString>
#include <string>
#include <vector>

namespace tallowcrest {

// ID3v2 bytes made by hand, for what TagLib will not write. A frame of version 2 has a three-letter id; version 4
// sizes are sync-safe. A tag's claimed size, when given, replaces the true one.
QByteArray Id3Frame(const char* id, const QByteArray& body, int version = 4);
QByteArray Id3Tag(int version, const QByteArray& frames, char flags = 0, qint64 claimedSize = -1);
// Text frame bodies: ISO-8859-1, and UTF-16 little-endian with its BOM or big-endian without.
QByteArray Latin1Body(const QByteArray& text);
QByteArray Utf16Body(const QString& text, bool bigEndianNoBom = false);
// A PNG's signature and header claiming w x h pixels, and no pixels.
QByteArray PngHeader(quint32 w, quint32 h);
// head + a real MP3's audio at dir/name (raw bytes); returns the path.
std::string WriteMp3WithHead(const QString& dir, const std::string& name, const QByteArray& head);
// Files that have broken tag readers, in dir: the tracks' paths. Two album folders beside them hold a cover.jpg
// that is no picture and a cover.png whose header claims 100,000 x 100,000 pixels. Some names are not UTF-8.
std::vector<std::string> WriteHostileCorpus(const QString& dir);

}  // namespace tallowcrest
