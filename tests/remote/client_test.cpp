// The command-line client: how it reads the server's replies, its arguments, the program against a scripted server.
#include "remote/client/client_options.h"
#include "remote/client/reply_parsing.h"
#include "support/spin.h"
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

namespace tallowcrest {
namespace {
using Bytes = QList<QByteArray>;
TEST(ClientReplies, AListEndsOnlyAtEndAfterALineEnd)
{
    struct Piece { QByteArray bytes; bool mayBeComplete; };
    const struct { const char* name; std::vector<Piece> pieces; Bytes paths; } rows[] = {
        {"an empty list", {{"STARTEND", true}}, {}},
        {"END in paths", {{"START/m/END.mp3\r\n/m/xEND", false}, {".mp3\r\nEND", true}}, {"/m/END.mp3", "/m/xEND.mp3"}},
        {"a notice first, START split", {{"CODE_12ST", false}, {"ART/m/a.mp3\r\nEN", false}, {"D", true}}, {"/m/a.mp3"}},
        {"END without START", {{"END", false}}, {}}};
    for (const auto& row : rows) {
        TrackListReply reply;
        for (const Piece& piece : row.pieces)
            EXPECT_EQ((reply.append(piece.bytes), reply.mayBeComplete()), piece.mayBeComplete) << row.name;
        EXPECT_EQ(reply.paths(), row.paths) << row.name;
    }
}
TEST(ClientReplies, NotificationsJoinedInOneBlockAreToldApart)
{
    const struct { const char* name; QByteArray block; Bytes lines; } rows[] = {
        {"ended, started", "CODE_12CODE_11Song", {"ended", "started: Song"}},
        {"shuffle", "CODE_13TrueCODE_13FalseCODE_12", {"shuffle: on", "shuffle: off", "ended"}},
        {"a title of any bytes", "CODE_11A \xe9\xff-Z", {"started: A \xe9\xff-Z"}},
        {"control bytes escaped", "xx\r\nCODE_12", {"unknown: xx\\x0d\\x0a", "ended"}},
        {"unknown codes", "CODE_13MaybeCODE_14", {"unknown: CODE_13Maybe", "unknown: CODE_14"}}};
    for (const auto& row : rows) {
        Bytes lines;
        for (const Notification& notification : splitNotifications(row.block))
            lines.append(describeNotification(notification));
        EXPECT_EQ(lines, row.lines) << row.name;
    }
}
TEST(ClientReplies, AnOpenIsAnsweredByATitleOrCode12)
{
    const struct { const char* name; QByteArray block, path; OpenReply::Kind kind; QByteArray title; } rows[] = {
        {"a code cut short", "CODE_", "/m/Song.mp3", OpenReply::Kind::Unrecognised, ""},
        {"a title holding a code", "CODE_11CODE_12 live", "/m/CODE_12 live.mp3", OpenReply::Kind::Opened, "CODE_12 live"},
        {"after an end", "CODE_12CODE_11Song", "/m/Song.mp3", OpenReply::Kind::Opened, "Song"},
        {"another title", "CODE_11Other", "/m/Song.mp3", OpenReply::Kind::Opened, "Other"}};
    for (const auto& row : rows) {
        const OpenReply reply = parseOpenReply(row.block, row.path);
        EXPECT_EQ(std::pair(reply.kind, reply.title), std::pair(row.kind, row.title)) << row.name;
    }
}
TEST(ClientArguments, EachCommandSendsItsBytesAndBadArgumentsAreUsageErrors)
{
    const QByteArray path = "/m/Caf\xe9 \xff/--odd name.mp3\r\n";
    const std::pair<Bytes, QByteArray> good[] = {
        {{"list"}, "00"}, {{"play"}, "02"}, {{"stop"}, "03"}, {{"pause"}, "04"}, {{"louder"}, "05"},
        {{"quieter"}, "06"}, {{"shuffle", "on"}, "07True"}, {{"shuffle", "off"}, "07False"},
        {{"open", path}, "01" + path}, {{"--port=1234", "--", "open", "--help"}, "01--help"}};
    for (const auto& [arguments, bytes] : good) {
        const ParsedArguments parsed = parseClientArguments(arguments);
        EXPECT_EQ(parsed.options ? requestBytes(*parsed.options) : parsed.error.toUtf8(), bytes) << bytes.data();
    }
    const Bytes bad[] = {{}, {"dance"}, {"--port", "0", "list"}, {"--port", "65536", "list"}, {"--port", "12ab", "list"},
                         {"--port"}, {"--timeout", "0", "list"}, {"--timeout", "nan", "list"}, {"--host=", "list"},
                         {"--verbose", "list"}, {"open"}, {"open", "a", "b"}, {"shuffle", "True"}, {"list", "x"}};
    for (const Bytes& arguments : bad) {
        const ParsedArguments parsed = parseClientArguments(arguments);
        EXPECT_TRUE(!parsed.options && !parsed.error.isEmpty()) << arguments.join(' ').constData();
    }
}
class ClientProgram : public ::testing::Test {
protected:
    void start(QProcess& client, const QStringList& arguments)
    {
        client.start(TALLOWCREST_BINARY_DIR "/tallowcrest-remote", QStringList{"--port", port, "--timeout=1.5"} + arguments);
    }
    // Runs the client; with replies, takes its connection and sends them one write each once its request came.
    std::tuple<int, std::string, std::string> run(const QStringList& arguments, const std::optional<Bytes>& replies = {})
    {
        QProcess client;
        start(client, arguments);
        std::unique_ptr<QTcpSocket> connection;
        if (replies && server.waitForNewConnection(5000)) {
            connection.reset(server.nextPendingConnection());
            connection->waitForReadyRead(5000);
            for (const QByteArray& reply : *replies)
                connection->write(reply), connection->waitForBytesWritten(2000);
        }
        client.waitForFinished(10000);
        return {client.exitCode(), client.readAllStandardOutput().toStdString(), client.readAllStandardError().toStdString()};
    }
    QTcpServer server;
    const QString port = server.listen(QHostAddress::LocalHost, 0) ? QString::number(server.serverPort()) : "no port";
};
TEST_F(ClientProgram, PrintsTheRepliesAndExitsWithTheirStatus)
{
    const struct { const char* name; QStringList arguments; std::optional<Bytes> replies; int status; std::string out, err; }
        rows[] = {
            {"a list in pieces", {"list"}, Bytes{"STA", "RT/m/a b.mp3\r\nEND", "/c.mp3\r\n/m/\xe9.mp3\r\nEN", "D"}, 0,
             "/m/a b.mp3\nEND/c.mp3\n/m/\xe9.mp3\n", ""},
            {"an open", {"open", "/m/Caf\xc3\xa9.mp3"}, Bytes{"CODE_11Caf\xc3\xa9"}, 0, "opened: Caf\xc3\xa9\n", ""},
            {"an open of nothing", {"open", "/m/gone.mp3"}, Bytes{"CODE_12"}, 3, "not found: /m/gone.mp3\n", ""},
            {"play answered CODE_12", {"play"}, Bytes{"CODE_12"}, 4,
             "no track loaded, or a track ended just then (the server's CODE_12 means either)\n", ""},
            {"no answer", {"list"}, Bytes{}, 1, "", "tallowcrest-remote: no answer from 127.0.0.1:" + port.toStdString()
             + " within 1.5 s\n"}};
    for (const auto& row : rows)
        EXPECT_EQ(run(row.arguments, row.replies), std::tuple(row.status, row.out, row.err)) << row.name;
    EXPECT_EQ(std::get<0>(run({"shuffle", "maybe"})), 2) << "a usage error";
}
TEST_F(ClientProgram, ARefusedConnectionIsTriedAgainForTwoSecondsBeforeItCounts)
{
    server.close();
    QProcess late;
    start(late, {"louder"});
    const auto pausingAfterARefusal = [&] {
        QFile wchan(QString("/proc/%1/wchan").arg(late.processId()));
        return wchan.open(QIODevice::ReadOnly) && wchan.readAll() == "hrtimer_nanosleep";
    };
    ASSERT_TRUE(SpinUntil(pausingAfterARefusal));
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, port.toUShort()));
    ASSERT_TRUE(server.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> connection(server.nextPendingConnection());
    EXPECT_TRUE(connection->waitForReadyRead(5000) && connection->readAll() == "05");
    ASSERT_TRUE(late.waitForFinished(5000));
    EXPECT_EQ(late.exitCode(), 0) << late.readAllStandardError().constData();
    server.close();
    EXPECT_EQ(std::get<2>(run({"list"})),
              "tallowcrest-remote: cannot connect to 127.0.0.1:" + port.toStdString() + ": Connection refused\n");
}
}  // namespace
}  // namespace tallowcrest
