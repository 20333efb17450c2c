#pragma once

#include "remote/client/client_exit_status.h"
#include "remote/client/client_options.h"

namespace tallowcrest {

// Runs one command against the server; messages go to stdout and stderr.
ClientExitStatus runClientCommand(const ClientOptions& options);

// Asks watch to end at its next chance; safe to call from a signal handler.
void requestWatchStop();

}  // namespace tallowcrest
