#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace tallowcrest {

enum class ClientCommand { List, Open, Play, Stop, Pause, Louder, Quieter, Shuffle, Watch, Help };

struct ClientOptions {
    QByteArray host = "127.0.0.1";
    quint16 port = 9999;
    int timeoutMs = 10000;
    QByteArray timeoutText = "10";  // as the user wrote it, for messages
    ClientCommand command = ClientCommand::Help;
    // The command's argument as raw bytes: the path for open, "True"/"False" for shuffle.
    QByteArray argument;
};

struct ParsedArguments {
    std::optional<ClientOptions> options;
    QString error;  // set when options is empty
};

// Arguments without the program name, as the raw bytes of argv so that paths
// reach the server unchanged whatever the locale.
ParsedArguments parseClientArguments(const QList<QByteArray>& arguments);

QString clientUsage();

// The exact bytes of the one request a command sends; empty for watch and help.
QByteArray requestBytes(const ClientOptions& options);

}  // namespace tallowcrest
