#pragma once

#include <QLoggingCategory>

namespace tallowcrest {

// What goes wrong in the server layer. Warnings reach standard error by
// default; QT_LOGGING_RULES="tallowcrest.server.debug=true" shows more.
Q_DECLARE_LOGGING_CATEGORY(serverLog)

}  // namespace tallowcrest
