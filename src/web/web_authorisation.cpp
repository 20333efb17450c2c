#include "web/web_authorisation.h"

#include "web/pairing.h"

#include <QList>

namespace tallowcrest {

namespace {

// About a year; the token itself is what unpairs.
constexpr const char* kCookieLifetime = "31536000";

std::string_view view(const QByteArray& bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
}

}  // namespace

bool WebAuthorisation::admits(const QByteArray& cookie, const QByteArray& authorization) const
{
    if (authorization.startsWith("Bearer ") && m_pairing.admits(view(authorization.mid(7).trimmed())))
        return true;
    for (const QByteArray& pair : cookie.split(';')) {
        const QByteArray trimmed = pair.trimmed();
        const qsizetype equals = trimmed.indexOf('=');
        if (equals > 0 && trimmed.left(equals) == kCookieName && m_pairing.admits(view(trimmed.mid(equals + 1))))
            return true;
    }
    return false;
}

WebReply WebAuthorisation::pair(const QByteArray& candidate) const
{
    if (!m_pairing.admits(view(candidate)))
        return forbidden();
    return {303, "text/plain; charset=utf-8", "Paired.\n",
            {{"Location", "/"},
             {"Set-Cookie", QByteArray(kCookieName) + '=' + QByteArray::fromStdString(m_pairing.token())
                  + "; Path=/; Max-Age=" + kCookieLifetime + "; HttpOnly; SameSite=Strict"}}};
}

WebReply WebAuthorisation::forbidden()
{
    return {403, "text/html; charset=utf-8",
            "<!doctype html><meta name=viewport content=\"width=device-width\"><title>Not paired</title>"
            "<p>This phone is not paired with Tallowcrest Server. Scan the code again: "
            "the phone button on the server's player strip shows it.</p>\n"};
}

}  // namespace tallowcrest
