// Record decoders and value texts of the instrument line.
#include "protocol/Records.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// Units of the value texts, UTF-8 (Greek capital omega U+03A9, small mu U+03BC).
const char* const kUnitAmpere = " A";
const char* const kUnitVolt = " V";
const char* const kUnitMilliVolt = " mV";
const char* const kUnitOhm = " \xCE\xA9";
const char* const kUnitMilliOhm = " m\xCE\xA9";
const char* const kUnitMicroOhm = " \xCE\xBC\xCE\xA9";
const char* const kSeconds = "\xE7\xA7\x92";         // 秒
const char* const kSinglePhase = "\xE5\x8D\x95\xE7\x9B\xB8";  // 单相
const char* const kThreePhases = "\xE4\xB8\x89\xE7\x9B\xB8";  // 三相

// Lengths of the fixed frames.
constexpr std::int32_t kRecordLen = kRecord.replyLength;
constexpr std::int32_t kLiveLen = kStartTest.replyLength;


// The magnitude in fixed-point notation with 13 decimals and a point as the
// decimal separator, as "%.13f" writes it; empty for a value that is not a
// finite number. The buffer is sized for the text, so even the largest single
// (39 integer digits) fits.
std::string FixedMagnitude(float value) {
  if (!std::isfinite(value)) return std::string();
  const long double wide = std::fabs(static_cast<long double>(value));
  const int n = std::snprintf(nullptr, 0, "%.13Lf", wide);
  if (n <= 0) return std::string();
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(&text[0], text.size(), "%.13Lf", wide);
  text.resize(static_cast<std::size_t>(n));
  // A host program may have switched LC_NUMERIC to a locale that writes a
  // comma; the texts of this program always use a point.
  const std::lconv* lc = std::localeconv();
  if (lc != nullptr && lc->decimal_point != nullptr && std::strcmp(lc->decimal_point, ".") != 0 &&
      lc->decimal_point[0] != '\0') {
    const std::string sep = lc->decimal_point;
    const std::size_t at = text.find(sep);
    if (at != std::string::npos) text.replace(at, sep.size(), ".");
  }
  return text;
}

// Integer value of a run of decimal digits, written without leading zeros
// ("0" when all are zero).
std::string WithoutLeadingZeros(const std::string& digits) {
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return "0";
  return digits.substr(first);
}

std::string TwoHex(std::uint8_t b) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s(2, '0');
  s[0] = kHex[b >> 4];
  s[1] = kHex[b & 0x0F];
  return s;
}

// Text of an 8-byte field in the instrument's 62-symbol character code.
std::string CodeText(const std::uint8_t* p) {
  std::string s;
  for (int i = 0; i < 8; ++i) {
    const char c = CharOfCode(p[i]);
    if (c != '\0') s += c;  // 62-255: no character
  }
  return s;
}

std::string SecondsText(long seconds) { return std::to_string(seconds) + kSeconds; }

}  // namespace

// ---------------------------------------------------------------------------
// Value text

std::string FormatValue(const std::string& unit1, const std::string& unit2,
                        const std::string& unit3, float value) {
  // T: the magnitude with 13 decimals; decimal k is T[k + 1].
  const std::string t = FixedMagnitude(value);
  const std::size_t dot = t.find('.');
  std::string result;
  if (dot != std::string::npos) {
    auto decimals = [&t](int from, int to) { return t.substr(from + 1, to - from + 1); };
    auto allZero = [&decimals](int from, int to) {
      return decimals(from, to).find_first_not_of('0') == std::string::npos;
    };
    if (t.compare(0, 2, "0.") == 0) {
      if (allZero(1, 3)) {
        if (allZero(4, 9)) {
          result = "0.0" + (!unit3.empty() ? unit3 : !unit2.empty() ? unit2 : unit1);
        } else if (!unit3.empty()) {
          result = WithoutLeadingZeros(decimals(4, 6)) + "." + decimals(7, 7) + unit3;
        } else if (!unit2.empty()) {
          result = allZero(4, 7) ? "0.0" + unit2 : "0." + decimals(4, 7) + unit2;
        } else {
          result = "0.0" + unit1;
        }
      } else if (unit2.empty()) {
        result = t.substr(0, 5) + unit1;
      } else {
        std::string s = WithoutLeadingZeros(decimals(1, 3)) + ".";
        const std::size_t width = unit2 == kUnitMilliVolt ? 6 : 5;
        int k = 4;
        while (s.size() < width && k <= 13) s += t[static_cast<std::size_t>(k++) + 1];
        result = s + unit2;
      }
    } else if (!unit1.empty()) {
      const std::size_t p = dot + 1;  // position of the point, from 1
      if (unit1 == kUnitVolt)
        result = (p > 5 ? t.substr(0, dot) : t.substr(0, 6)) + unit1;
      else
        result = (p > 4 ? t.substr(0, dot) : t.substr(0, 5)) + unit1;
    }
  }
  if ((value < 0.0f || std::isnan(value)) && result.compare(0, 2, "0 ") != 0) result = "-" + result;
  return result;
}

