#pragma once

#include <QByteArray>
#include <QLoggingCategory>

class QHostAddress;

namespace tallowcrest {

// What goes wrong in the web layer. Warnings reach standard error by
// default; QT_LOGGING_RULES="tallowcrest.web.debug=true" shows more.
Q_DECLARE_LOGGING_CATEGORY(webLog)

// One line for a refused request: a warning for what points at a stranger
// or a stale pairing (403, 411, 413, 431, 500), a debug line for a script's
// own mistakes (400, 404, 405, 409), nothing for the rest. Only the method
// and the path are written, never the query, a cookie or a header.
void logRefusal(int status, const QHostAddress& peer, const QByteArray& method, const QByteArray& target);
// A connection closed at once: `open` connections are kept already.
void logConnectionRefused(const QHostAddress& peer, int open);

}  // namespace tallowcrest
