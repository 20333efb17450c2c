#pragma once

#include <QLoggingCategory>

namespace tallowcrest {

// What goes wrong in the mpris layer. Warnings reach standard error by
// default; QT_LOGGING_RULES="tallowcrest.mpris.debug=true" shows more.
Q_DECLARE_LOGGING_CATEGORY(mprisLog)

}  // namespace tallowcrest
