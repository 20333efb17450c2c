#include "web/web_remote.h"

#include "server/connection_lifecycle.h"
#include "server/dialogs.h"
#include "server/now_playing.h"

#include <QAbstractHttpServer>
#include <QFile>
#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

#include <unistd.h>

#include <algorithm>

// The page is built into this static library; its resources are linked in
// only when something refers to them.
static void initPageResources()
{
    Q_INIT_RESOURCE(page);
}

namespace tallowcrest {

namespace {

constexpr qsizetype kMaxHeadBytes = 16 * 1024;
constexpr int kHeadTimeoutMs = 10000;
constexpr int kPingIntervalMs = 30000;
constexpr int kPositionEveryMs = 1000;
constexpr const char* kCookieName = "tallowcrest";
// About a year; the token itself is what unpairs.
constexpr const char* kCookieLifetime = "31536000";

const char* reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 303: return "See Other";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 431: return "Request Header Fields Too Large";
    default: return "Internal Server Error";
    }
}

// Every answer closes its connection, so that each request passes the
// connection limit and the screening of its head. The live connection is
// named in connect-src: older phone browsers do not count ws: as 'self'.
QByteArray encodeReply(const WebReply& reply)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status)
        + "\r\nContent-Type: " + reply.contentType + "\r\nContent-Length: " + QByteArray::number(reply.body.size())
        + "\r\nConnection: close\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff"
          "\r\nReferrer-Policy: no-referrer\r\nContent-Security-Policy: default-src 'self'; "
          "img-src 'self' data:; connect-src 'self' ws: wss:; frame-ancestors 'none'\r\n";
    for (const auto& [name, value] : reply.headers)
        out += name + ": " + value + "\r\n";
    return out + "\r\n" + reply.body;
}

void replyAndClose(QTcpSocket* socket, const WebReply& reply)
{
    QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    socket->write(encodeReply(reply));
    socket->disconnectFromHost();
}

WebReply forbidden()
{
    return {403, "text/html; charset=utf-8",
            "<!doctype html><meta name=viewport content=\"width=device-width\"><title>Not paired</title>"
            "<p>This phone is not paired with Tallowcrest Server. Scan the code again: "
            "the phone button on the server's player strip shows it.</p>\n"};
}

// Request line and headers, names folded to lower case.
struct RequestHead {
    QByteArray target;
    std::vector<std::pair<QByteArray, QByteArray>> headers;

    QByteArray value(const QByteArray& name) const
    {
        for (const auto& [key, value] : headers) {
            if (key == name)
                return value;
        }
        return {};
    }
    bool has(const QByteArray& name) const
    {
        return std::any_of(headers.begin(), headers.end(), [&](const auto& header) { return header.first == name; });
    }
};

std::optional<RequestHead> parseHead(const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.front().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1."))
        return std::nullopt;
    RequestHead parsed{requestLine[1], {}};
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

const char* methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Post: return "POST";
    default: return "OTHER";
    }
}

}  // namespace

// Takes every connection first: refuses those beyond the limit, and reads
// the head of the first request before Qt's HTTP server sees it, so that
// oversized bodies are refused unread and WebSocket upgrades are checked
// for the token before they are accepted.
class WebRemote::Gate : public QTcpServer {
public:
    explicit Gate(WebRemote& remote) : m_remote(remote) {}

    void handToHttp(QTcpSocket* socket)
    {
        addPendingConnection(socket);
        emit newConnection();
        emit socket->readyRead();
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (*m_open >= kMaxConnections) {
            ::close(int(descriptor));
            return;
        }
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
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
                replyAndClose(socket, errorReply(431, "the request head is larger than 16 KiB"));
            else
                m_remote.screen(socket, buffered.left(end + 2));
        });
    }

private:
    WebRemote& m_remote;
    std::shared_ptr<int> m_open = std::make_shared<int>(0);
};

class WebRemote::HttpServer : public QAbstractHttpServer {
public:
    explicit HttpServer(WebRemote& remote) : m_remote(remote) {}

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        replyAndClose(socket, m_remote.answer(request));
        return true;
    }
    void missingHandler(const QHttpServerRequest&, QTcpSocket* socket) override
    {
        replyAndClose(socket, errorReply(404, "not found"));
    }

private:
    WebRemote& m_remote;
};

