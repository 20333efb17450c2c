#include "web/web_log.h"

#include <QHostAddress>

namespace tallowcrest {

Q_LOGGING_CATEGORY(webLog, "tallowcrest.web", QtWarningMsg)

namespace {

constexpr qsizetype kShownBytes = 100;

// Printable ASCII only: the bytes come from anyone on the network.
QByteArray shown(const QByteArray& bytes)
{
    QByteArray out = bytes.left(kShownBytes);
    for (char& c : out) {
        if (c < 0x20 || c > 0x7e)
            c = '?';
    }
    return bytes.size() > kShownBytes ? out + "..." : out;
}

// An IPv4 peer as such, not as the IPv6 address it arrives under.
QByteArray peerName(const QHostAddress& peer)
{
    bool ipv4 = false;
    const quint32 address = peer.toIPv4Address(&ipv4);
    return (ipv4 ? QHostAddress(address) : peer).toString().toLatin1();
}

}  // namespace

void logRefusal(int status, const QHostAddress& peer, const QByteArray& method, const QByteArray& target)
{
    const bool warn = status == 403 || status == 411 || status == 413 || status == 431 || status >= 500;
    if (status < 400 || !(warn ? webLog().isWarningEnabled() : webLog().isDebugEnabled()))
        return;
    const QByteArray line = "refused " + QByteArray::number(status) + " to " + peerName(peer) + ": "
        + shown(method) + ' ' + shown(target.split('?').front());
    if (warn)
        qCWarning(webLog, "%s", line.constData());
    else
        qCDebug(webLog, "%s", line.constData());
}

void logConnectionRefused(const QHostAddress& peer, int open)
{
    qCWarning(webLog, "refused a connection from %s: %d are open", peerName(peer).constData(), open);
}

}  // namespace tallowcrest
