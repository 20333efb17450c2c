#pragma once

#include "web/web_reply.h"

#include <QByteArray>

namespace tallowcrest {

class Pairing;

// Who may use the remote: a request that shows the pairing token, in the
// cookie a paired browser keeps or as "Authorization: Bearer TOKEN".
class WebAuthorisation {
public:
    static constexpr const char* kCookieName = "tallowcrest";

    explicit WebAuthorisation(const Pairing& pairing) : m_pairing(pairing) {}

    // The raw Cookie and Authorization values; each candidate is compared in
    // constant time.
    bool admits(const QByteArray& cookie, const QByteArray& authorization) const;
    // The pairing link "/?pair=TOKEN": the cookie and a redirect to the page,
    // or the page that says to scan the code again.
    WebReply pair(const QByteArray& candidate) const;
    static WebReply forbidden();

private:
    const Pairing& m_pairing;
};

}  // namespace tallowcrest
