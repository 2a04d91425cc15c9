#pragma once
// Drives the simulator core with a clock of the test's own.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "protocol/ReplyAssembler.h"
#include "sim/SimCore.h"

constexpr std::uint64_t kMs = 1000;  // microseconds per millisecond

class TSimHarness {
 public:
  explicit TSimHarness(TSimConfig config = {}) : Core(std::move(config)) {}

  // Bytes from the PC at the current time.
  std::vector<TSimFrame> Send(std::initializer_list<std::uint8_t> bytes) {
    const std::vector<std::uint8_t> b(bytes);
    return Core.Receive(b.data(), b.size(), Now);
  }
  // Moves the clock to t, polling at every due time on the way.
  std::vector<TimedChunk> RunUntil(std::uint64_t t) {
    std::vector<TimedChunk> out;
    for (;;) {
      const auto due = Core.NextDueUs();
      if (!due || *due > t) break;
      if (*due > Now) Now = *due;
      for (TimedChunk& c : Core.Poll(Now)) out.push_back(std::move(c));
    }
    Now = t;
    for (TimedChunk& c : Core.Poll(Now)) out.push_back(std::move(c));
    return out;
  }
  std::vector<TimedChunk> RunFor(std::uint64_t us) { return RunUntil(Now + us); }

  TSimCore Core;
  std::uint64_t Now = 1000000;  // any start: the core never assumes 0
};

inline std::vector<std::uint8_t> Joined(const std::vector<TimedChunk>& chunks) {
  std::vector<std::uint8_t> all;
  for (const TimedChunk& c : chunks) all.insert(all.end(), c.Bytes.begin(), c.Bytes.end());
  return all;
}

// Feeds the chunks one by one into the assembler, as the receive handler does.
inline void Feed(TCircleRoad& road, const std::vector<TimedChunk>& chunks) {
  for (const TimedChunk& c : chunks) road.AddData(c.Bytes);
}

// Big-endian single at frame[pos].
inline float BigEndianFloat(const std::vector<std::uint8_t>& f, std::size_t pos) {
  const std::uint32_t u = std::uint32_t(f[pos]) << 24 | std::uint32_t(f[pos + 1]) << 16 |
                          std::uint32_t(f[pos + 2]) << 8 | f[pos + 3];
  float v = 0;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

// Splits a byte stream into the 40-byte live frames it consists of.
inline std::vector<std::vector<std::uint8_t>> LiveFrames(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::vector<std::uint8_t>> frames;
  for (std::size_t i = 0; i + 40 <= bytes.size(); i += 40)
    frames.emplace_back(bytes.begin() + std::ptrdiff_t(i), bytes.begin() + std::ptrdiff_t(i + 40));
  return frames;
}
