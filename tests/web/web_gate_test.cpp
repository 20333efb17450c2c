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
    void SetUp() override
    {
        m_server.settings.save(kAppName, kSettingsSection, kWebPortKey, std::to_string(m_port));
        ASSERT_TRUE(m_remote.start());
    }
    // All that comes back for a request head (and body), the connection closed
    // by the server unless it was upgraded.
    std::string ask(const std::string& head, const std::string& body = "")
    {
        WireClient client;
        EXPECT_TRUE(client.connect(m_port, 3000));
        client.send(head + "\r\n\r\n" + body);
        const std::string answer = client.receiveUntil(
            [](const std::string& got) { return got.starts_with("HTTP/1.1 101") && got.ends_with("}"); });
        EXPECT_TRUE(client.peerClosed() || answer.starts_with("HTTP/1.1 101")) << head.substr(0, 40);
        return answer;
    }

    QTemporaryDir m_music;
    LiveServer m_server{m_music.path().toStdString(), std::to_string(freePort())};
    uint16_t m_port = freePort();
    WebRemote m_remote{m_server.controller.controls(), m_server.controller.nowPlaying(), m_server.settings,
                       m_server.messageBox};
    std::string m_token = m_server.settings.read(kAppName, kSettingsSection, kWebTokenKey, "");
};

TEST_F(WebGateTest, EachRequestGetsItsStatusWithTheCommonHeadersAndTheConnectionClosed)
{
    const std::string state = "GET /api/state HTTP/1.1\r\nHost: h\r\n", wrong(32, 'f');
    const std::string upgrade = "GET /api/events HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
    const std::string cookie = "Cookie: a=b; tallowcrest=" + m_token;
    const std::string post = "POST /api/volume HTTP/1.1\r\nAuthorization: Bearer " + m_token + "\r\n";
    const struct {
        const char* name;
        std::string head;
        const char* status;
        std::string word;
    } rows[] = {
        {"no token", state, "403", "Scan the code again"},
        {"wrong token", state + "Authorization: Bearer " + wrong, "403", "Scan the code again"},
        {"cookie among others", state + cookie, "200", "\"state\":\"stopped\""},
        {"Bearer", state + "Authorization: Bearer " + m_token, "200", "\"state\":\"stopped\""},
        {"pairing link", "GET /?pair=" + m_token + " HTTP/1.1", "303",
         "Set-Cookie: tallowcrest=" + m_token + "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Strict"},
        {"old pairing link", "GET /?pair=" + wrong + " HTTP/1.1", "403", "Scan the code again"},
        {"upgrade, wrong Origin", upgrade + cookie + "\r\nOrigin: http://elsewhere", "403", "Scan the code again"},
        {"upgrade, own Origin", upgrade + cookie + "\r\nOrigin: http://h", "101", "\"state\":\"stopped\""},
        {"head over 16 KiB", state + "X: " + std::string(16 * 1024, 'x'), "431", "16 KiB"},
        {"chunked", post + "Transfer-Encoding: chunked", "411", "Content-Length"},
        {"Content-Length over 64 KiB", post + "Content-Length: 65537", "413", "64 KiB"},
    };
    for (const auto& row : rows) {
        const std::string answer = ask(row.head);
        EXPECT_EQ(answer.substr(0, 12), std::string("HTTP/1.1 ") + row.status) << row.name;
        EXPECT_NE(answer.find(row.word), std::string::npos) << row.name << ":\n" << answer;
        for (const char* header : {"Connection: close", "Cache-Control: no-store", "X-Content-Type-Options: nosniff",
                                   "Referrer-Policy: no-referrer", "Content-Security-Policy: default-src 'self';"})
            EXPECT_TRUE(row.status == std::string("101") || answer.find(header) != std::string::npos)
                << row.name << ": " << header;
    }
}

TEST_F(WebGateTest, TheThirtyThirdConnectionIsClosedAtOnceAndAPlaceFrees)
{
    std::array<WireClient, 32> held;
    for (WireClient& client : held)
        ASSERT_TRUE(client.connect(m_port));
    const std::string request = "GET /api/state HTTP/1.1\r\nAuthorization: Bearer " + m_token + "\r\n\r\n";
    WireClient extra;
    ASSERT_TRUE(extra.connect(m_port));
    extra.send(request);
    EXPECT_EQ(extra.receiveUntil([](const std::string&) { return false; }), "");
    EXPECT_TRUE(extra.peerClosed());
    held.back().close();
    EXPECT_TRUE(SpinUntil([&] { return ask(request.substr(0, request.size() - 4)).starts_with("HTTP/1.1 200"); }));
}

TEST_F(WebGateTest, ARefusalLogsAWarningWithTheAddressButNeverTheToken)
{
    LogCapture log;
    ask("GET /api/state HTTP/1.1\r\nAuthorization: Bearer " + m_token);
    ask("GET /nowhere HTTP/1.1\r\nAuthorization: Bearer " + m_token);
    EXPECT_TRUE(log.lines.empty()) << "a request that goes well, and a script's mistake, log nothing by default";
    const std::string wrong(32, 'e');
    ask("GET /?pair=" + m_token + wrong + " HTTP/1.1\r\nCookie: tallowcrest=" + wrong + "\r\nAuthorization: Bearer " + wrong);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].type, QtWarningMsg);
    EXPECT_EQ(log.lines[0].text, "tallowcrest.web: refused 403 to 127.0.0.1: GET /");
}

}  // namespace
}  // namespace tallowcrest::testing