WebRemote::WebRemote(Controls& controls, const NowPlaying& nowPlaying, ISettingsStore& settings,
                     IMessageBox& messageBox, QObject* parent)
    : QObject(parent),
      m_settings(settings),
      m_messageBox(messageBox),
      m_pairing(settings),
      m_api(controls, nowPlaying),
      m_http(std::make_unique<HttpServer>(*this)),
      m_events(std::make_unique<QWebSocketServer>(QStringLiteral("Tallowcrest Server"),
                                                  QWebSocketServer::NonSecureMode))
{
    initPageResources();
    connect(m_events.get(), &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket* socket = m_events->nextPendingConnection())
            subscribe(socket);
    });
    m_pinger.setInterval(kPingIntervalMs);
    connect(&m_pinger, &QTimer::timeout, this, &WebRemote::pingSubscribers);

    // The page counts the time on by itself; the player's own word only
    // corrects it now and then.
    connect(&nowPlaying, &NowPlaying::changed, this, [this](NowPlaying::Changes what) {
        if (what != NowPlaying::Changes(NowPlaying::Change::Position) || !m_sinceBroadcast.isValid()
            || m_sinceBroadcast.elapsed() >= kPositionEveryMs)
            scheduleBroadcast();
    });
}

WebRemote::~WebRemote()
{
    // Before the gate, which holds the connections under them.
    for (const Subscriber& subscriber : std::exchange(m_subscribers, {})) {
        subscriber.socket->disconnect(this);
        delete subscriber.socket;
    }
}

bool WebRemote::start()
{
    const std::string portText = readWebPortText(m_settings);
    if (webRemoteOff(portText))
        return false;
    const std::string where = "Cannot listen on port \"" + portText + "\" for the phone remote:\r\n";
    const std::optional<int32_t> port = parsePortText(portText);
    if (!port) {
        m_messageBox.show(where + "the port must be a whole number from 1 to 65535.", "Error",
                          MessageStyle::Critical);
        return false;
    }
    auto gate = std::make_unique<Gate>(*this);
    if (!gate->listen(QHostAddress::Any, quint16(*port))) {
        m_messageBox.show(where + gate->errorString().toStdString(), "Error", MessageStyle::Critical);
        return false;
    }
    m_port = gate->serverPort();
    m_gate = gate.release();
    m_http->bind(m_gate);
    return true;
}

std::string WebRemote::pairingUrl() const
{
    return tallowcrest::pairingUrl(pairingAddress(), m_port, m_pairing.token());
}

void WebRemote::newCode()
{
    m_pairing.renew();
    for (const Subscriber& subscriber : std::vector(m_subscribers))
        subscriber.socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("unpaired"));
}

void WebRemote::screen(QTcpSocket* socket, const QByteArray& head)
{
    const std::optional<RequestHead> request = parseHead(head);
    if (!request)
        return replyAndClose(socket, errorReply(400, "the request head cannot be read"));
    if (request->has("transfer-encoding"))
        return replyAndClose(socket, errorReply(411, "send the body with a Content-Length"));
    if (request->has("content-length")) {
        bool ok = false;
        const qlonglong length = request->value("content-length").toLongLong(&ok);
        if (!ok || length < 0)
            return replyAndClose(socket, errorReply(400, "the Content-Length is no number"));
        if (length > WebApi::kMaxBodyBytes)
            return replyAndClose(socket, errorReply(413, "the body is larger than 64 KiB"));
    }
    if (request->value("upgrade").compare("websocket", Qt::CaseInsensitive) != 0)
        return m_gate->handToHttp(socket);

    if (request->target != "/api/events")
        return replyAndClose(socket, errorReply(404, "the live connection is at /api/events"));
    const QByteArray origin = request->value("origin");
    if (!admits(request->value("cookie"), request->value("authorization"))
        || (!origin.isEmpty() && origin != "http://" + request->value("host")))
        return replyAndClose(socket, forbidden());
    m_events->handleConnection(socket);
    emit socket->readyRead();
}

