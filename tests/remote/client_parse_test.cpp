// The command-line client is its own program and does not link the server
// library, so its parsing sources are compiled into this test directly.
#include "remote/client/client_options.cpp"
#include "remote/client/reply_parsing.cpp"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace tallowcrest {
namespace {

QList<QByteArray> pathsOf(std::initializer_list<QByteArrayView> pieces)
{
    TrackListReply reply;
    for (QByteArrayView piece : pieces)
        reply.append(piece);
    EXPECT_TRUE(reply.mayBeComplete());
    return reply.paths();
}

TEST(TrackListReplyTest, EmptyListIsStartDirectlyFollowedByEnd)
{
    EXPECT_TRUE(pathsOf({"STARTEND"}).isEmpty());
}

TEST(TrackListReplyTest, LinesLoseTheirCrLfAndKeepTheirOrderAndBytes)
{
    const QByteArray odd = "/m/Caf\xe9 \xff/b b.mp3";
    EXPECT_EQ(pathsOf({"START/m/a.mp3\r\n" + odd + "\r\nEND"}), (QList<QByteArray>{"/m/a.mp3", odd}));
}

TEST(TrackListReplyTest, CompleteOnlyWhenTheLastByteOfEndHasArrived)
{
    const QByteArray wire = "START/m/a.mp3\r\n/m/b.mp3\r\nEND";
    TrackListReply reply;
    for (qsizetype i = 0; i < wire.size(); ++i) {
        reply.append(wire.sliced(i, 1));
        EXPECT_EQ(reply.mayBeComplete(), i == wire.size() - 1) << "after byte " << i;
    }
    EXPECT_EQ(reply.paths(), (QList<QByteArray>{"/m/a.mp3", "/m/b.mp3"}));
}

TEST(TrackListReplyTest, EndInsideAPathDoesNotEndTheList)
{
    TrackListReply reply;
    reply.append("START/m/END.mp3\r\n/m/xEND");
    EXPECT_FALSE(reply.mayBeComplete());
    reply.append(".mp3\r\n/m/ENDEND");
    EXPECT_FALSE(reply.mayBeComplete());
    reply.append("\r\nEND");
    EXPECT_EQ(reply.paths(), (QList<QByteArray>{"/m/END.mp3", "/m/xEND.mp3", "/m/ENDEND"}));
}

TEST(TrackListReplyTest, CandidateEndThatIsFollowedByMoreBytesIsPartOfAPath)
{
    // A folder named "END" right after a line break looks like the end until
    // more bytes arrive; the caller's quiet time tells them apart.
    TrackListReply reply;
    reply.append("START/m/a.mp3\r\nEND");
    EXPECT_TRUE(reply.mayBeComplete());
    reply.append("/b.mp3\r\nEND");
    EXPECT_EQ(reply.paths(), (QList<QByteArray>{"/m/a.mp3", "END/b.mp3"}));
}

TEST(TrackListReplyTest, BytesBeforeStartAreSkippedAndStartMaySplit)
{
    TrackListReply reply;
    reply.append("CODE_12ST");
    EXPECT_FALSE(reply.hasStarted());
    reply.append("ART/m/a.mp3\r\nEN");
    EXPECT_TRUE(reply.hasStarted());
    EXPECT_FALSE(reply.mayBeComplete());
    reply.append("D");
    EXPECT_EQ(reply.paths(), (QList<QByteArray>{"/m/a.mp3"}));
}

TEST(TrackListReplyTest, NothingIsCompleteWithoutStart)
{
    TrackListReply reply;
    reply.append("END");
    EXPECT_FALSE(reply.mayBeComplete());
    EXPECT_TRUE(reply.paths().isEmpty());
}

QList<QByteArray> describedLines(QByteArrayView block)
{
    QList<QByteArray> lines;
    for (const Notification& notification : splitNotifications(block))
        lines.append(describeNotification(notification));
    return lines;
}

TEST(NotificationSplitTest, JoinedNotificationsAreSplit)
{
    EXPECT_EQ(describedLines("CODE_12CODE_11Song"), (QList<QByteArray>{"ended", "started: Song"}));
    EXPECT_EQ(describedLines("CODE_11My SongCODE_12"), (QList<QByteArray>{"started: My Song", "ended"}));
    EXPECT_EQ(describedLines("CODE_13TrueCODE_13FalseCODE_12CODE_12"),
              (QList<QByteArray>{"shuffle: on", "shuffle: off", "ended", "ended"}));
}

TEST(NotificationSplitTest, TitleRunsToTheEndOfTheBlockWithItsBytes)
{
    EXPECT_EQ(describedLines("CODE_11A \xe9\xff-Z"), (QList<QByteArray>{"started: A \xe9\xff-Z"}));
    EXPECT_EQ(describedLines("CODE_11"), (QList<QByteArray>{"started: "}));
}

TEST(NotificationSplitTest, UnknownBytesAreReportedVisiblyOnOneLine)
{
    EXPECT_EQ(describedLines("hello"), (QList<QByteArray>{"unknown: hello"}));
    EXPECT_EQ(describedLines("xx\r\nCODE_12"), (QList<QByteArray>{"unknown: xx\\x0d\\x0a", "ended"}));
    EXPECT_EQ(describedLines("CODE_13MaybeCODE_14"), (QList<QByteArray>{"unknown: CODE_13Maybe", "unknown: CODE_14"}));
    EXPECT_EQ(describedLines("CODE_1"), (QList<QByteArray>{"unknown: CODE_1"}));
    EXPECT_TRUE(describedLines("").isEmpty());
}

TEST(TrackTitleTest, NameAfterTheLastSlashLessItsExtension)
{
    EXPECT_EQ(trackTitleOf("/music/Band/Song.mp3"), "Song");
    EXPECT_EQ(trackTitleOf("Song.mp3"), "Song");
    EXPECT_EQ(trackTitleOf("/music/dir.x/Two Words.MP3"), "Two Words");
    EXPECT_EQ(trackTitleOf("/music/abc"), "");
}

TEST(OpenReplyTest, OpenedOrNotFound)
{
    const OpenReply opened = parseOpenReply("CODE_11Song", "/m/Song.mp3");
    EXPECT_EQ(opened.kind, OpenReply::Opened);
    EXPECT_EQ(opened.title, "Song");
    EXPECT_EQ(parseOpenReply("CODE_12", "/m/Song.mp3").kind, OpenReply::NotFound);
    EXPECT_EQ(parseOpenReply("CODE_", "/m/Song.mp3").kind, OpenReply::Unrecognised);
    EXPECT_EQ(parseOpenReply("", "/m/Song.mp3").kind, OpenReply::Unrecognised);
}

TEST(OpenReplyTest, TheTrackOwnTitleWinsEvenWhenItLooksLikeACode)
{
    const OpenReply tricky = parseOpenReply("CODE_11CODE_12 live", "/m/CODE_12 live.mp3");
    EXPECT_EQ(tricky.kind, OpenReply::Opened);
    EXPECT_EQ(tricky.title, "CODE_12 live");

    const OpenReply afterEnded = parseOpenReply("CODE_12CODE_11Song", "/m/Song.mp3");
    EXPECT_EQ(afterEnded.kind, OpenReply::Opened);
    EXPECT_EQ(afterEnded.title, "Song");
}

TEST(OpenReplyTest, ATitleTheClientDidNotExpectIsStillShown)
{
    const OpenReply other = parseOpenReply("CODE_11Other", "/m/Song.mp3");
    EXPECT_EQ(other.kind, OpenReply::Opened);
    EXPECT_EQ(other.title, "Other");
}

ParsedArguments parse(std::initializer_list<QByteArray> arguments)
{
    return parseClientArguments(QList<QByteArray>(arguments));
}

TEST(ClientArgumentsTest, DefaultsAndRequests)
{
    const ParsedArguments list = parse({"list"});
    ASSERT_TRUE(list.options);
    EXPECT_EQ(list.options->host, "127.0.0.1");
    EXPECT_EQ(list.options->port, 9999);
    EXPECT_EQ(list.options->timeoutMs, 10000);
    EXPECT_EQ(requestBytes(*list.options), "00");

    const std::pair<QByteArray, QByteArray> expected[] = {
        {"play", "02"}, {"stop", "03"}, {"pause", "04"}, {"louder", "05"}, {"quieter", "06"},
    };
    for (const auto& [command, bytes] : expected) {
        const ParsedArguments parsed = parse({command});
        ASSERT_TRUE(parsed.options) << command.constData();
        EXPECT_EQ(requestBytes(*parsed.options), bytes);
    }
    EXPECT_EQ(requestBytes(*parse({"shuffle", "on"}).options), "07True");
    EXPECT_EQ(requestBytes(*parse({"shuffle", "off"}).options), "07False");
    EXPECT_EQ(requestBytes(*parse({"watch"}).options), "");
}

TEST(ClientArgumentsTest, OpenSendsThePathBytesUnchanged)
{
    const QByteArray path = "/m/Caf\xe9 \xff/--odd name.mp3\r\n";
    const ParsedArguments parsed = parse({"open", path});
    ASSERT_TRUE(parsed.options);
    EXPECT_EQ(requestBytes(*parsed.options), "01" + path);

    const ParsedArguments dashed = parse({"--port", "1234", "--", "open", "--help"});
    ASSERT_TRUE(dashed.options);
    EXPECT_EQ(dashed.options->port, 1234);
    EXPECT_EQ(requestBytes(*dashed.options), "01--help");
}

TEST(ClientArgumentsTest, OptionsInBothSpellings)
{
    const ParsedArguments parsed = parse({"--host", "example.org", "--port=4321", "--timeout=0.5", "play"});
    ASSERT_TRUE(parsed.options);
    EXPECT_EQ(parsed.options->host, "example.org");
    EXPECT_EQ(parsed.options->port, 4321);
    EXPECT_EQ(parsed.options->timeoutMs, 500);
    EXPECT_EQ(parsed.options->timeoutText, "0.5");
    EXPECT_EQ(parse({"--help"}).options->command, ClientCommand::Help);
}

TEST(ClientArgumentsTest, BadInputIsAUsageErrorWithAReason)
{
    const std::initializer_list<QByteArray> bad[] = {
        {},
        {"dance"},
        {"--port", "0", "list"},
        {"--port", "65536", "list"},
        {"--port", "12ab", "list"},
        {"--port"},
        {"--timeout", "0", "list"},
        {"--timeout", "-1", "list"},
        {"--timeout", "nan", "list"},
        {"--timeout", "soon", "list"},
        {"--host=", "list"},
        {"--verbose", "list"},
        {"open"},
        {"open", "a", "b"},
        {"shuffle"},
        {"shuffle", "yes"},
        {"shuffle", "True"},
        {"list", "extra"},
        {"--port", "1234"},
    };
    for (const auto& arguments : bad) {
        const ParsedArguments parsed = parse(arguments);
        EXPECT_FALSE(parsed.options) << QList<QByteArray>(arguments).join(' ').constData();
        EXPECT_FALSE(parsed.error.isEmpty());
    }
}

// The real client program against a scripted server on 127.0.0.1: what it
// sends, how it reads replies that arrive in awkward pieces, and its exit codes.
class ClientProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFileInfo::exists(clientPath())) << "build tallowcrest-remote first: " << clientPath().toStdString();
        ASSERT_TRUE(m_server.listen(QHostAddress::LocalHost, 0));
    }

    static QString clientPath() { return QStringLiteral(TALLOWCREST_BINARY_DIR "/tallowcrest-remote"); }

    void startClient(const QStringList& arguments)
    {
        m_client.start(clientPath(), QStringList{"--port", QString::number(m_server.serverPort()), "--timeout", "2"} + arguments);
        ASSERT_TRUE(m_client.waitForStarted(5000));
    }

    // Accepts the client and returns the first request it sends.
    QByteArray acceptRequest()
    {
        if (!m_server.waitForNewConnection(5000))
            return "<no connection>";
        m_connection.reset(m_server.nextPendingConnection());
        QByteArray request;
        if (m_connection->waitForReadyRead(5000))
            request = m_connection->readAll();
        return request;
    }

    void reply(const QByteArray& bytes, int pauseAfterMs = 0)
    {
        m_connection->write(bytes);
        m_connection->waitForBytesWritten(2000);
        if (pauseAfterMs > 0)
            QThread::msleep(pauseAfterMs);
    }

    int finish()
    {
        if (!m_client.waitForFinished(10000)) {
            m_client.kill();
            m_client.waitForFinished();
            return -1;
        }
        m_stdout = m_client.readAllStandardOutput();
        m_stderr = m_client.readAllStandardError();
        return m_client.exitStatus() == QProcess::NormalExit ? m_client.exitCode() : -2;
    }

    QTcpServer m_server;
    std::unique_ptr<QTcpSocket> m_connection;
    QProcess m_client;
    QByteArray m_stdout;
    QByteArray m_stderr;
};

