#include "library/index_text.h"

#include "library/search_text.h"
#include "library/track_scan.h"

#include <QList>

#include <algorithm>
#include <vector>

namespace tallowcrest {
namespace {

void appendHex(QString& out, char32_t code)
{
    constexpr char16_t kDigits[] = u"0123456789abcdef";
    int shift = 0;
    while (shift < 28 && (code >> (shift + 4)) != 0)
        shift += 4;
    for (; shift >= 0; shift -= 4)
        out += QChar(kDigits[(code >> shift) & 0xf]);
}

// A piece as one number: the first character's code in the high half, the
// second's + 1 in the low half (0 for none).
std::uint64_t pieceOf(char32_t first, char32_t second = char32_t(-1))
{
    return std::uint64_t(first) << 32 | std::uint32_t(second + 1);
}

void appendWord(QString& out, std::uint64_t piece)
{
    out += u'x';
    appendHex(out, char32_t(piece >> 32));
    if (const auto second = std::uint32_t(piece); second != 0) {
        out += u'y';
        appendHex(out, second - 1);
    }
}

}  // namespace

QString indexText(const TrackTags& tags, std::string_view path)
{
    const std::string_view name = TrackTitle(path);
    QString fields[] = {searchText(tags.title), searchText(tags.artist), searchText(tags.album),
                        searchText(tags.albumArtist), searchText(QString::fromUtf8(name.data(), qsizetype(name.size())))};
    for (QString& field : fields)
        field.remove(QChar(kFieldEnd));
    QString text;
    for (std::size_t at = 0; at < std::size(fields); ++at) {
        bool heldElsewhere = fields[at].isEmpty();
        for (std::size_t other = 0; other < std::size(fields) && !heldElsewhere; ++other) {
            heldElsewhere = other != at && fields[other].contains(fields[at])
                            && (fields[other].size() > fields[at].size() || other < at);
        }
        if (!heldElsewhere)
            text += fields[at] + QChar(kFieldEnd);
    }
    return text;
}

QString shortPieceWords(QStringView text)
{
    const QList<uint> codes = text.toUcs4();
    std::vector<std::uint64_t> pieces;
    pieces.reserve(std::size_t(codes.size()) * 2);
    for (qsizetype at = 0; at < codes.size(); ++at) {
        if (codes[at] == kFieldEnd)
            continue;
        pieces.push_back(pieceOf(codes[at]));
        if (at + 1 < codes.size() && codes[at + 1] != kFieldEnd)
            pieces.push_back(pieceOf(codes[at], codes[at + 1]));
    }
    std::sort(pieces.begin(), pieces.end());
    pieces.erase(std::unique(pieces.begin(), pieces.end()), pieces.end());
    QString words;
    words.reserve(qsizetype(pieces.size()) * 8);
    for (const std::uint64_t piece : pieces) {
        appendWord(words, piece);
        words += u' ';
    }
    return words;
}

QString shortPieceWord(QStringView piece)
{
    const QList<uint> codes = piece.toUcs4();
    QString word;
    if (!codes.isEmpty())
        appendWord(word, codes.size() == 1 ? pieceOf(codes[0]) : pieceOf(codes[0], codes[1]));
    return word;
}

int characterCount(QStringView text)
{
    return int(text.toUcs4().size());
}

}  // namespace tallowcrest
