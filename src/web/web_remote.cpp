#include "web/web_remote.h"

#include "server/connection_lifecycle.h"
#include "server/dialogs.h"
#include "web/web_event_hub.h"
#include "web/web_gate.h"
#include "web/web_log.h"
#include "web/web_page.h"

#include <QHttpServer>

namespace tallowcrest {

namespace {

QByteArray methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Post: return "POST";
    default: return "OTHER";
    }
}

QHttpServerResponse toResponse(const WebReply& reply)
{
    QHttpServerResponse response(reply.contentType, reply.body, QHttpServerResponse::StatusCode(reply.status));
    response.addHeaders(reply.headers);
    return response;
}

// What every answer gets on its way out, less what it says for itself.
QHttpServerResponse finish(QHttpServerResponse&& response, const QHttpServerRequest& request)
{
    for (const auto& [name, value] : commonHeaders()) {
        if (!response.hasHeader(name))
            response.addHeader(name, value);
    }
    logRefusal(int(response.statusCode()), request.remoteAddress(), methodName(request.method()),
               request.url().path(QUrl::FullyEncoded).toLatin1());
    return std::move(response);
}

}  // namespace

WebRemote::WebRemote(Controls& controls, const NowPlaying& nowPlaying, ISettingsStore& settings,
                     IMessageBox& messageBox, QObject* parent)
    : QObject(parent),
      m_settings(settings),
      m_messageBox(messageBox),
      m_pairing(settings),
      m_authorisation(m_pairing),
      m_api(controls, nowPlaying),
      m_http(std::make_unique<QHttpServer>()),
      m_hub(std::make_unique<WebEventHub>(m_api, nowPlaying))
{
    route();
}

WebRemote::~WebRemote() = default;

void WebRemote::route()
{
    const auto authorised = [this](const QHttpServerRequest& request) {
        return m_authorisation.admits(request.value("cookie"), request.value("authorization"));
    };
    m_http->route("/api/art/<arg>", [this, authorised](const QString& key, const QHttpServerRequest& request) {
        if (!authorised(request))
            return toResponse(WebAuthorisation::forbidden());
        return toResponse(m_api.art(methodName(request.method()).toStdString(), key, request.value("if-none-match")));
    });
    m_http->route("/api/<arg>", [this, authorised](const QString& name, const QHttpServerRequest& request) {
        if (!authorised(request))
            return toResponse(WebAuthorisation::forbidden());
        const WebReply reply = m_api.handle(methodName(request.method()).toStdString(), name, request.query(),
                                            request.body());
        if (reply.status == 200 && request.method() == QHttpServerRequest::Method::Post)
            m_hub->scheduleBroadcast();
        return toResponse(reply);
    });
    for (const char* path : kPagePaths) {
        m_http->route(path, [this, authorised, path](const QHttpServerRequest& request) {
            const QUrlQuery query = request.query();
            if (query.hasQueryItem(QStringLiteral("pair")) && path == QByteArrayView("/"))
                return toResponse(m_authorisation.pair(query.queryItemValue(QStringLiteral("pair")).toUtf8()));
            if (!authorised(request))
                return toResponse(WebAuthorisation::forbidden());
            return toResponse(pageFile(QString::fromLatin1(path), request.method() == QHttpServerRequest::Method::Get));
        });
    }
    m_http->afterRequest(&finish);
    m_http->setMissingHandler([authorised](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
        const WebReply reply = authorised(request) ? errorReply(404, "not found") : WebAuthorisation::forbidden();
        finish(toResponse(reply), request).write(std::move(responder));
    });
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
    auto gate = std::make_unique<WebGate>(m_authorisation, [hub = m_hub.get()](QTcpSocket* socket) {
        hub->accept(socket);
    });
    if (!gate->listen(QHostAddress::Any, quint16(*port))) {
        m_messageBox.show(where + gate->errorString().toStdString(), "Error", MessageStyle::Critical);
        return false;
    }
    m_port = gate->serverPort();
    m_http->bind(gate.release());
    return true;
}

std::string WebRemote::pairingUrl() const
{
    return tallowcrest::pairingUrl(pairingAddress(), m_port, m_pairing.token());
}

void WebRemote::newCode()
{
    m_pairing.renew();
    m_hub->closeAll();
}

}  // namespace tallowcrest
