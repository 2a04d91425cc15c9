#include "platform/Tick.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::atomic<std::uint32_t> gOffset{0};
std::atomic<bool> gInstantSleep{false};

std::uint32_t RawTicks() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
}  // namespace

void SleepMs(std::uint32_t ms) {
  if (gInstantSleep.load(std::memory_order_relaxed)) {
    gOffset.fetch_add(ms, std::memory_order_relaxed);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint32_t GetTickCount() { return RawTicks() + gOffset.load(std::memory_order_relaxed); }

namespace TickSource {
void SetNow(std::uint32_t now) { gOffset.store(now - RawTicks(), std::memory_order_relaxed); }
void Advance(std::uint32_t ms) { gOffset.fetch_add(ms, std::memory_order_relaxed); }
void Restore() {
  gOffset.store(0, std::memory_order_relaxed);
  gInstantSleep.store(false, std::memory_order_relaxed);
}
void SetInstantSleep(bool on) { gInstantSleep.store(on, std::memory_order_relaxed); }
bool InstantSleep() { return gInstantSleep.load(std::memory_order_relaxed); }
}  // namespace TickSource