float FloatValue(const std::uint8_t* frame, int pos) {
  if (frame == nullptr || pos < 0) return std::numeric_limits<float>::quiet_NaN();
  const std::uint32_t bits = (std::uint32_t(frame[pos]) << 24) | (std::uint32_t(frame[pos + 1]) << 16) |
                             (std::uint32_t(frame[pos + 2]) << 8) | std::uint32_t(frame[pos + 3]);
  float value;
  static_assert(sizeof(value) == sizeof(bits), "single precision is 4 bytes");
  std::memcpy(&value, &bits, sizeof(value));
  return value;
}

std::string FloatText(const std::uint8_t* frame, int pos, int kind) {
  if (frame == nullptr || pos < 0) return std::string();
  const float value = FloatValue(frame, pos);
  switch (kind) {
    case kValueCurrent:
      return FormatValue(kUnitAmpere, "", "", value);
    case kValueVoltage:
      return FormatValue(kUnitVolt, kUnitMilliVolt, "", value);
    case kValueResistance:
      return FormatValue(kUnitOhm, kUnitMilliOhm, kUnitMicroOhm, value);
    default:
      return std::string();
  }
}

// ---------------------------------------------------------------------------
// Stored record

void TRecvF1::Clear() {
  TestDateTime.clear();
  DeviceNo.clear();
  Tester.clear();
  TestPlace.clear();
  LoadTimeText.clear();
  CurrentStep.clear();
  Phase.clear();
  ResistanceA.clear();
  ResistanceB.clear();
  ResistanceC.clear();
  OhmA = OhmB = OhmC = std::numeric_limits<float>::quiet_NaN();
}

void TRecvF1::Decode(const std::uint8_t* frame, int highIndex) {
  // A frame too short to hold a record leaves every text empty instead of
  // reading past its end.
  if (frame == nullptr || highIndex < kRecordLen - 1) {
    Clear();
    return;
  }
  using namespace RecordAt;
  TestDateTime = TwoHex(frame[kYear]) + "-" + TwoHex(frame[kMonth]) + "-" + TwoHex(frame[kDay]) + " " +
                 TwoHex(frame[kHour]) + ":" + TwoHex(frame[kMinute]);
  DeviceNo = CodeText(frame + kDevice);
  Tester = CodeText(frame + kTester);
  TestPlace = CodeText(frame + kPlace);
  LoadTimeText = SecondsText(frame[kLoadTime]);
  CurrentStep = frame[RecordAt::kRange] == 0 ? "100A" : frame[RecordAt::kRange] == 1 ? "200A" : "";
  Phase = frame[kPhase] == 1 ? kSinglePhase : frame[kPhase] == 3 ? kThreePhases : "";
  ResistanceA = FloatText(frame, kResistance, kValueResistance);
  ResistanceB = FloatText(frame, kResistance + 4, kValueResistance);
  ResistanceC = FloatText(frame, kResistance + 8, kValueResistance);
  OhmA = FloatValue(frame, kResistance);
  OhmB = FloatValue(frame, kResistance + 4);
  OhmC = FloatValue(frame, kResistance + 8);
}

// ---------------------------------------------------------------------------
// Live frame

void TRecvFA::Clear() {
  CurrentA.clear();
  CurrentB.clear();
  CurrentC.clear();
  VoltageA.clear();
  VoltageB.clear();
  VoltageC.clear();
  ResistanceA.clear();
  ResistanceB.clear();
  ResistanceC.clear();
  OhmA = OhmB = OhmC = std::numeric_limits<float>::quiet_NaN();
  LoadTimeText.clear();
  LoadSeconds = 0;
  State = 0;
}

void TRecvFA::Decode(const std::uint8_t* frame, int highIndex) {
  if (frame == nullptr || highIndex < kLiveLen - 1) {
    Clear();
    return;
  }
  using namespace LiveAt;
  CurrentA = FloatText(frame, kCurrent, kValueCurrent);
  CurrentB = FloatText(frame, kCurrent + 4, kValueCurrent);
  CurrentC = FloatText(frame, kCurrent + 8, kValueCurrent);
  VoltageA = FloatText(frame, kVoltage, kValueVoltage);
  VoltageB = FloatText(frame, kVoltage + 4, kValueVoltage);
  VoltageC = FloatText(frame, kVoltage + 8, kValueVoltage);
  ResistanceA = FloatText(frame, kResistance, kValueResistance);
  ResistanceB = FloatText(frame, kResistance + 4, kValueResistance);
  ResistanceC = FloatText(frame, kResistance + 8, kValueResistance);
  OhmA = FloatValue(frame, kResistance);
  OhmB = FloatValue(frame, kResistance + 4);
  OhmC = FloatValue(frame, kResistance + 8);
  LoadSeconds = frame[kMinutes] * 60 + frame[LiveAt::kSeconds];
  LoadTimeText = SecondsText(LoadSeconds);
  State = frame[kState];
}

