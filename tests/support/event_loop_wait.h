#pragma once

#include <functional>

namespace tallowcrest {

// Runs the calling thread's event loop until cond() holds or timeoutMs have
// passed; returns cond() at the end. cond is checked before any event is
// handled and then every few milliseconds, so it may also watch other threads.
bool SpinUntil(std::function<bool()> cond, int timeoutMs = 5000);

}  // namespace tallowcrest
