#include "library/index_text.h"

#include "library/search_text.h"
#include "library/track_scan.h"

#include <QSet>

namespace tallowcrest {

QString indexText(const TrackTags& tags, std::string_view path)
{
    const std::string_view title = TrackTitle(path);
    QString text;
    for (const QString& field : {tags.title, tags.artist, tags.album, tags.albumArtist,
                                 QString::fromUtf8(title.data(), qsizetype(title.size()))}) {
        text += searchText(field).remove(QChar(kFieldEnd));
        text += QChar(kFieldEnd);
    }
    return text;
}

QString shortPieceWord(QStringView piece)
{
    return u'x' + QString::fromLatin1(piece.toUtf8().toHex());
}

QString shortPieceWords(QStringView text)
{
    QSet<QString> words;
    for (const QStringView field : text.split(QChar(kFieldEnd))) {
        qsizetype previous = -1;
        for (qsizetype at = 0; at < field.size();) {
            const qsizetype next = at + (field[at].isHighSurrogate() && at + 1 < field.size() ? 2 : 1);
            words.insert(shortPieceWord(field.mid(at, next - at)));
            if (previous >= 0)
                words.insert(shortPieceWord(field.mid(previous, next - previous)));
            previous = at;
            at = next;
        }
    }
    return QStringList(words.begin(), words.end()).join(u' ');
}

int characterCount(QStringView text)
{
    return int(text.toUcs4().size());
}

}  // namespace tallowcrest
