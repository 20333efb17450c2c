#pragma once

#include <QString>
#include <QStringView>

namespace tallowcrest {

// Text as search compares it: lower case, accents and other marks dropped,
// letters without a decomposition spelled as plain Latin (ø → o, æ → ae,
// ß → ss, ł → l, đ → d...), so "Dvořák" and "dvorak" read alike.
QString searchText(QStringView text);

}  // namespace tallowcrest
