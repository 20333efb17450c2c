#include "remote/client/client_commands.h"

#include "remote/client/remote_connection.h"
#include "remote/client/reply_parsing.h"
#include "remote/protocol.h"

#include <QDeadlineTimer>

#include <csignal>
#include <cstdio>

namespace tallowcrest {

namespace {

// The server holds still after "END", so half of that pause without a byte
// confirms that an "END" really closed the list.
constexpr int kListQuietMs = protocol::kPauseAfterListMs / 2;
// How long play, stop and pause wait for a "CODE_12" before taking silence as
// success. A track that ends within it sends the same bytes unasked.
constexpr int kNoLoadedTrackWaitMs = 300;
// Time for the server to read a request that has no reply before we hang up.
constexpr int kLingerMs = 100;
// Pieces of one notification arriving apart are joined within this gap.
constexpr int kNotificationGapMs = 20;
constexpr int kWatchPollMs = 100;

volatile std::sig_atomic_t g_watchStopRequested = 0;

void writeOut(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

void writeLine(const QByteArray& line)
{
    writeOut(line + '\n');
}

ClientExitStatus fail(const QString& message)
{
    std::fprintf(stderr, "tallowcrest-remote: %s\n", message.toLocal8Bit().constData());
    return ClientExitStatus::Failed;
}

QString noAnswer(const RemoteConnection& connection, const ClientOptions& options)
{
    if (connection.isClosed())
        return QStringLiteral("%1 closed the connection before answering").arg(connection.address());
    return QStringLiteral("no answer from %1 within %2 s")
        .arg(connection.address(), QString::fromLocal8Bit(options.timeoutText));
}

ClientExitStatus runList(RemoteConnection& connection, const ClientOptions& options)
{
    if (!connection.send(requestBytes(options)))
        return fail(connection.errorMessage());
    TrackListReply reply;
    // The timeout bounds each wait for more bytes, not the whole transfer: the
    // server scans the folder first, and a large list takes a while to arrive.
    while (true) {
        const QByteArray bytes = connection.waitForBytes(options.timeoutMs);
        if (bytes.isEmpty()) {
            if (reply.hasStarted() && connection.isClosed())
                return fail(QStringLiteral("%1 closed the connection before the track list was complete")
                                .arg(connection.address()));
            if (reply.hasStarted())
                return fail(QStringLiteral("the track list from %1 stopped arriving for %2 s")
                                .arg(connection.address(), QString::fromLocal8Bit(options.timeoutText)));
            return fail(noAnswer(connection, options));
        }
        reply.append(bytes);
        while (reply.mayBeComplete()) {
            const QByteArray more = connection.waitForBytes(kListQuietMs);
            if (more.isEmpty()) {
                QByteArray out;
                for (const QByteArray& path : reply.paths())
                    out += path + '\n';
                writeOut(out);
                return ClientExitStatus::Ok;
            }
            reply.append(more);
        }
    }
}

ClientExitStatus runOpen(RemoteConnection& connection, const ClientOptions& options)
{
    if (!connection.send(requestBytes(options)))
        return fail(connection.errorMessage());
    const QDeadlineTimer deadline(options.timeoutMs);
    QByteArray block;
    OpenReply reply{OpenReply::Kind::Unrecognised, {}};
    while (reply.kind == OpenReply::Kind::Unrecognised) {
        const QByteArray bytes = connection.waitForBytes(int(deadline.remainingTime()));
        if (bytes.isEmpty())
            return fail(noAnswer(connection, options));
        block += bytes;
        reply = parseOpenReply(block, options.argument);
    }
    // A title may come in more than one piece.
    block += connection.readUntilQuiet(kNotificationGapMs * 2);
    reply = parseOpenReply(block, options.argument);
    connection.close();
    if (reply.kind == OpenReply::Kind::NotFound) {
        writeLine("not found: " + options.argument);
        return ClientExitStatus::NotFound;
    }
    writeLine("opened: " + reply.title);
    return ClientExitStatus::Ok;
}

ClientExitStatus runTransport(RemoteConnection& connection, const ClientOptions& options)
{
    if (!connection.send(requestBytes(options)))
        return fail(connection.errorMessage());
    const QDeadlineTimer deadline(kNoLoadedTrackWaitMs);
    QByteArray block;
    while (!deadline.hasExpired() && !connection.isClosed()) {
        block += connection.waitForBytes(int(deadline.remainingTime()));
        for (const Notification& notification : splitNotifications(block)) {
            if (notification.kind == Notification::Kind::Ended) {
                connection.close();
                writeLine("no track loaded, or a track ended just then (the server's CODE_12 means either)");
                return ClientExitStatus::NothingLoadedOrTrackEnded;
            }
        }
    }
    connection.close();
    writeLine("ok");
    return ClientExitStatus::Ok;
}

ClientExitStatus runWithoutReply(RemoteConnection& connection, const ClientOptions& options)
{
    if (!connection.send(requestBytes(options)))
        return fail(connection.errorMessage());
    connection.readUntilQuiet(kLingerMs);
    connection.close();
    writeLine("ok");
    return ClientExitStatus::Ok;
}

ClientExitStatus runWatch(RemoteConnection& connection)
{
    while (!g_watchStopRequested) {
        QByteArray block = connection.waitForBytes(kWatchPollMs);
        if (block.isEmpty()) {
            if (connection.isClosed())
                break;
            continue;
        }
        block += connection.readUntilQuiet(kNotificationGapMs);
        for (const Notification& notification : splitNotifications(block))
            writeLine(describeNotification(notification));
    }
    connection.close();
    return ClientExitStatus::Ok;
}

}  // namespace

void requestWatchStop()
{
    g_watchStopRequested = 1;
}

ClientExitStatus runClientCommand(const ClientOptions& options)
{
    RemoteConnection connection(options);
    if (!connection.connectToServer())
        return fail(connection.errorMessage());

    switch (options.command) {
    case ClientCommand::List: return runList(connection, options);
    case ClientCommand::Open: return runOpen(connection, options);
    case ClientCommand::Play:
    case ClientCommand::Stop:
    case ClientCommand::Pause: return runTransport(connection, options);
    case ClientCommand::Louder:
    case ClientCommand::Quieter:
    case ClientCommand::Shuffle: return runWithoutReply(connection, options);
    case ClientCommand::Watch: return runWatch(connection);
    case ClientCommand::Help: break;
    }
    return ClientExitStatus::Usage;
}

}  // namespace tallowcrest
