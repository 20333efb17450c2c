// The command-line client is its own program and does not link the server
// library, so its parsing sources are compiled into this test directly.
#include "remote/client/client_options.cpp"
#include "remote/client/reply_parsing.cpp"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace tallowcrest {
namespace {

using Bytes = QList<QByteArray>;

TEST(TrackListReplyTest, EndIsOnlyACandidateAfterStartOrCrLf)
{
    struct Piece { QByteArray bytes; bool mayBeComplete; };
    const QByteArray odd = "/m/Caf\xe9 \xff/b b.mp3";
    const struct { std::vector<Piece> pieces; Bytes paths; } cases[] = {
        {{{"STARTEND", true}}, {}},
        {{{"START/m/a.mp3\r\n" + odd + "\r\nEND", true}}, {"/m/a.mp3", odd}},
        {{{"START/m/END.mp3\r\n/m/xEND", false}, {".mp3\r\n/m/ENDEND", false}, {"\r\nEND", true}},
         {"/m/END.mp3", "/m/xEND.mp3", "/m/ENDEND"}},
        // A folder named "END" looks like the end until more bytes arrive.
        {{{"START/m/a.mp3\r\nEND", true}, {"/b.mp3\r\nEND", true}}, {"/m/a.mp3", "END/b.mp3"}},
        // A notification sent just before the list, and START split in two.
        {{{"CODE_12ST", false}, {"ART/m/a.mp3\r\nEN", false}, {"D", true}}, {"/m/a.mp3"}},
        {{{"END", false}}, {}},
    };
    for (const auto& [pieces, paths] : cases) {
        TrackListReply reply;
        for (const Piece& piece : pieces) {
            reply.append(piece.bytes);
            EXPECT_EQ(reply.mayBeComplete(), piece.mayBeComplete) << piece.bytes.constData();
        }
        EXPECT_EQ(reply.paths(), paths) << pieces.front().bytes.constData();
    }
}

TEST(NotificationSplitTest, JoinedBlocksBecomeOneLineEach)
{
    const std::pair<QByteArray, Bytes> cases[] = {
        {"CODE_12CODE_11Song", {"ended", "started: Song"}},
        {"CODE_11My SongCODE_12", {"started: My Song", "ended"}},
        {"CODE_13TrueCODE_13FalseCODE_12", {"shuffle: on", "shuffle: off", "ended"}},
        {"CODE_11A \xe9\xff-Z", {"started: A \xe9\xff-Z"}},
        {"hello", {"unknown: hello"}},
        {"xx\r\nCODE_12", {"unknown: xx\\x0d\\x0a", "ended"}},
        {"CODE_13MaybeCODE_14", {"unknown: CODE_13Maybe", "unknown: CODE_14"}},
        {"", {}},
    };
    for (const auto& [block, expected] : cases) {
        Bytes lines;
        for (const Notification& notification : splitNotifications(block))
            lines.append(describeNotification(notification));
        EXPECT_EQ(lines, expected) << block.constData();
    }
}

TEST(OpenReplyTest, TitleOrNotFound)
{
    const struct { QByteArray block, path; OpenReply::Kind kind; QByteArray title; } cases[] = {
        {"CODE_11Song", "/m/Song.mp3", OpenReply::Opened, "Song"},
        {"CODE_12", "/m/Song.mp3", OpenReply::NotFound, ""},
        {"CODE_", "/m/Song.mp3", OpenReply::Unrecognised, ""},
        // The track's own title wins even when it looks like a code.
        {"CODE_11CODE_12 live", "/m/CODE_12 live.mp3", OpenReply::Opened, "CODE_12 live"},
        {"CODE_12CODE_11Song", "/m/Song.mp3", OpenReply::Opened, "Song"},
        {"CODE_11Other", "/m/Song.mp3", OpenReply::Opened, "Other"},
    };
    for (const auto& c : cases) {
        const OpenReply reply = parseOpenReply(c.block, c.path);
        EXPECT_EQ(reply.kind, c.kind) << c.block.constData();
        EXPECT_EQ(reply.title, c.title) << c.block.constData();
    }
}

TEST(ClientArgumentsTest, RequestBytes)
{
    const QByteArray path = "/m/Caf\xe9 \xff/--odd name.mp3\r\n";
    const std::pair<Bytes, QByteArray> cases[] = {
        {{"list"}, "00"}, {{"play"}, "02"}, {{"stop"}, "03"}, {{"pause"}, "04"}, {{"louder"}, "05"},
        {{"quieter"}, "06"}, {{"shuffle", "on"}, "07True"}, {{"shuffle", "off"}, "07False"},
        {{"open", path}, "01" + path}, {{"--port=1234", "--", "open", "--help"}, "01--help"},
    };
    for (const auto& [arguments, bytes] : cases) {
        const ParsedArguments parsed = parseClientArguments(arguments);
        ASSERT_TRUE(parsed.options) << arguments.join(' ').constData();
        EXPECT_EQ(requestBytes(*parsed.options), bytes);
    }
}

TEST(ClientArgumentsTest, BadInputIsAUsageErrorWithAReason)
{
    const Bytes bad[] = {
        {}, {"dance"}, {"--port", "0", "list"}, {"--port", "65536", "list"}, {"--port", "12ab", "list"},
        {"--port"}, {"--timeout", "0", "list"}, {"--timeout", "nan", "list"}, {"--host=", "list"},
        {"--verbose", "list"}, {"open"}, {"open", "a", "b"}, {"shuffle", "True"}, {"list", "extra"},
        {"--port", "1234"},
    };
    for (const Bytes& arguments : bad) {
        const ParsedArguments parsed = parseClientArguments(arguments);
        EXPECT_FALSE(parsed.options) << arguments.join(' ').constData();
        EXPECT_FALSE(parsed.error.isEmpty());
    }
}

// The real client program against a scripted server on 127.0.0.1, with both
// option spellings.
class ClientProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.listen(QHostAddress::LocalHost, 0));
        m_port = m_server.serverPort();
    }

    void startClient(const QStringList& arguments)
    {
        m_client.start(QStringLiteral(TALLOWCREST_BINARY_DIR "/tallowcrest-remote"),
                       QStringList{"--port", QString::number(m_port), "--timeout=1.5"} + arguments);
        ASSERT_TRUE(m_client.waitForStarted(5000)) << m_client.errorString().toStdString();
    }

    // Accepts the client and returns the first request it sends.
    QByteArray acceptRequest()
    {
        if (!m_server.waitForNewConnection(5000))
            return "<no connection>";
        m_connection.reset(m_server.nextPendingConnection());
        return m_connection->waitForReadyRead(5000) ? m_connection->readAll() : QByteArray();
    }

    void reply(const QByteArray& bytes, int pauseAfterMs = 0)
    {
        m_connection->write(bytes);
        m_connection->waitForBytesWritten(2000);
        QThread::msleep(pauseAfterMs);
    }

    int finish()
    {
        if (!m_client.waitForFinished(10000))
            return -1;  // QProcess kills it when the test ends
        m_stdout = m_client.readAllStandardOutput();
        m_stderr = m_client.readAllStandardError();
        return m_client.exitStatus() == QProcess::NormalExit ? m_client.exitCode() : -2;
    }

    QTcpServer m_server;
    quint16 m_port = 0;
    std::unique_ptr<QTcpSocket> m_connection;
    QProcess m_client;
    QByteArray m_stdout, m_stderr;
};

