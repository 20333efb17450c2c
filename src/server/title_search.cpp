#include "server/title_search.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>

namespace tallowcrest {

namespace {

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

}  // namespace

QString decodedName(std::string_view bytes)
{
    return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

TitleMatcher::TitleMatcher(const QString& query) : m_query(query)
{
    const QByteArray utf8 = query.toUtf8();
    m_ascii = isAscii(std::string_view(utf8.constData(), std::size_t(utf8.size())));
    for (char c : utf8)
        m_lowered.push_back(asciiLower(c));
}

bool TitleMatcher::matches(std::string_view title) const
{
    if (m_ascii) {
        return std::search(title.begin(), title.end(), m_lowered.begin(), m_lowered.end(),
                           [](char a, char b) { return asciiLower(a) == b; })
            != title.end();
    }
    return !isAscii(title) && decodedName(title).contains(m_query, Qt::CaseInsensitive);
}

}  // namespace tallowcrest
