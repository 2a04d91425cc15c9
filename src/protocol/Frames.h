#pragma once
// The command frames the PC sends, built from the protocol table. No Qt.
#include <array>
#include <cstdint>

#include "protocol/uProtocol.h"

// The parameters a live test starts with: load time in seconds (5 to 60),
// current range (0 = 100 A, 1 = 200 A) and phase mode (1 = single phase,
// 3 = three phases).
struct TTestParams {
  std::int32_t testTime = 0;
  std::int32_t currentStep = 0;
  std::int32_t phase = 0;
};

// The instrument's serial number: 8 bytes in wire order.
using TSeriesNumber = std::array<std::uint8_t, kSeriesBytes>;

namespace Frames {

TBuffer Identify();
TBuffer Count();
// Stored record index (0-based, counted from the newest).
TBuffer Record(std::uint8_t index);
TBuffer Erase();
TBuffer Range();
// The start of a live test; each parameter goes as its low byte.
TBuffer StartTest(const TTestParams& params);
TBuffer Stop();
// Print record n on the instrument's printer (1-based; 0 = the last live test).
TBuffer Print(std::uint8_t record);
TBuffer ReadSeries();
TBuffer WriteSeries(const TSeriesNumber& number);

}  // namespace Frames
