// "New code" in the pairing dialog, wired as the program wires it.
#include "shell/phone_dialog.h"
#include "support/live_server.h"
#include "support/wire_client.h"
#include "web/web_remote.h"
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {
using namespace std::string_literals;
// The connection paired with the old token gets a close frame, then the end; a port in use is an "Error" box.
TEST(PhoneDialog, NewCodeLocksOutEveryPhonePairedBeforeAndTheServerGoesOn)
{
    QTemporaryDir music;
    LiveServer server(music.path().toStdString(), std::to_string(freePort()));
    const uint16_t webPort = freePort();
    server.settings.save(kAppName, kSettingsSection, kWebPortKey, std::to_string(webPort));
    const auto token = [&] { return server.settings.read(kAppName, kSettingsSection, kWebTokenKey, ""); };
    const auto ask = [&](WireClient& client, const std::string& request, const std::string& wanted = "\r\n") {
        EXPECT_TRUE(client.connect(webPort, 3000) && client.send(request + "\r\n\r\n"));
        return client.receiveUntil([&](const std::string& r) { return r.find(wanted) != r.npos; });
    };
    const auto status = [&](const std::string& with) {
        WireClient client;
        return ask(client, "GET /api/state HTTP/1.1\r\nAuthorization: Bearer " + with).substr(0, 12);
    };
    WebRemote remote(server.controller.controls(), server.controller.nowPlaying(), server.settings, server.messageBox);
    ASSERT_TRUE(remote.start());
    const std::string oldToken = token();
    WireClient events;
    ASSERT_TRUE(ask(events, "GET /api/events HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
                            "Cookie: tallowcrest=" + oldToken, "\"state\"").starts_with("HTTP/1.1 101"));
    PhoneDialog dialog({[&] { return remote.pairingUrl(); }, [&] { remote.newCode(); }});
    dialog.newCodeButton()->click();
    const std::string url = remote.pairingUrl();
    EXPECT_EQ(std::pair(status(oldToken), status(token())), std::pair("HTTP/1.1 403"s, "HTTP/1.1 200"s));
    EXPECT_TRUE(url.ends_with(":" + std::to_string(webPort) + "/?pair=" + token())) << url;
    EXPECT_EQ(dialog.urlLabel()->text().toStdString(), url);
    EXPECT_EQ(dialog.codeLabel()->pixmap().toImage().convertToFormat(QImage::Format_RGB32), qrCodeImage(url, 6));
    const std::string closing = events.receiveUntil([&](const std::string&) { return events.peerClosed(); });
    EXPECT_TRUE(events.peerClosed() && closing.find('\x88') != std::string::npos);
    WebRemote second(server.controller.controls(), server.controller.nowPlaying(), server.settings, server.messageBox);
    EXPECT_FALSE(second.start());
    EXPECT_TRUE(!server.messageBox.shown.empty() && server.messageBox.shown.back().title == "Error");
    EXPECT_EQ(status(token()), "HTTP/1.1 200");
}
}  // namespace
}  // namespace tallowcrest::testing
