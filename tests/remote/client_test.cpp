// The command-line client: how it reads the server's replies, its arguments,
// and the program against a scripted server.
#include "remote/client/client_options.h"
#include "remote/client/reply_parsing.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

namespace tallowcrest {
namespace {

using Bytes = QList<QByteArray>;

TEST(ClientReplies, ListsNotificationsAndOpenAnswers)
{
    struct Piece { QByteArray bytes; bool mayBeComplete; };
    const struct { std::vector<Piece> pieces; Bytes paths; } lists[] = {
        {{{"STARTEND", true}}, {}},
        {{{"START/m/END.mp3\r\n/m/xEND", false}, {".mp3\r\nEND", true}}, {"/m/END.mp3", "/m/xEND.mp3"}},
        // A notification just before the list, and START split in two.
        {{{"CODE_12ST", false}, {"ART/m/a.mp3\r\nEN", false}, {"D", true}}, {"/m/a.mp3"}},
        {{{"END", false}}, {}}};
    for (const auto& [pieces, paths] : lists) {
        TrackListReply reply;
        for (const Piece& piece : pieces) {
            reply.append(piece.bytes);
            EXPECT_EQ(reply.mayBeComplete(), piece.mayBeComplete) << piece.bytes.constData();
        }
        EXPECT_EQ(reply.paths(), paths) << pieces.front().bytes.constData();
    }
    const std::pair<QByteArray, Bytes> notifications[] = {
        {"CODE_12CODE_11Song", {"ended", "started: Song"}},
        {"CODE_13TrueCODE_13FalseCODE_12", {"shuffle: on", "shuffle: off", "ended"}},
        {"CODE_11A \xe9\xff-Z", {"started: A \xe9\xff-Z"}},
        {"xx\r\nCODE_12", {"unknown: xx\\x0d\\x0a", "ended"}},
        {"CODE_13MaybeCODE_14", {"unknown: CODE_13Maybe", "unknown: CODE_14"}}};
    for (const auto& [block, expected] : notifications) {
        Bytes lines;
        for (const Notification& notification : splitNotifications(block))
            lines.append(describeNotification(notification));
        EXPECT_EQ(lines, expected) << block.constData();
    }
    const struct { QByteArray block, path; OpenReply::Kind kind; QByteArray title; } opens[] = {
        {"CODE_", "/m/Song.mp3", OpenReply::Kind::Unrecognised, ""},
        {"CODE_11CODE_12 live", "/m/CODE_12 live.mp3", OpenReply::Kind::Opened, "CODE_12 live"},
        {"CODE_12CODE_11Song", "/m/Song.mp3", OpenReply::Kind::Opened, "Song"},
        {"CODE_11Other", "/m/Song.mp3", OpenReply::Kind::Opened, "Other"}};
    for (const auto& c : opens) {
        const OpenReply reply = parseOpenReply(c.block, c.path);
        EXPECT_EQ(std::pair(reply.kind, reply.title), std::pair(c.kind, c.title)) << c.block.constData();
    }
}

TEST(ClientArguments, RequestBytesAndUsageErrors)
{
    const QByteArray path = "/m/Caf\xe9 \xff/--odd name.mp3\r\n";
    const std::pair<Bytes, QByteArray> good[] = {
        {{"list"}, "00"}, {{"play"}, "02"}, {{"stop"}, "03"}, {{"pause"}, "04"}, {{"louder"}, "05"},
        {{"quieter"}, "06"}, {{"shuffle", "on"}, "07True"}, {{"shuffle", "off"}, "07False"},
        {{"open", path}, "01" + path}, {{"--port=1234", "--", "open", "--help"}, "01--help"}};
    for (const auto& [arguments, bytes] : good) {
        const ParsedArguments parsed = parseClientArguments(arguments);
        ASSERT_TRUE(parsed.options) << arguments.join(' ').constData();
        EXPECT_EQ(requestBytes(*parsed.options), bytes);
    }
    const Bytes bad[] = {{}, {"dance"}, {"--port", "0", "list"}, {"--port", "65536", "list"}, {"--port", "12ab", "list"},
                         {"--port"}, {"--timeout", "0", "list"}, {"--timeout", "nan", "list"}, {"--host=", "list"},
                         {"--verbose", "list"}, {"open"}, {"open", "a", "b"}, {"shuffle", "True"}, {"list", "x"}};
    for (const Bytes& arguments : bad) {
        const ParsedArguments parsed = parseClientArguments(arguments);
        EXPECT_TRUE(!parsed.options && !parsed.error.isEmpty()) << arguments.join(' ').constData();
    }
}

// The real program: output, exit status, and a server that is late to listen.
TEST(ClientProgram, AgainstAScriptedServer)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    const QString port = QString::number(server.serverPort());
    // Runs the client; with replies, takes its connection, then sends them a piece at a time.
    const auto run = [&](const QStringList& arguments, const std::optional<Bytes>& replies = std::nullopt) {
        QProcess client;
        client.start(TALLOWCREST_BINARY_DIR "/tallowcrest-remote", QStringList{"--port", port, "--timeout=1.5"} + arguments);
        std::unique_ptr<QTcpSocket> connection;
        if (replies && server.waitForNewConnection(5000)) {
            connection.reset(server.nextPendingConnection());
            connection->waitForReadyRead(5000);
            for (const QByteArray& reply : *replies) {
                connection->write(reply);
                connection->waitForBytesWritten(2000);
                QThread::msleep(40);
            }
        }
        client.waitForFinished(10000);
        return std::tuple(client.exitCode(), client.readAllStandardOutput(), client.readAllStandardError());
    };
    EXPECT_EQ(run({"list"}, Bytes{"STA", "RT/m/a b.mp3\r\nEND", "/c.mp3\r\n/m/\xe9.mp3\r\nEN", "D"}),
              std::tuple(0, QByteArray("/m/a b.mp3\nEND/c.mp3\n/m/\xe9.mp3\n"), QByteArray()));
    EXPECT_EQ(std::get<1>(run({"open", "/m/Caf\xc3\xa9.mp3"}, Bytes{"CODE_11Caf\xc3\xa9"})), "opened: Caf\xc3\xa9\n");
    EXPECT_EQ(run({"open", "/m/gone.mp3"}, Bytes{"CODE_12"}),
              std::tuple(3, QByteArray("not found: /m/gone.mp3\n"), QByteArray()));
    // play answered CODE_12: nothing loaded, or a track that ended just then; the bytes are the same.
    EXPECT_EQ(run({"play"}, Bytes{"CODE_12"}),
              std::tuple(4, QByteArray("no track loaded, or a track ended just then (the server's CODE_12 means "
                                       "either)\n"), QByteArray()));
    EXPECT_EQ(std::get<2>(run({"list"}, Bytes{})),
              "tallowcrest-remote: no answer from 127.0.0.1:" + port.toUtf8() + " within 1.5 s\n");
    EXPECT_EQ(std::get<0>(run({"shuffle", "maybe"})), 2);

    // Refused connections are tried again for two seconds before they count.
    server.close();
    QProcess late;
    late.start(TALLOWCREST_BINARY_DIR "/tallowcrest-remote", {"--port", port, "louder"});
    QThread::msleep(800);
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, port.toUShort()));
    ASSERT_TRUE(server.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> connection(server.nextPendingConnection());
    EXPECT_TRUE(connection->waitForReadyRead(5000) && connection->readAll() == "05");
    ASSERT_TRUE(late.waitForFinished(5000));
    EXPECT_EQ(late.exitCode(), 0) << late.readAllStandardError().constData();
    server.close();
    EXPECT_EQ(std::get<2>(run({"list"})),
              "tallowcrest-remote: cannot connect to 127.0.0.1:" + port.toUtf8() + ": Connection refused\n");
}

}  // namespace
}  // namespace tallowcrest
