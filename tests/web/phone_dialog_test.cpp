// "New code" in the pairing dialog, wired as the program wires it.
#include "shell/phone_dialog.h"
#include "support/live_server.h"
#include "support/wire_client.h"
#include "web/web_remote.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {

std::string storedToken(LiveServer& server)
{
    return server.settings.read(kAppName, kSettingsSection, kWebTokenKey, "");
}

std::string statusLine(uint16_t port, const std::string& token)
{
    WireClient client;
    EXPECT_TRUE(client.connect(port, 3000));
    client.send("GET /api/state HTTP/1.1\r\nAuthorization: Bearer " + token + "\r\n\r\n");
    const std::string reply = client.receiveUntil([](const std::string& r) { return r.find("\r\n") != r.npos; });
    return reply.substr(0, reply.find("\r\n"));
}

TEST(PhoneDialog, NewCodeLocksOutEveryPhonePairedBefore)
{
    QTemporaryDir music;
    LiveServer server(music.path().toStdString(), std::to_string(freePort()));
    const uint16_t webPort = freePort();
    server.settings.save(kAppName, kSettingsSection, kWebPortKey, std::to_string(webPort));
    WebRemote remote(server.controller, server.settings, server.messageBox);
    ASSERT_TRUE(remote.start());
    const std::string oldToken = storedToken(server);
    ASSERT_EQ(statusLine(webPort, oldToken), "HTTP/1.1 200 OK");

    WireClient events;
    ASSERT_TRUE(events.connect(webPort, 3000));
    events.send("GET /api/events HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
                "Authorization: Bearer " + oldToken + "\r\n\r\n");
    ASSERT_NE(events.receiveUntil([](const std::string& r) { return r.find("\"state\"") != r.npos; })
                  .find("101 Switching Protocols"),
              std::string::npos);

    PhoneDialog dialog({[&] { return remote.pairingUrl(); }, [&] { remote.newCode(); }});
    dialog.newCodeButton()->click();

    const std::string newToken = storedToken(server);
    EXPECT_NE(newToken, oldToken);
    EXPECT_EQ(statusLine(webPort, oldToken), "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(statusLine(webPort, newToken), "HTTP/1.1 200 OK");
    const std::string url = remote.pairingUrl();
    EXPECT_TRUE(url.ends_with(":" + std::to_string(webPort) + "/?pair=" + newToken)) << url;
    EXPECT_EQ(dialog.urlLabel()->text().toStdString(), url);
    EXPECT_EQ(dialog.codeLabel()->pixmap().toImage().convertToFormat(QImage::Format_RGB32), qrCodeImage(url, 6));
    // The live connection paired with the old token is closed: a close frame, then the end.
    const std::string closing = events.receiveUntil([&](const std::string&) { return events.peerClosed(); });
    EXPECT_TRUE(events.peerClosed());
    EXPECT_NE(closing.find('\x88'), std::string::npos);
}

}  // namespace
}  // namespace tallowcrest::testing
