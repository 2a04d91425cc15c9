#include "protocol/Frames.h"

namespace Frames {

namespace {
std::uint8_t Low(std::int32_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
}  // namespace

TBuffer Identify() { return {kIdentify.code}; }
TBuffer Count() { return {kCount.code}; }
TBuffer Record(std::uint8_t index) { return {kRecord.code, index}; }
TBuffer Erase() { return {kErase.code}; }
TBuffer Range() { return {kRange.code}; }

TBuffer StartTest(const TTestParams& p) {
  return {kStartTest.code, Low(p.testTime), Low(p.currentStep), Low(p.phase)};
}

TBuffer Stop() { return {kStop.code}; }
TBuffer Print(std::uint8_t record) { return {kPrint.code, record}; }
TBuffer ReadSeries() { return {kReadSeries.code}; }

TBuffer WriteSeries(const TSeriesNumber& number) {
  TBuffer frame{kWriteSeries.code};
  frame.insert(frame.end(), number.begin(), number.end());
  return frame;
}

}  // namespace Frames
