#pragma once

#include <QLoggingCategory>

namespace tallowcrest {

// What goes wrong in the remote layer. Warnings reach standard error by
// default; QT_LOGGING_RULES="tallowcrest.remote.debug=true" shows more.
Q_DECLARE_LOGGING_CATEGORY(remoteLog)

}  // namespace tallowcrest
