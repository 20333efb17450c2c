#pragma once

#include <QLoggingCategory>

namespace tallowcrest {

// What goes wrong in the playback layer. Warnings reach standard error by
// default; QT_LOGGING_RULES="tallowcrest.playback.debug=true" shows more.
Q_DECLARE_LOGGING_CATEGORY(playbackLog)

}  // namespace tallowcrest
