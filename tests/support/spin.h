#pragma once

#include <functional>

namespace tallowcrest {

// Runs Qt events until done() holds or timeoutMs pass; returns done().
bool SpinUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// Runs Qt events for ms milliseconds.
void SpinFor(int ms);

}  // namespace tallowcrest
