#pragma once

#include <QByteArray>

#include <utility>
#include <vector>

namespace tallowcrest {

using WebHeaders = std::vector<std::pair<QByteArray, QByteArray>>;

// An answer as the web remote's parts make it, free of sockets.
struct WebReply {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    WebHeaders headers = {};
};

// A reply whose body is {"error": reason}.
WebReply errorReply(int status, const QByteArray& reason);

// What every answer carries besides its own headers: it closes its
// connection, is never cached or sniffed, sends no referrer, and the page
// loads nothing from elsewhere. The live connection is named in
// connect-src: older phone browsers do not count ws: as 'self'.
const WebHeaders& commonHeaders();

}  // namespace tallowcrest
