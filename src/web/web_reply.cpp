#include "web/web_reply.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace tallowcrest {

WebReply errorReply(int status, const QByteArray& reason)
{
    return {status, "application/json",
            QJsonDocument(QJsonObject{{"error", QString::fromUtf8(reason)}}).toJson(QJsonDocument::Compact)};
}

const WebHeaders& commonHeaders()
{
    static const WebHeaders kHeaders = {
        {"Connection", "close"},
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"Content-Security-Policy",
         "default-src 'self'; img-src 'self' data:; connect-src 'self' ws: wss:; frame-ancestors 'none'"},
    };
    return kHeaders;
}

}  // namespace tallowcrest
