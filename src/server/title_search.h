#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace tallowcrest {

// Case-insensitive substring test on titles taken from file names. Most
// titles and queries are ASCII and are compared byte by byte without
// decoding; the rest are decoded as a file dialog would show them.
class TitleMatcher {
public:
    explicit TitleMatcher(const QString& query);

    bool matches(std::string_view title) const;

private:
    QString m_query;
    std::string m_lowered;
    bool m_ascii = true;
};

// A file name's bytes as Qt shows file names.
QString decodedName(std::string_view bytes);

}  // namespace tallowcrest
