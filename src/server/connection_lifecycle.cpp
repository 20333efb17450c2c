#include "server/connection_lifecycle.h"

#include "remote/socket.h"
#include "server/dialogs.h"
#include "server/server_log.h"

#include <stdexcept>

namespace tallowcrest {

namespace {

constexpr const char* kErrorTitle = "Error";

}  // namespace

std::optional<int32_t> parsePortText(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    int32_t port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

ConnectionLifecycle::ConnectionLifecycle(ISocket& winsock, IMessageBox& messageBox)
    : m_winsock(winsock), m_messageBox(messageBox)
{
}

void ConnectionLifecycle::startListening(const std::string& portText)
{
    m_portText = portText;
    const std::optional<int32_t> port = parsePortText(portText);
    if (!port) {
        qCWarning(serverLog) << "cannot listen on port" << portText.c_str() << "- no whole number from 1 to 65535";
        m_messageBox.show("Cannot listen on port \"" + portText + "\":\r\n"
                         "the port must be a whole number from 1 to 65535.",
                         kErrorTitle, MessageStyle::Critical);
        return;
    }
    m_winsock.SetLocalPort(*port);
    listenOrReport(portText);
}

void ConnectionLifecycle::listenOrReport(const std::string& portText)
{
    try {
        m_winsock.Listen();
    } catch (const std::exception& failure) {
        qCWarning(serverLog) << "cannot listen on port" << portText.c_str() << "-" << failure.what();
        m_messageBox.show("Cannot listen on port \"" + portText + "\":\r\n" + failure.what(),
                         kErrorTitle, MessageStyle::Critical);
    }
}

void ConnectionLifecycle::acceptClient(int32_t requestId)
{
    m_winsock.Close();
    try {
        m_winsock.Accept(requestId);
    } catch (const std::exception& failure) {
        // The caller gave up before we took it: nobody to serve, listen on.
        qCDebug(serverLog) << "a client left before it was taken on:" << failure.what();
        listenOrReport(m_portText);
    }
}

void ConnectionLifecycle::clientLeft()
{
    m_winsock.Close();
    listenOrReport(m_portText);
}

void ConnectionLifecycle::reportError(int number, const std::string& description)
{
    m_messageBox.show("An error has occurred:\r\nError: " + std::to_string(number) +
                         "\r\nDescription: " + description,
                     kErrorTitle, MessageStyle::Critical);
}

}  // namespace tallowcrest