WebReply WebRemote::answer(const QHttpServerRequest& request)
{
    static const std::vector<std::pair<QString, QByteArray>> kPageFiles = {
        {QStringLiteral("/"), "text/html; charset=utf-8"},
        {QStringLiteral("/app.js"), "text/javascript; charset=utf-8"},
        {QStringLiteral("/style.css"), "text/css; charset=utf-8"},
    };
    const QString path = request.url().path();
    const QUrlQuery query = request.query();
    if (path == QLatin1String("/") && query.hasQueryItem(QStringLiteral("pair"))) {
        if (!m_pairing.admits(query.queryItemValue(QStringLiteral("pair")).toStdString()))
            return forbidden();
        return {303, "text/plain; charset=utf-8", "Paired.\n",
                {{"Location", "/"},
                 {"Set-Cookie", QByteArray(kCookieName) + '=' + QByteArray::fromStdString(m_pairing.token())
                      + "; Path=/; Max-Age=" + kCookieLifetime + "; HttpOnly; SameSite=Strict"}}};
    }
    if (!admits(request.value("cookie"), request.value("authorization")))
        return forbidden();
    const char* method = methodName(request.method());
    if (path.startsWith(QLatin1String("/api/"))) {
        WebReply reply = m_api.handle(method, path.mid(5), query, request.body());
        if (reply.status == 200 && request.method() == QHttpServerRequest::Method::Post)
            scheduleBroadcast();
        return reply;
    }
    const auto file = std::find_if(kPageFiles.begin(), kPageFiles.end(),
                                   [&](const auto& entry) { return entry.first == path; });
    if (file == kPageFiles.end())
        return errorReply(404, "not found");
    if (request.method() != QHttpServerRequest::Method::Get)
        return errorReply(405, "use GET");
    QFile resource(QStringLiteral(":/web") + (path == QLatin1String("/") ? QStringLiteral("/index.html") : path));
    if (!resource.open(QIODevice::ReadOnly))
        return errorReply(500, "the page is missing from the program");
    return {200, file->second, resource.readAll()};
}

bool WebRemote::admits(const QByteArray& cookie, const QByteArray& authorization) const
{
    if (authorization.startsWith("Bearer ") && m_pairing.admits(authorization.mid(7).trimmed().toStdString()))
        return true;
    for (const QByteArray& pair : cookie.split(';')) {
        const QByteArray trimmed = pair.trimmed();
        const qsizetype equals = trimmed.indexOf('=');
        if (equals > 0 && trimmed.left(equals) == kCookieName
            && m_pairing.admits(trimmed.mid(equals + 1).toStdString()))
            return true;
    }
    return false;
}

void WebRemote::subscribe(QWebSocket* socket)
{
    socket->setParent(this);
    socket->setMaxAllowedIncomingFrameSize(WebApi::kMaxBodyBytes);
    socket->setMaxAllowedIncomingMessageSize(WebApi::kMaxBodyBytes);
    m_subscribers.push_back({socket, true});
    connect(socket, &QWebSocket::pong, this, [this, socket] {
        for (Subscriber& subscriber : m_subscribers)
            subscriber.answered |= subscriber.socket == socket;
    });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        std::erase_if(m_subscribers, [socket](const Subscriber& subscriber) { return subscriber.socket == socket; });
        if (m_subscribers.empty())
            m_pinger.stop();
        socket->deleteLater();
    });
    if (!m_pinger.isActive())
        m_pinger.start();
    socket->sendTextMessage(QString::fromUtf8(QJsonDocument(m_api.state()).toJson(QJsonDocument::Compact)));
}

// Changes that come together (a new track: state, duration, caption) go out
// as one message.
void WebRemote::scheduleBroadcast()
{
    if (m_broadcastPending || m_subscribers.empty())
        return;
    m_broadcastPending = true;
    QTimer::singleShot(0, this, &WebRemote::broadcast);
}

void WebRemote::broadcast()
{
    m_broadcastPending = false;
    m_sinceBroadcast.start();
    const QString message = QString::fromUtf8(QJsonDocument(m_api.state()).toJson(QJsonDocument::Compact));
    for (const Subscriber& subscriber : std::vector(m_subscribers))
        subscriber.socket->sendTextMessage(message);
}

// A phone that went to sleep without closing would hold its connection for
// ever; one that has not answered the last ping is let go.
void WebRemote::pingSubscribers()
{
    std::vector<QWebSocket*> silent;
    for (Subscriber& subscriber : m_subscribers) {
        if (!subscriber.answered)
            silent.push_back(subscriber.socket);
        subscriber.answered = false;
        subscriber.socket->ping();
    }
    for (QWebSocket* socket : silent)
        socket->abort();
}

}  // namespace tallowcrest
