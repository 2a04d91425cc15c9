// libFuzzer target: the reply assembler, fed whatever the serial line
// brings. The first byte names the awaited reply kind, the second the size
// of the chunks the rest arrives in; a byte 0xEE in the rest makes the
// assembler await a reply anew (as the next exchange does).
#include <cstddef>
#include <cstdint>

#include "protocol/ReplyAssembler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  TCircleRoad road;
  std::uint8_t kind = data[0] % 12;
  const std::size_t chunk = std::size_t(data[1] % 64) + 1;
  road.Expect(kind);
  for (std::size_t at = 2; at < size; at += chunk) {
    const std::size_t n = std::min(chunk, size - at);
    road.AddData(data + at, n);
    if (road.DataLen != std::int32_t(road.Data.size())) __builtin_trap();
    // What waits for more bytes is shorter than the longest reply.
    if (road.DataLen > 45) __builtin_trap();
    if (road.Status > kStatusInvalid) __builtin_trap();
    if (data[at] == 0xEE) {
      road.Reset();
      kind = std::uint8_t((kind + 1) % 12);
      road.Expect(kind);
    }
  }
  return 0;
}
