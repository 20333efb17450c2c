#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallowcrest {

class IMessageBox;
class ISocket;

// Listening, taking on the one client, and listening again when it leaves.
class ConnectionLifecycle {
public:
    ConnectionLifecycle(ISocket& winsock, IMessageBox& messageBox);

    // Sets the local port from the stored text and listens. A port text that
    // is no whole number in 1..65535, or a port that cannot be listened on,
    // is reported in an "Error" box; everything else goes on working.
    void startListening(const std::string& portText);

    // Stops listening and takes on the client that asked.
    void acceptClient(int32_t requestId);
    // The client has gone: listen again.
    void clientLeft();
    void reportError(int number, const std::string& description);

private:
    void listenOrReport(const std::string& portText);

    ISocket& m_winsock;
    IMessageBox& m_messageBox;
    std::string m_portText;
};

// The port a stored text names: decimal digits (blanks around them allowed),
// 1 to 65535. Anything else has no port.
std::optional<int32_t> parsePortText(std::string_view text);

}  // namespace tallowcrest