TEST_F(ClientProgramTest, ListArrivesInPiecesWithAFalseEndOrNotAtAll)
{
    startClient({"list"});
    EXPECT_EQ(acceptRequest(), "00");
    reply("STA", 30);
    reply("RT/m/a b.mp3\r\nEND", 30);  // a folder called END follows: not the end yet
    reply("/c.mp3\r\n/m/\xe9.mp3\r\nEN", 30);
    reply("D", 200);
    EXPECT_EQ(finish(), 0) << m_stderr.constData();
    EXPECT_EQ(m_stdout, "/m/a b.mp3\nEND/c.mp3\n/m/\xe9.mp3\n");

    startClient({"list"});
    EXPECT_EQ(acceptRequest(), "00");
    EXPECT_EQ(finish(), 1);
    EXPECT_EQ(m_stderr, QStringLiteral("tallowcrest-remote: no answer from 127.0.0.1:%1 within 1.5 s\n").arg(m_port).toUtf8());
}

TEST_F(ClientProgramTest, OpenSendsRawPathAndReportsBothAnswers)
{
    const QByteArray path = "/m/Caf\xc3\xa9 Song.mp3";
    startClient({"open", QString::fromUtf8(path)});
    EXPECT_EQ(acceptRequest(), "01" + path);
    reply("CODE_11Caf\xc3\xa9 Song");
    EXPECT_EQ(finish(), 0) << m_stderr.constData();
    EXPECT_EQ(m_stdout, "opened: Caf\xc3\xa9 Song\n");

    startClient({"open", "/m/gone.mp3"});
    EXPECT_EQ(acceptRequest(), "01/m/gone.mp3");
    reply("CODE_12");
    EXPECT_EQ(finish(), 3);
    EXPECT_EQ(m_stdout, "not found: /m/gone.mp3\n");
}

TEST_F(ClientProgramTest, UsageErrorIsExitTwoAndRefusedConnectionExitOne)
{
    startClient({"shuffle", "maybe"});
    EXPECT_EQ(finish(), 2);
    EXPECT_TRUE(m_stderr.startsWith("tallowcrest-remote: shuffle needs 'on' or 'off'\nusage: tallowcrest-remote")) << m_stderr.constData();
    EXPECT_EQ(m_stdout, "");

    m_server.close();
    startClient({"list"});
    EXPECT_EQ(finish(), 1);
    EXPECT_EQ(m_stderr, QStringLiteral("tallowcrest-remote: cannot connect to 127.0.0.1:%1: Connection refused\n").arg(m_port).toUtf8());
    EXPECT_EQ(m_stdout, "");
}

}  // namespace
}  // namespace tallowcrest
