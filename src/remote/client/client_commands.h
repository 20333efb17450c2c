#pragma once

#include "remote/client/client_options.h"

namespace tallowcrest {

enum ClientExitCode { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitServerSaidNo = 3 };

// Runs one command against the server; messages go to stdout and stderr.
int runClientCommand(const ClientOptions& options);

// Asks watch to end at its next chance; safe to call from a signal handler.
void requestWatchStop();

}  // namespace tallowcrest
