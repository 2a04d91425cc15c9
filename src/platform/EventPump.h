#pragma once
// Waiting on the user-interface thread without spinning.
//
// Every waiting loop of the program keeps window messages flowing: it handles
// whatever is pending and, when nothing is, lets the thread sleep until an
// event arrives (received serial data, a click, a timer) or until its own
// time-out is due.
#include <cstdint>
#include <functional>

// Handles all pending events once; never sleeps.
void ProcessPendingEvents();

// Handles all pending events; when none is pending, sleeps until one arrives
// or maxSleepMs milliseconds have passed. maxSleepMs 0 behaves like
// ProcessPendingEvents.
void PumpOrSleep(std::uint32_t maxSleepMs);

// The request-reply wait: start := tick count; loop { if elapsed >= timeout
// leave; if done() leave; pump }. The first test comes before any event is
// handled. Returns done() as last tested (false on time-out).
bool WaitFor(const std::function<bool()>& done, std::uint32_t timeoutMs);
