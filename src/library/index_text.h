#pragma once

#include "library/track_tags.h"

#include <QString>
#include <QStringView>

#include <string_view>

namespace tallowcrest {

// What search reads of a track: the folded title, artist, album, album
// artist and file-name title, each ended by kFieldEnd; a field found whole
// inside another is left out, as every match in it is a match in the other.
// Queries never hold kFieldEnd, so no match spans two fields.
inline constexpr char16_t kFieldEnd = u'\x1f';
QString indexText(const TrackTags& tags, std::string_view path);

// Queries of one or two characters cannot be looked up by trigrams; the
// index keeps a word per distinct one- and two-character piece of each field
// of indexText() instead: "x" + the first character's code in hex, then for
// a pair "y" + the second's.
QString shortPieceWords(QStringView text);
QString shortPieceWord(QStringView piece);

// The number of characters (code points) in text.
int characterCount(QStringView text);

}  // namespace tallowcrest
