// The gate and the authorisation, over the real web port of a live server.
#include "support/live_server.h"
#include "support/log_capture.h"
#include "support/spin.h"
#include "support/wire_client.h"
#include "web/web_remote.h"

#include <array>

#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {

class WebGateTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_remote.start()); }
    // All that comes back for a request, the connection closed unless upgraded.
    std::string ask(const std::string& head)
    {
        WireClient client;
        EXPECT_TRUE(client.connect(m_port, 3000) && client.send(head + "\r\n\r\n"));
        const std::string answer = client.receiveUntil(
            [](const std::string& got) { return got.starts_with("HTTP/1.1 101") && got.ends_with("}"); });
        EXPECT_TRUE(client.peerClosed() || answer.starts_with("HTTP/1.1 101")) << head.substr(0, 40);
        return answer;
    }

    QTemporaryDir m_music;
    LiveServer m_server{m_music.path().toStdString(), std::to_string(freePort())};
    uint16_t m_port = [this] {
        const uint16_t port = freePort();
        m_server.settings.save(kAppName, kSettingsSection, kWebPortKey, std::to_string(port));
        return port;
    }();
    WebRemote m_remote{m_server.controller.controls(), m_server.controller.nowPlaying(), m_server.settings,
                       m_server.messageBox};
    std::string m_token = m_server.settings.read(kAppName, kSettingsSection, kWebTokenKey, "");
    std::string m_state = "GET /api/state HTTP/1.1\r\nHost: h\r\nAuthorization: Bearer " + m_token;
};

TEST_F(WebGateTest, EachRequestGetsItsStatusWithTheCommonHeadersAndTheConnectionClosed)
{
    const std::string state = "GET /api/state HTTP/1.1\r\nHost: h\r\n", wrong(32, 'f');
    const std::string cookie = "Cookie: a=b; tallowcrest=" + m_token;
    const std::string upgrade = "GET /api/events HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" + cookie;
    const std::string post = "POST /api/volume HTTP/1.1\r\nAuthorization: Bearer " + m_token + "\r\n";
    const struct {
        const char* name;
        std::string head, status, word;
    } rows[] = {
        {"no token", state, "403", "Scan the code again"},
        {"wrong token", state + "Authorization: Bearer " + wrong, "403", "Scan the code again"},
        {"cookie among others", state + cookie, "200", "\"state\":\"stopped\""},
        {"Bearer", m_state, "200", "\"state\":\"stopped\""},
        {"pairing link", "GET /?pair=" + m_token + " HTTP/1.1", "303",
         "Set-Cookie: tallowcrest=" + m_token + "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Strict"},
        {"old pairing link", "GET /?pair=" + wrong + " HTTP/1.1", "403", "Scan the code again"},
        {"upgrade, wrong Origin", upgrade + "\r\nOrigin: http://elsewhere", "403", "Scan the code again"},
        {"upgrade, own Origin", upgrade + "\r\nOrigin: http://h", "101", "\"state\":\"stopped\""},
        {"head over 16 KiB", state + "X: " + std::string(16 * 1024, 'x'), "431", "16 KiB"},
        {"chunked", post + "Transfer-Encoding: chunked", "411", "Content-Length"},
        {"Content-Length over 64 KiB", post + "Content-Length: 65537", "413", "64 KiB"},
    };
    for (const auto& row : rows) {
        const std::string answer = ask(row.head);
        EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 " + row.status) << row.name;
        EXPECT_NE(answer.find(row.word), std::string::npos) << row.name << ":\n" << answer;
        for (const char* header : {"Connection: close", "Cache-Control: no-store", "X-Content-Type-Options: nosniff",
                                   "Referrer-Policy: no-referrer", "Content-Security-Policy: default-src 'self';"})
            EXPECT_TRUE(row.status == "101" || answer.find(header) != std::string::npos) << row.name << ": " << header;
    }
}

TEST_F(WebGateTest, TheThirtyThirdConnectionIsClosedUnansweredAndAPlaceFrees)
{
    std::array<WireClient, 33> clients;
    for (WireClient& client : clients)
        ASSERT_TRUE(client.connect(m_port));
    clients.back().send(m_state + "\r\n\r\n");
    EXPECT_EQ(clients.back().receiveUntil([](const std::string&) { return false; }), "");
    EXPECT_TRUE(clients.back().peerClosed());
    clients.front().close();
    EXPECT_TRUE(SpinUntil([&] { return ask(m_state).starts_with("HTTP/1.1 200"); }));
}

TEST_F(WebGateTest, ARefusalLogsAWarningWithTheAddressButNeverTheToken)
{
    LogCapture log;
    ask(m_state);
    ask("GET /nowhere HTTP/1.1\r\nAuthorization: Bearer " + m_token);
    EXPECT_TRUE(log.warnings("tallowcrest.web").empty()) << "a request that goes well, and a script's mistake";
    const std::string wrong(32, 'e');
    ask("GET /?pair=" + m_token + wrong + " HTTP/1.1\r\nCookie: tallowcrest=" + wrong + "\r\nAuthorization: Bearer " + wrong);
    const auto lines = log.warnings("tallowcrest.web");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "refused 403 to 127.0.0.1: GET /");
}

}  // namespace
}  // namespace tallowcrest::testing
