#pragma once
// "Let pending events run" and bounded waits that keep the UI thread alive.
#include <functional>

namespace kv::platform {

// Runs the events that are waiting, as a handler that yields does.
void DoEvents();

// Pumps events until done() holds or timeoutMs passes. Returns done()'s last value.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

} // namespace kv::platform
