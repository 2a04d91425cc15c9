#pragma once
// Millisecond tick count of the system: 32 bits, wrapping after 49.7 days.
// Elapsed times are always computed as the unsigned 32-bit difference of two
// readings, so a wrap-around between them does not matter.
#include <cstdint>

std::uint32_t GetTickCount();

// Elapsed milliseconds from start to now, wrap-safe.
inline std::uint32_t TicksSince(std::uint32_t start) { return GetTickCount() - start; }

// A plain pause of the calling thread: no events are handled meanwhile. Every
// pause of the program goes through here, so that tests can let it move the
// tick count forward instead of waiting (TickSource::SetInstantSleep).
void SleepMs(std::uint32_t ms);

namespace TickSource {
// While on, SleepMs returns at once and moves the tick count forward by its
// time instead. Restore turns it off.
void SetInstantSleep(bool on);
bool InstantSleep();
// Makes the next reading return `now` (and later readings count on from it).
// Tests use it to start a wait just before the counter wraps.
void SetNow(std::uint32_t now);
// Moves the tick count forward by ms without waiting for real time.
void Advance(std::uint32_t ms);
// Back to the plain monotonic clock.
void Restore();
}  // namespace TickSource
