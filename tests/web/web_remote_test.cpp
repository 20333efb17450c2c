// The JSON API over the server logic and the shared fakes; the gate and the authorisation over the real web port.
#include "support/fake_server.h"
#include "support/log_capture.h"
#include "support/spin.h"
#include "support/tagged_mp3.h"
#include "support/wire_client.h"
#include "web/web_remote.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {
// Five rows in this order, the last name no UTF-8. ask("METHOD path?query") asks the API for /api/path.
template <bool kIndexed>
class WebFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* title : {"Alpha", "Café", "Morning Tide", "beta", "b\xe9 x"})
            server.lstFiles.addLines(server.work.path().toStdString() + "/" + title + ".mp3\r\n");
        server.settings.save(kAppName, kSettingsSection, kWebPortKey, std::to_string(port));
    }
    QJsonObject ask(const QString& request, const QByteArray& body = {})
    {
        const QUrl url(request.section(' ', 1));
        reply = api.handle(request.section(' ', 0, 0).toStdString(), url.path(), QUrlQuery(url), body);
        return QJsonDocument::fromJson(reply.body).object();
    }
    QByteArray play(int index, int age = 0) const  // with a list version `age` changes old
    {
        const quint64 version = server.nowPlaying().listVersion() - age;
        return QString(R"({"index": %1, "version": %2})").arg(index).arg(version).toUtf8();
    }
    // All that comes back over the web port for a request, the connection closed unless upgraded.
    std::string send(const std::string& head)
    {
        WireClient client;
        EXPECT_TRUE(client.connect(port, 3000) && client.send(head + "\r\n\r\n"));
        const std::string answer = client.receiveUntil(
            [](const std::string& got) { return got.starts_with("HTTP/1.1 101") && got.ends_with("}"); });
        EXPECT_TRUE(client.peerClosed() || answer.starts_with("HTTP/1.1 101")) << head.substr(0, 40);
        return answer;
    }
    FakeServer server{WithIndex{kIndexed}};
    WebApi api{server.controls(), server.nowPlaying()};
    WebReply reply;
    uint16_t port = freePort();
    WebRemote remote{server.controls(), server.nowPlaying(), server.settings, server.messageBox};
    std::string token = server.settings.read(kAppName, kSettingsSection, kWebTokenKey, "");
    std::string authorised = "GET /api/state HTTP/1.1\r\nHost: h\r\nAuthorization: Bearer " + token;
};
using WebTest = WebFixture<false>;
using WebApiTest = WebTest;
struct WebGateTest : WebTest {
    void SetUp() override { WebTest::SetUp(); ASSERT_TRUE(remote.start()); }
};
TEST_F(WebApiTest, BadInputIsAnsweredWithItsStatusAndReasonAndChangesNothing)
{
    const struct { const char *name, *request; QByteArray body; int status; const char* word; } rows[] = {
        {"not JSON", "POST play", R"({"index": 1,)", 400, "not JSON"},
        {"not an object", "POST volume", "[0.5]", 400, "JSON object"},
        {"missing field", "POST play", R"({"version": 1})", 400, "\"index\" must be a number"},
        {"shuffle no boolean", "POST shuffle", R"({"shuffle": 1})", 400, "true or false"},
        {"no ReplayGain mode", "POST replaygain", R"({"mode": "loud"})", 400, "\"off\", \"track\", \"album\" or \"auto\""},
        {"index no whole number", "POST play", R"({"index": 1.5, "version": 1})", 400, "whole number"},
        {"index past the end", "POST play", play(5), 400, "no row"},
        {"index negative", "POST play", play(-1), 400, "from 0"},
        {"volume above 1", "POST volume", R"({"volume": 1.01})", 400, "from 0 to 1"},
        {"position negative", "POST seek", R"({"position": -1})", 400, "\"position\""},
        {"unknown action", "POST control", R"({"action": "dance"})", 400, "unknown action \"dance\""},
        {"unknown path", "GET nope", "", 404, "no such API: /api/nope"},
        {"wrong method", "GET play", "", 405, "use POST, Allow: POST"},
        {"stale version", "POST play", play(0, 1), 409, "has changed"},
        {"nothing loaded", "POST control", R"({"action": "pause"})", 409, "no track is loaded"},
        {"body over 64 KiB", "POST volume", QByteArray(R"({"volume": 0.5})").leftJustified(65537), 413, "64 KiB"},
        {"limit over 500", "GET tracks?limit=501", "", 400, "limit must be a whole number from 0 to 500"},
        {"offset negative", "GET tracks?offset=-1", "", 400, "offset must be"},
    };
    const int level = server.media.level;
    for (const auto& row : rows) {
        QString said = ask(row.request, row.body).value("error").toString();
        for (const auto& [name, value] : reply.headers)
            said += ", " + name + ": " + value;
        EXPECT_EQ(reply.status, row.status) << row.name;
        EXPECT_TRUE(said.contains(row.word)) << row.name << ": " << said.toStdString();
    }
    EXPECT_EQ(std::tuple(server.media.calls.size(), server.media.level, server.media.gain.first),
              std::tuple(std::size_t(0), level, IMediaPlayer::ReplayGain::Off));
}
TEST_F(WebApiTest, StateShowsTheTrackPlayedWithEveryField)
{
    server.connectClient();
    ask("POST volume", R"({"volume": 0.25})"), ask("POST shuffle", R"({"shuffle": true})"), ask("POST play", play(2));
    ASSERT_EQ(reply.status, 200) << reply.body.toStdString();
    server.media.state = IMediaPlayer::PlaybackState::Paused;
    server.media.positionMs = 1500, server.media.durationMs = 60000, server.media.noSound = true;
    EXPECT_EQ(ask("POST replaygain", R"({"mode": "album"})"), (QJsonObject{{"mode", "album"}, {"preamp", 0}}));
    QJsonObject state = ask("GET state");
    EXPECT_NEAR(state.take("volume").toDouble(), 0.25, 0.003);
    const QJsonObject expected{{"title", "Morning Tide"}, {"state", "paused"}, {"position", 1500}, {"duration", 60000},
                               {"shuffle", true}, {"client", true}, {"index", 2}, {"replaygain", "album"},
                               {"soundOutput", false}, {"artist", ""}, {"album", server.work.path()},
                               {"albumArtist", ""}, {"trackNumber", 0}, {"year", 0}, {"genre", ""}, {"length", 0},
                               {"art", QJsonValue()}, {"version", qint64(server.nowPlaying().listVersion())},
                               {"indexing", QJsonObject{{"done", 0}, {"total", 0}, {"running", false}}}};
    EXPECT_EQ(QJsonDocument(state).toJson().toStdString(), QJsonDocument(expected).toJson().toStdString());
}
// Each page: the total, the offset, then each row's index, title and the end of its URI.
TEST_F(WebApiTest, TracksComeByPagesWithEscapedUrisAndSearchIgnoresLetterCaseBeyondAscii)
{
    const struct { const char *name, *request, *said; } rows[] = {
        {"a page of one", "GET tracks?offset=2&limit=1", "5, 2, 2 Morning Tide /Morning%20Tide.mp3"},
        {"an empty page", "GET tracks?offset=4&limit=0", "5, 4"},
        {"ASCII in other case", "GET tracks?q=ALPHA", "1, 0, 0 Alpha /Alpha.mp3"},
        {"inside a title", "GET tracks?q=ET&limit=1", "1, 0, 3 beta /beta.mp3"},
        {"a page of the found", "GET tracks?q=a&limit=1", "3, 0, 0 Alpha /Alpha.mp3"},
        {"beyond ASCII in other case", "GET tracks?q=CAF%C3%89", "1, 0, 1 Café /Caf%C3%A9.mp3"},
        {"a name that is no UTF-8", "GET tracks?q=%20x", "1, 0, 4 b\uFFFD x /b%E9%20x.mp3"},
    };
    const QString folder = "file://" + server.work.path().toUtf8().toPercentEncoding("/");
    for (const auto& row : rows) {
        const QJsonObject found = ask(row.request);
        QString said = QStringLiteral("%1, %2").arg(found["total"].toInt()).arg(found["offset"].toInt());
        for (const QJsonValue track : found["rows"].toArray())
            said += QStringLiteral(", %1 %2 %3").arg(track["index"].toInt()).arg(track["title"].toString(),
                                                      track["uri"].toString().replace(folder, ""));
        EXPECT_EQ(said.toStdString(), row.said) << row.name;
    }
}
TEST_F(WebGateTest, EachRequestGetsItsStatusWithTheCommonHeadersItsWarningAndTheConnectionClosed)
{
    const std::string bare = "GET /api/state HTTP/1.1\r\nHost: h\r\n", wrong(32, 'f');
    const std::string cookie = "Cookie: a=b; tallowcrest=";
    const std::string upgrade = "GET /api/events HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" + cookie;
    const std::string post = "POST /api/volume?pair=" + token + " HTTP/1.1\r\nAuthorization: Bearer " + token + "\r\n";
    const struct { const char* name; std::string head, status, word, warned; } rows[] = {  // warned: refused what
        {"no token", bare, "403", "Scan the code again", "GET /api/state"},
        {"wrong token", bare + "Authorization: Bearer " + wrong, "403", "Scan the code again", "GET /api/state"},
        {"cookie among others", bare + cookie + token, "200", "\"state\":\"stopped\"", ""},
        {"Bearer", authorised, "200", "\"state\":\"stopped\"", ""},
        {"a script's mistake", "GET /nowhere HTTP/1.1\r\nAuthorization: Bearer " + token, "404", "not found", ""},
        {"pairing link", "GET /?pair=" + token + " HTTP/1.1", "303",
         "Set-Cookie: tallowcrest=" + token + "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Strict", ""},
        {"old pairing link", "GET /?pair=" + token + wrong + " HTTP/1.1\r\n" + cookie + wrong, "403",
         "Scan the code again", "GET /"},
        {"upgrade, wrong Origin", upgrade + token + "\r\nOrigin: http://h.evil", "403", "Scan the", "GET /api/events"},
        {"upgrade, own Origin", upgrade + token + "\r\nOrigin: http://h", "101", "\"state\":\"stopped\"", ""},
        {"head over 16 KiB", bare + "X: " + std::string(16 * 1024, 'x'), "431", "16 KiB", "GET /api/state"},
        {"chunked", post + "Transfer-Encoding: chunked", "411", "Content-Length", "POST /api/volume"},
        {"Content-Length over 64 KiB", post + "Content-Length: 65537", "413", "64 KiB", "POST /api/volume"},
    };
    for (const auto& row : rows) {
        const LogCapture log;
        const std::string answer = send(row.head);
        EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 " + row.status) << row.name;
        EXPECT_NE(answer.find(row.word), std::string::npos) << row.name << ":\n" << answer;
        for (const char* header : {"Connection: close", "Cache-Control: no-store", "X-Content-Type-Options: nosniff",
                                   "Referrer-Policy: no-referrer", "Content-Security-Policy: default-src 'self';"})
            EXPECT_TRUE(row.status == "101" || answer.find(header) != std::string::npos) << row.name << ": " << header;
        QStringList warned;  // never the token, in the query, a cookie or a header
        for (const LogCapture::Message& line : log.warnings("tallowcrest.web"))
            warned << line.text;
        EXPECT_EQ(warned.join('\n').toStdString(),
                  row.warned.empty() ? "" : "refused " + row.status + " to 127.0.0.1: " + row.warned) << row.name;
    }
}
TEST_F(WebGateTest, TheThirtyThirdConnectionIsClosedUnansweredAndAPlaceFrees)
{
    WireClient clients[33];
    for (WireClient& client : clients)
        ASSERT_TRUE(client.connect(port));
    clients[32].send(authorised + "\r\n\r\n");
    EXPECT_EQ(clients[32].receiveUntil([](const std::string&) { return false; }), "");
    EXPECT_TRUE(clients[32].peerClosed());
    clients[0].close();
    EXPECT_TRUE(SpinUntil([&] { return send(authorised).starts_with("HTTP/1.1 200"); }));
}
// Indexed: a track tagged with a cover, and one without tags in a folder of its own; the web port listens.
struct WebIndexTest : WebFixture<true> {
    void SetUp() override
    {
        const QString lib = server.work.filePath("lib");
        QDir().mkpath(lib + "/Loose/Deep");
        MakeTaggedMp3(lib, "01 largo.mp3", {"Largo", "Antonín Dvořák", "Symphony No. 9", "Czech Philharmonic",
                                            "Classical", 2, 1, 1893}, MakeImage(640, 480, "JPG"));
        MakeMp3(lib + "/Loose/Deep", "take five.mp3");
        server.settings.save(kAppName, kSettingsSection, kDirKey, lib.toStdString());
        server.settings.save(kAppName, kSettingsSection, kWebPortKey, std::to_string(port));
        server.controller.Form_Load();
        ASSERT_TRUE(server.indexed() && remote.start());
        for (const QJsonValue row : ask("GET tracks")["rows"].toArray())
            described[row["index"].toInt()] = describe(row.toObject());
    }
    std::string describe(const QJsonObject& track)  // its tags, and whether it has a cover (its key goes to `art`)
    {
        QString said;
        for (const char* field : {"title", "artist", "album", "albumArtist", "trackNumber", "year", "genre", "length"})
            said += track[field].toVariant().toString() + "|";
        art = track["art"].isNull() ? art : track["art"].toString().remove("/api/art/");
        return (said + (track["art"].isNull() ? "none" : "art")).toStdString();
    }
    std::map<int, std::string> described;  // by index
    QString art;
    const std::string largo = "Largo|Antonín Dvořák|Symphony No. 9|Czech Philharmonic|2|1893|Classical|1|art";
};
TEST_F(WebIndexTest, RowsAndStateCarryTheTagsOrTheFileNamesTitleAndFolder)
{
    const int row = described[0] == largo ? 0 : 1;
    EXPECT_EQ(described, (std::map<int, std::string>{{row, largo}, {1 - row, "take five||Loose/Deep||0|0||1|none"}}));
    ask("POST play", play(row));
    const QJsonObject state = ask("GET state");
    EXPECT_EQ(std::pair(describe(state), state["indexing"].toObject()),
              std::pair(largo, QJsonObject{{"done", 2}, {"total", 2}, {"running", false}}));
}
TEST_F(WebIndexTest, SearchGoesThroughTheIndexsFoldedTags)
{
    const QJsonObject found = ask("GET tracks?q=DVORAK");
    EXPECT_EQ(std::pair(found["total"].toInt(), found["rows"][0]["title"].toString()), std::pair(1, QString("Largo")));
}
TEST_F(WebIndexTest, CoversAreServedByTheIndexsKeyAloneToAPairedPhoneAndCachedByIt)
{
    const std::string key = art.toStdString(), paired = " HTTP/1.1\r\nAuthorization: Bearer " + token;
    const struct { const char* name; std::string request, status; std::vector<std::string> words; } rows[] = {
        {"not paired", key + " HTTP/1.1", "403", {"Scan the code"}},
        {"paired", key + paired, "200", {"ETag: \"" + key + "\"", "Cache-Control: private, max-age=31536000, immutable",
                                         "Content-Type: image/jpeg", "\r\n\r\n\xff\xd8"}},
        {"held", key + paired + "\r\nIf-None-Match: \"x\", \"" + key + "\"", "304", {"ETag: \"" + key + "\""}},
        {"unknown key", std::string(32, '0') + paired, "404", {"no such picture"}},
        {"a path", "..%2F..%2Fetc%2Fpasswd" + paired, "404", {"\"error\""}}};
    for (const auto& row : rows) {
        const std::string answer = send("GET /api/art/" + row.request);
        EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 " + row.status) << row.name;
        for (const std::string& word : row.words)
            EXPECT_NE(answer.find(word), std::string::npos) << row.name << ": " << word << "\n" << answer.substr(0, 500);
        EXPECT_EQ(answer.find("no-store") == std::string::npos, row.status < "400") << row.name;
    }
}
}  // namespace
}  // namespace tallowcrest::testing
