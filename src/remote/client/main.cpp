#include "remote/client/client_commands.h"
#include "remote/client/client_options.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

void onStopSignal(int)
{
    tallowcrest::requestWatchStop();
}

void installStopHandlers()
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a signal should cut a wait short
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    // argv is kept as raw bytes: a path goes to the server exactly as given.
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));

    QCoreApplication app(argc, argv);
    const tallowcrest::ParsedArguments parsed = tallowcrest::parseClientArguments(arguments);
    if (!parsed.options) {
        std::fprintf(stderr, "tallowcrest-remote: %s\n%s", parsed.error.toLocal8Bit().constData(),
                     tallowcrest::clientUsage().toLocal8Bit().constData());
        return int(tallowcrest::ClientExitStatus::Usage);
    }
    if (parsed.options->command == tallowcrest::ClientCommand::Help) {
        std::fputs(tallowcrest::clientUsage().toLocal8Bit().constData(), stdout);
        return int(tallowcrest::ClientExitStatus::Ok);
    }
    installStopHandlers();
    return int(tallowcrest::runClientCommand(*parsed.options));
}
