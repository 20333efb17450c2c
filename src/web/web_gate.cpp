#include "web/web_gate.h"

#include "web/web_api.h"
#include "web/web_authorisation.h"
#include "web/web_log.h"

#include <QTcpSocket>
#include <QTimer>

#include <optional>

namespace tallowcrest {

namespace {

const char* reasonPhrase(int status)
{
    switch (status) {
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    default: return "Request Header Fields Too Large";
    }
}

// Request line and headers, names folded to lower case.
struct RequestHead {
    QByteArray method;
    QByteArray target;
    std::vector<std::pair<QByteArray, QByteArray>> headers;

    std::vector<QByteArray> values(const QByteArray& name) const
    {
        std::vector<QByteArray> found;
        for (const auto& [key, value] : headers) {
            if (key == name)
                found.push_back(value);
        }
        return found;
    }
    QByteArray value(const QByteArray& name) const
    {
        const std::vector<QByteArray> found = values(name);
        return found.empty() ? QByteArray() : found.front();
    }
};

// The method and target alone, for the log.
RequestHead requestLine(const QByteArray& head)
{
    const QList<QByteArray> words = head.left(head.indexOf('\n')).trimmed().split(' ');
    return {words.value(0), words.value(1), {}};
}

std::optional<RequestHead> parseHead(const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> words = lines.front().trimmed().split(' ');
    if (words.size() != 3 || !words[2].startsWith("HTTP/1."))
        return std::nullopt;
    RequestHead parsed{words[0], words[1], {}};
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (line.isEmpty())
            continue;
        if (colon <= 0)
            return std::nullopt;
        parsed.headers.emplace_back(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    return parsed;
}

void refuse(QTcpSocket* socket, const WebReply& reply, const RequestHead& head)
{
    logRefusal(reply.status, socket->peerAddress(), head.method, head.target);
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status)
        + "\r\nContent-Type: " + reply.contentType + "\r\nContent-Length: " + QByteArray::number(reply.body.size())
        + "\r\n";
    for (const auto& [name, value] : commonHeaders())
        out += name + ": " + value + "\r\n";
    QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    socket->write(out + "\r\n" + reply.body);
    socket->disconnectFromHost();
}

}  // namespace

WebGate::WebGate(const WebAuthorisation& authorisation, std::function<void(QTcpSocket*)> upgrade, QObject* parent)
    : QTcpServer(parent), m_authorisation(authorisation), m_upgrade(std::move(upgrade))
{
}

void WebGate::incomingConnection(qintptr descriptor)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (*m_open >= kMaxConnections) {
        logConnectionRefused(socket->peerAddress(), *m_open);
        socket->abort();
        delete socket;
        return;
    }
    ++*m_open;
    auto counted = std::make_shared<bool>(true);
    const auto release = [open = m_open, counted] {
        if (std::exchange(*counted, false))
            --*open;
    };
    connect(socket, &QAbstractSocket::disconnected, socket, release);
    connect(socket, &QObject::destroyed, socket, release);
    // Until the head is read; then whoever takes the connection owns it.
    connect(socket, &QAbstractSocket::disconnected, this, [socket] { socket->deleteLater(); });

    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, &QAbstractSocket::abort);
    deadline->start(kHeadTimeoutMs);
    connect(socket, &QIODevice::readyRead, this, [this, socket, deadline] {
        const QByteArray buffered = socket->peek(kMaxHeadBytes + 1);
        const qsizetype end = buffered.indexOf("\r\n\r\n");
        if (end < 0 && buffered.size() <= kMaxHeadBytes)
            return;
        delete deadline;
        socket->disconnect(this);
        if (end < 0)
            refuse(socket, errorReply(431, "the request head is larger than 16 KiB"), requestLine(buffered));
        else
            screen(socket, buffered.left(end + 2));
    });
}

void WebGate::screen(QTcpSocket* socket, const QByteArray& head)
{
    const std::optional<RequestHead> request = parseHead(head);
    if (!request)
        return refuse(socket, errorReply(400, "the request head cannot be read"), requestLine(head));
    if (!request->values("transfer-encoding").empty())
        return refuse(socket, errorReply(411, "send the body with a Content-Length"), *request);
    for (const QByteArray& text : request->values("content-length")) {
        bool ok = false;
        const qlonglong length = text.toLongLong(&ok);
        if (!ok || length < 0)
            return refuse(socket, errorReply(400, "the Content-Length is no number"), *request);
        if (length > WebApi::kMaxBodyBytes)
            return refuse(socket, errorReply(413, "the body is larger than 64 KiB"), *request);
    }
    // Any upgrade is screened here: Qt's server would take one to a WebSocket
    // by its own reading of the head.
    if (request->values("upgrade").empty())
        return handToHttp(socket);
    if (request->target != "/api/events")
        return refuse(socket, errorReply(404, "the live connection is at /api/events"), *request);
    const QByteArray origin = request->value("origin");
    if (!m_authorisation.admits(request->value("cookie"), request->value("authorization"))
        || (!origin.isEmpty() && origin != "http://" + request->value("host")))
        return refuse(socket, WebAuthorisation::forbidden(), *request);
    m_upgrade(socket);
}

// One request per connection: once Qt's server has written its answer (in
// the readyRead that brought the request's last byte), the connection closes
// after it and reads nothing more.
void WebGate::handToHttp(QTcpSocket* socket)
{
    addPendingConnection(socket);
    emit newConnection();
    connect(socket, &QIODevice::readyRead, this, [socket] {
        if (socket->bytesToWrite() > 0)
            socket->disconnectFromHost();
    });
    connect(socket, &QIODevice::bytesWritten, socket, &QAbstractSocket::disconnectFromHost);
    emit socket->readyRead();
}

}  // namespace tallowcrest