TEST_F(ClientProgramTest, ListArrivingInPiecesWithAnEndLikePathInBetween)
{
    startClient({"list"});
    EXPECT_EQ(acceptRequest(), "00");
    reply("STA", 30);
    reply("RT/m/a b.mp3\r\nEND", 30);  // a folder called END follows: not the end yet
    reply("/c.mp3\r\n/m/\xe9.mp3\r\nEN", 30);
    reply("D", 200);
    EXPECT_EQ(finish(), 0) << m_stderr.constData();
    EXPECT_EQ(m_stdout, "/m/a b.mp3\nEND/c.mp3\n/m/\xe9.mp3\n");
}

TEST_F(ClientProgramTest, ListCutOffByTheServerIsAnError)
{
    startClient({"list"});
    EXPECT_EQ(acceptRequest(), "00");
    reply("START/m/a.mp3\r\n/m/b");
    m_connection->close();
    EXPECT_EQ(finish(), 1);
    EXPECT_TRUE(m_stdout.isEmpty());
    EXPECT_TRUE(m_stderr.contains("closed the connection")) << m_stderr.constData();
}

TEST_F(ClientProgramTest, SilentServerMeansNoAnswerInTime)
{
    startClient({"list"});
    EXPECT_EQ(acceptRequest(), "00");
    EXPECT_EQ(finish(), 1);
    EXPECT_TRUE(m_stderr.contains("no answer from 127.0.0.1:")) << m_stderr.constData();
    EXPECT_TRUE(m_stderr.contains("within 2 s")) << m_stderr.constData();
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

TEST_F(ClientProgramTest, TransportCommandsTellNoTrackFromSilence)
{
    startClient({"pause"});
    EXPECT_EQ(acceptRequest(), "04");
    reply("CODE_12");
    EXPECT_EQ(finish(), 3);
    EXPECT_EQ(m_stdout, "no track loaded\n");

    startClient({"play"});
    EXPECT_EQ(acceptRequest(), "02");
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(m_stdout, "ok\n");
}

TEST_F(ClientProgramTest, ShuffleSendsOneRequestAndHangsUp)
{
    startClient({"shuffle", "off"});
    EXPECT_EQ(acceptRequest(), "07False");
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(m_stdout, "ok\n");
    EXPECT_FALSE(m_connection->waitForReadyRead(200));
    EXPECT_EQ(m_connection->readAll(), "");
}

TEST_F(ClientProgramTest, WatchPrintsJoinedNotificationsAndStopsOnSigterm)
{
    startClient({"watch"});
    ASSERT_TRUE(m_server.waitForNewConnection(5000));
    m_connection.reset(m_server.nextPendingConnection());
    reply("CODE_12CODE_11Song", 100);
    reply("CODE_13True", 100);
    reply("bogus\n", 300);
    m_client.terminate();
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(m_stdout, "ended\nstarted: Song\nshuffle: on\nunknown: bogus\\x0a\n");
    EXPECT_EQ(m_connection->readAll(), "");  // watch never sends a request
}

TEST_F(ClientProgramTest, WatchEndsWhenTheServerCloses)
{
    startClient({"watch"});
    ASSERT_TRUE(m_server.waitForNewConnection(5000));
    m_connection.reset(m_server.nextPendingConnection());
    reply("CODE_13False", 100);
    m_connection->close();
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(m_stdout, "shuffle: off\n");
}

TEST(ClientProgramConnectTest, RefusedConnectionIsExitOneWithTheReason)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 closedPort = probe.serverPort();
    probe.close();

    QProcess client;
    client.start(QStringLiteral(TALLOWCREST_BINARY_DIR "/tallowcrest-remote"), {"--port", QString::number(closedPort), "list"});
    ASSERT_TRUE(client.waitForFinished(10000));
    EXPECT_EQ(client.exitCode(), 1);
    EXPECT_EQ(client.readAllStandardError(),
              QStringLiteral("tallowcrest-remote: cannot connect to 127.0.0.1:%1: Connection refused\n").arg(closedPort).toUtf8());
    EXPECT_EQ(client.readAllStandardOutput(), "");
}

TEST(ClientProgramConnectTest, UsageErrorIsExitTwoWithUsageOnStderr)
{
    QProcess client;
    client.start(QStringLiteral(TALLOWCREST_BINARY_DIR "/tallowcrest-remote"), {"shuffle", "maybe"});
    ASSERT_TRUE(client.waitForFinished(10000));
    EXPECT_EQ(client.exitCode(), 2);
    const QByteArray error = client.readAllStandardError();
    EXPECT_TRUE(error.startsWith("tallowcrest-remote: shuffle needs 'on' or 'off'\nusage: tallowcrest-remote")) << error.constData();
    EXPECT_EQ(client.readAllStandardOutput(), "");
}

}  // namespace
}  // namespace tallowcrest
