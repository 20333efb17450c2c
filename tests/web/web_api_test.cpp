// The JSON API over the real server logic with a fake player and socket.
#include "library/track_list_model.h"
#include "server/now_playing.h"
#include "server/qt_settings_store.h"
#include "server/server_controller.h"
#include "support/fakes.h"
#include "web/web_api.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <fstream>

#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {

// The rows come in the folder's order; the last name is no UTF-8.
class WebApiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"Alpha.mp3", "Café.mp3", "Morning Tide.mp3", "beta.mp3", "b\xe9 x.mp3"})
            std::ofstream(m_work.path().toStdString() + "/" + name) << "";
        m_store.save(kAppName, kSettingsSection, kDirKey, m_work.path().toStdString());
        m_controller.Form_Load();
    }
    // QTemporaryDir cannot remove a name it cannot decode.
    void TearDown() override { std::remove((m_work.path().toStdString() + "/b\xe9 x.mp3").c_str()); }
    QJsonObject ask(const char* method, const char* path, const char* query = "", const QByteArray& body = {})
    {
        m_reply = m_api.handle(method, path, QUrlQuery(QString::fromUtf8(query)), body);
        return QJsonDocument::fromJson(m_reply.body).object();
    }
    int row(const std::string& title) const
    {
        int index = m_list.count() - 1;
        while (index >= 0 && !std::string_view(m_list.row(index)).ends_with("/" + title + ".mp3"))
            --index;
        return index;
    }
    qint64 version() const { return qint64(m_controller.nowPlaying().listVersion()); }
    QByteArray play(int index, qint64 version)
    {
        return QStringLiteral(R"({"index": %1, "version": %2})").arg(index).arg(version).toUtf8();
    }

    IsolatedSettings m_isolation;
    QTemporaryDir m_work;
    QtSettingsStore m_store;
    TrackListModel m_list;
    RecordingMessageBox m_box;
    ScriptedPrompt m_prompt;
    FakeSocket m_socket;
    FakePlayer m_player;
    ServerController m_controller{{.settings = m_store, .lstFiles = m_list, .messageBox = m_box, .prompt = m_prompt,
                                   .winsock = m_socket, .media = m_player,
                                   .trackListFile = [this] { return m_work.filePath("tracks.temp").toStdString(); }}};
    WebApi m_api{m_controller.controls(), m_controller.nowPlaying()};
    WebReply m_reply;
};

TEST_F(WebApiTest, BadInputIsAnsweredWithItsStatusAndReasonAndChangesNothing)
{
    const struct {
        const char *name, *method, *path, *query;
        QByteArray body;
        int status;
        const char* word;
    } rows[] = {
        {"not JSON", "POST", "play", "", R"({"index": 1,)", 400, "not JSON"},
        {"not an object", "POST", "volume", "", "[0.5]", 400, "JSON object"},
        {"missing field", "POST", "play", "", R"({"version": 1})", 400, "\"index\" must be a number"},
        {"volume no number", "POST", "volume", "", R"({"volume": "loud"})", 400, "must be a number"},
        {"shuffle no boolean", "POST", "shuffle", "", R"({"shuffle": 1})", 400, "true or false"},
        {"index no whole number", "POST", "play", "", R"({"index": 1.5, "version": 1})", 400, "whole number"},
        {"index past the end", "POST", "play", "", play(5, version()), 400, "no row"},
        {"index negative", "POST", "play", "", play(-1, version()), 400, "from 0"},
        {"volume above 1", "POST", "volume", "", R"({"volume": 1.01})", 400, "from 0 to 1"},
        {"position negative", "POST", "seek", "", R"({"position": -1})", 400, "\"position\""},
        {"unknown action", "POST", "control", "", R"({"action": "dance"})", 400, "unknown action \"dance\""},
        {"unknown path", "GET", "nope", "", "", 404, "no such API: /api/nope"},
        {"wrong method", "GET", "play", "", "", 405, "use POST, Allow: POST"},
        {"stale version", "POST", "play", "", play(0, version() - 1), 409, "has changed"},
        {"play, nothing loaded", "POST", "control", "", R"({"action": "play"})", 409, "no track is loaded"},
        {"pause, nothing loaded", "POST", "control", "", R"({"action": "pause"})", 409, "no track is loaded"},
        {"stop, nothing loaded", "POST", "control", "", R"({"action": "stop"})", 409, "no track is loaded"},
        {"body over 64 KiB", "POST", "volume", "", QByteArray(R"({"volume": 0.5})").leftJustified(65537), 413, "64 KiB"},
        {"limit over 500", "GET", "tracks", "limit=501", "", 400, "limit must be a whole number from 0 to 500"},
        {"offset negative", "GET", "tracks", "offset=-1", "", 400, "offset must be"},
    };
    const std::vector<std::string> calls = m_player.calls;
    const int level = m_player.level;
    for (const auto& row : rows) {
        QString said = ask(row.method, row.path, row.query, row.body).value("error").toString();
        for (const auto& [name, value] : m_reply.headers)
            said += ", " + name + ": " + value;
        EXPECT_EQ(m_reply.status, row.status) << row.name;
        EXPECT_TRUE(said.contains(row.word)) << row.name << ": " << said.toStdString();
    }
    EXPECT_EQ(m_player.calls, calls);
    EXPECT_EQ(m_player.level, level);
}

