#include "remote/connection_lifecycle.h"

#include "remote/socket.h"
#include "shell/dialogs.h"

#include <stdexcept>

namespace tallowcrest {

namespace {

constexpr const char* kErrorTitle = "Error";

}  // namespace

std::optional<int32_t> ParsePortText(std::string_view text)
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
    : winsock_(winsock), messageBox_(messageBox)
{
}

void ConnectionLifecycle::StartListening(const std::string& portText)
{
    portText_ = portText;
    const std::optional<int32_t> port = ParsePortText(portText);
    if (!port) {
        messageBox_.Show("Cannot listen on port \"" + portText + "\":\r\n"
                         "the port must be a whole number from 1 to 65535.",
                         kErrorTitle, MessageStyle::Critical);
        return;
    }
    winsock_.SetLocalPort(*port);
    ListenOrReport(portText);
}

void ConnectionLifecycle::ListenOrReport(const std::string& portText)
{
    try {
        winsock_.Listen();
    } catch (const std::exception& failure) {
        messageBox_.Show("Cannot listen on port \"" + portText + "\":\r\n" + failure.what(),
                         kErrorTitle, MessageStyle::Critical);
    }
}

void ConnectionLifecycle::Winsock_ConnectionRequest(int32_t requestId)
{
    winsock_.Close();
    try {
        winsock_.Accept(requestId);
    } catch (const std::exception&) {
        // The caller gave up before we took it: nobody to serve, listen on.
        ListenOrReport(portText_);
    }
}

void ConnectionLifecycle::Winsock_Close()
{
    winsock_.Close();
    ListenOrReport(portText_);
}

void ConnectionLifecycle::Winsock_Error(int number, const std::string& description)
{
    messageBox_.Show("An error has occurred:\r\nError: " + std::to_string(number) +
                         "\r\nDescription: " + description,
                     kErrorTitle, MessageStyle::Critical);
}

}  // namespace tallowcrest
