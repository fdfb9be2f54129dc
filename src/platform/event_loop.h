#pragma once

#include <functional>

// The window's single event loop. Every routine runs on it; a routine that waits
// lets the others run through these two calls.
namespace platform {

// Process the pending window events once, then return.
void PumpEventsOnce();

// Pumps events, blocking while none are pending, until `done` returns true, the
// window is closing (`closing` returns true) or `timeoutMs` has passed (a negative
// value waits without a time bound, but never past the close). Returns `done()`.
bool WaitUntil(const std::function<bool()>& done, const std::function<bool()>& closing,
               int timeoutMs);

// Wakes a WaitUntil that blocks for events, so that it looks at its conditions again.
void WakeWaiters();

}  // namespace platform
