#pragma once

#include <QLoggingCategory>

namespace tallowcrest {

// What goes wrong in the web layer. Warnings reach standard error by
// default; QT_LOGGING_RULES="tallowcrest.web.debug=true" shows more.
Q_DECLARE_LOGGING_CATEGORY(webLog)

}  // namespace tallowcrest
