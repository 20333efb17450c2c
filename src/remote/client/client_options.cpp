#include "remote/client/client_options.h"

#include "remote/client/client_exit_status.h"
#include "remote/protocol.h"

#include <cmath>

namespace tallowcrest {

namespace {

std::optional<ClientCommand> commandNamed(const QByteArray& name)
{
    static const struct {
        const char* name;
        ClientCommand command;
    } kCommands[] = {
        {"list", ClientCommand::List},       {"open", ClientCommand::Open},
        {"play", ClientCommand::Play},       {"stop", ClientCommand::Stop},
        {"pause", ClientCommand::Pause},     {"louder", ClientCommand::Louder},
        {"quieter", ClientCommand::Quieter}, {"shuffle", ClientCommand::Shuffle},
        {"watch", ClientCommand::Watch},
    };
    for (const auto& entry : kCommands) {
        if (name == entry.name)
            return entry.command;
    }
    return std::nullopt;
}

ParsedArguments failure(const QString& message)
{
    return {std::nullopt, message};
}

}  // namespace

ParsedArguments parseClientArguments(const QList<QByteArray>& arguments)
{
    ClientOptions options;
    qsizetype index = 0;

    // Options come before the command; everything after it is the command's own,
    // so a path that starts with "--" can still be opened.
    while (index < arguments.size() && arguments[index].startsWith('-')) {
        QByteArray name = arguments[index];
        if (name == "--")
            break;
        if (name == "-h" || name == "--help") {
            options.command = ClientCommand::Help;
            return {options, {}};
        }
        QByteArray value;
        const qsizetype equals = name.indexOf('=');
        if (equals > 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
        } else if (name == "--host" || name == "--port" || name == "--timeout") {
            if (index + 1 >= arguments.size())
                return failure(QStringLiteral("option %1 needs a value").arg(QString::fromLocal8Bit(name)));
            value = arguments[++index];
        }
        ++index;

        if (name == "--host") {
            if (value.isEmpty())
                return failure(QStringLiteral("--host needs a host name or address"));
            options.host = value;
        } else if (name == "--port") {
            bool ok = false;
            const uint port = value.toUInt(&ok);
            if (!ok || port == 0 || port > 65535)
                return failure(QStringLiteral("invalid port '%1' (expected 1 to 65535)").arg(QString::fromLocal8Bit(value)));
            options.port = static_cast<quint16>(port);
        } else if (name == "--timeout") {
            bool ok = false;
            const double seconds = value.toDouble(&ok);
            if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400)
                return failure(QStringLiteral("invalid timeout '%1' (expected seconds, more than 0)").arg(QString::fromLocal8Bit(value)));
            options.timeoutMs = std::max(1, static_cast<int>(std::lround(seconds * 1000)));
            options.timeoutText = value;
        } else {
            return failure(QStringLiteral("unknown option '%1'").arg(QString::fromLocal8Bit(name)));
        }
    }
    if (index < arguments.size() && arguments[index] == "--")
        ++index;

    if (index >= arguments.size())
        return failure(QStringLiteral("no command given"));
    const QByteArray name = arguments[index++];
    const std::optional<ClientCommand> command = commandNamed(name);
    if (!command)
        return failure(QStringLiteral("unknown command '%1'").arg(QString::fromLocal8Bit(name)));
    options.command = *command;
    const QList<QByteArray> rest = arguments.mid(index);

    switch (options.command) {
    case ClientCommand::Open:
        if (rest.size() != 1)
            return failure(QStringLiteral("open needs exactly one PATH"));
        options.argument = rest.first();
        break;
    case ClientCommand::Shuffle:
        if (rest.size() != 1 || (rest.first() != "on" && rest.first() != "off"))
            return failure(QStringLiteral("shuffle needs 'on' or 'off'"));
        options.argument = rest.first() == "on" ? "True" : "False";
        break;
    default:
        if (!rest.isEmpty())
            return failure(QStringLiteral("%1 takes no argument").arg(QString::fromLocal8Bit(name)));
        break;
    }
    return {options, {}};
}

QString clientUsage()
{
    const auto status = [](ClientExitStatus exitStatus) { return QString::number(int(exitStatus)); };
    return QStringLiteral(
        "usage: tallowcrest-remote [--host H] [--port P] [--timeout SECONDS] COMMAND\n"
        "\n"
        "commands:\n"
        "  list            print the server's track list, one path per line\n"
        "  open PATH       open and play the track at PATH (a path from 'list')\n"
        "  play | stop | pause\n"
        "  louder | quieter\n"
        "  shuffle on|off\n"
        "  watch           print the server's notifications until interrupted\n"
        "\n"
        "defaults: --host 127.0.0.1 --port 9999 --timeout 10\n"
        "exit status: %1 ok, %2 connection failed or no answer in time, %3 usage error,\n"
        "             %4 open: no such track,\n"
        "             %5 play, stop, pause: no track loaded, or a track ended just then\n")
        .arg(status(ClientExitStatus::Ok), status(ClientExitStatus::Failed), status(ClientExitStatus::Usage),
             status(ClientExitStatus::NotFound), status(ClientExitStatus::NothingLoadedOrTrackEnded));
}

QByteArray requestBytes(const ClientOptions& options)
{
    const auto word = [](std::string_view opcode) { return QByteArray(opcode.data(), qsizetype(opcode.size())); };
    switch (options.command) {
    case ClientCommand::List: return word(protocol::kListTracks);
    case ClientCommand::Open: return word(protocol::kOpenTrack) + options.argument;
    case ClientCommand::Play: return word(protocol::kPlay);
    case ClientCommand::Stop: return word(protocol::kStop);
    case ClientCommand::Pause: return word(protocol::kPause);
    case ClientCommand::Louder: return word(protocol::kLouder);
    case ClientCommand::Quieter: return word(protocol::kQuieter);
    case ClientCommand::Shuffle: return word(protocol::kSetShuffle) + options.argument;
    case ClientCommand::Watch:
    case ClientCommand::Help: return {};
    }
    return {};
}

}  // namespace tallowcrest
