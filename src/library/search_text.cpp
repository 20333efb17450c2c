#include "library/search_text.h"

namespace tallowcrest {
namespace {

// Letters that compatibility decomposition leaves whole, as their plain Latin spelling (after case folding).
const char* plainSpelling(char32_t letter)
{
    switch (letter) {
    case U'ø': return "o";
    case U'æ': return "ae";
    case U'œ': return "oe";
    case U'ß': return "ss";
    case U'ł': return "l";
    case U'đ': return "d";
    case U'ð': return "d";
    case U'þ': return "th";
    case U'ı': return "i";
    case U'ħ': return "h";
    case U'ŧ': return "t";
    case U'ŋ': return "n";
    case U'ƒ': return "f";
    case U'ɨ': return "i";
    case U'ƶ': return "z";
    case U'ĸ': return "k";
    default: return nullptr;
    }
}

bool isMark(char32_t c)
{
    const QChar::Category category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
           || category == QChar::Mark_Enclosing;
}

}  // namespace

QString searchText(QStringView text)
{
    // Most rows are plain ASCII: lower case is all they need.
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii) {
        QString out(text.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            out[i] = QChar(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
        }
        return out;
    }
    const QString decomposed = text.toString().normalized(QString::NormalizationForm_KD);
    QString out;
    out.reserve(decomposed.size());
    for (qsizetype i = 0; i < decomposed.size(); ++i) {
        char32_t c = decomposed[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < decomposed.size() && decomposed[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(decomposed[i].unicode(), decomposed[i + 1].unicode());
            ++i;
        }
        if (isMark(c))
            continue;
        c = QChar::toCaseFolded(c);
        if (const char* plain = plainSpelling(c))
            out += QLatin1StringView(plain);
        else
            out += QStringView(QChar::fromUcs4(c));
    }
    return out;
}

}  // namespace tallowcrest
