#pragma once

#include <QLoggingCategory>

namespace tallowcrest {

// What goes wrong in the library layer. Warnings reach standard error by
// default; QT_LOGGING_RULES="tallowcrest.library.debug=true" shows more.
Q_DECLARE_LOGGING_CATEGORY(libraryLog)

}  // namespace tallowcrest