TEST_F(WebApiTest, StateShowsTheTrackPlayedWithEveryField)
{
    m_socket.state = SocketState::Connected;
    ask("POST", "volume", "", R"({"volume": 0.25})");
    ask("POST", "shuffle", "", R"({"shuffle": true})");
    ask("POST", "play", "", play(row("Morning Tide"), version()));
    ASSERT_EQ(m_reply.status, 200) << m_reply.body.toStdString();
    m_player.state = IMediaPlayer::PlaybackState::Paused;
    m_player.positionMs = 1500, m_player.durationMs = 60000;
    QJsonObject state = ask("GET", "state");
    EXPECT_NEAR(state.take("volume").toDouble(), 0.25, 0.003);
    const QJsonObject expected{{"title", "Morning Tide"}, {"state", "paused"}, {"position", 1500},
                               {"duration", 60000}, {"shuffle", true}, {"client", true},
                               {"index", row("Morning Tide")}, {"version", version()}};
    EXPECT_EQ(QJsonDocument(state).toJson().toStdString(), QJsonDocument(expected).toJson().toStdString());
}

TEST_F(WebApiTest, TracksComeByPagesAndSearchIgnoresLetterCaseBeyondAscii)
{
    // total, offset, then each row's index and title.
    const auto page = [this](const std::string& query) {
        const QJsonObject found = ask("GET", "tracks", query.c_str());
        std::string said = std::to_string(found["total"].toInt()) + ", " + std::to_string(found["offset"].toInt());
        for (const QJsonValue row : found["rows"].toArray())
            said += ", " + std::to_string(row["index"].toInt()) + " " + row["title"].toString().toStdString();
        return said;
    };
    const auto shown = [this](const std::string& title) { return std::to_string(row(title)) + " " + title; };
    const std::string tide = std::to_string(row("Morning Tide"));
    EXPECT_EQ(page("offset=" + tide + "&limit=1"), "5, " + tide + ", " + shown("Morning Tide"));
    EXPECT_EQ(page("offset=4&limit=0"), "5, 4");
    EXPECT_EQ(page("q=ALPHA"), "1, 0, " + shown("Alpha"));
    EXPECT_EQ(page("q=ET&limit=1"), "1, 0, " + shown("beta"));
    EXPECT_EQ(page("q=CAF%C3%89"), "1, 0, " + shown("Café"));
}

TEST_F(WebApiTest, UriEscapesEveryByteOfANameThatIsNoUtf8)
{
    const QJsonArray rows = ask("GET", "tracks", "q=%20x")["rows"].toArray();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0]["uri"].toString().toStdString(),
              "file://" + m_work.path().toUtf8().toPercentEncoding("/").toStdString() + "/b%E9%20x.mp3");
}

}  // namespace
}  // namespace tallowcrest::testing
