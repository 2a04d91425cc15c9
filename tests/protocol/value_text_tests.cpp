// Value texts: big-endian singles from a frame and their scaled display text.
#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "FrameBuilders.h"
#include "protocol/ReplyAssembler.h"

using qk_test::PutFloat;

namespace {

struct ValueCase {
  int kind;
  float value;
  const char* expected;
};

void PrintTo(const ValueCase& c, std::ostream* os) {
  *os << "kind " << c.kind << " value " << c.value << " -> \"" << c.expected << "\"";
}

// The value is written big-endian at position 5 of a frame and read back
// through FloatText, so the table also covers the byte order.
std::string TextOf(int kind, float value) {
  TBuffer frame(12, 0xEE);
  PutFloat(frame, 5, value);
  return FloatText(frame.data(), 5, kind);
}

class WorkedValues : public ::testing::TestWithParam<ValueCase> {};

TEST_P(WorkedValues, GiveTheirText) {
  const ValueCase& c = GetParam();
  EXPECT_EQ(TextOf(c.kind, c.value), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WorkedValues,
    ::testing::Values(
        // current
        ValueCase{1, 0.0f, "0.0 A"}, ValueCase{1, 0.0005f, "0.0 A"}, ValueCase{1, 0.25f, "0.250 A"},
        ValueCase{1, 1.5f, "1.500 A"}, ValueCase{1, 199.87f, "199.8 A"}, ValueCase{1, 1234.5f, "1234 A"},
        ValueCase{1, -1.5f, "-1.500 A"}, ValueCase{1, -0.0001f, "-0.0 A"},
        // voltage
        ValueCase{2, 0.0f, "0.0 mV"}, ValueCase{2, 0.0001220703125f, "0.1220 mV"},
        ValueCase{2, 0.00000005f, "0.0 mV"}, ValueCase{2, 0.001953125f, "1.9531 mV"},
        ValueCase{2, 0.015625f, "15.625 mV"}, ValueCase{2, 0.0123f, "12.299 mV"},
        ValueCase{2, 0.5f, "500.00 mV"}, ValueCase{2, 1.5f, "1.5000 V"}, ValueCase{2, 1234.5f, "1234.5 V"},
        ValueCase{2, 12345.5f, "12345 V"},
        // resistance
        ValueCase{3, 0.0f, "0.0 μΩ"}, ValueCase{3, 0.000030517578125f, "30.5 μΩ"},
        ValueCase{3, 0.00048828125f, "488.2 μΩ"}, ValueCase{3, 0.001953125f, "1.953 mΩ"},
        ValueCase{3, 0.015625f, "15.62 mΩ"}, ValueCase{3, 0.125f, "125.0 mΩ"},
        ValueCase{3, -0.125f, "-125.0 mΩ"}, ValueCase{3, 2.5f, "2.500 Ω"}, ValueCase{3, 1234.5f, "1234 Ω"}));

// Values at the edges of the scales and outside the finite numbers.
class EdgeValues : public ::testing::TestWithParam<ValueCase> {};

TEST_P(EdgeValues, GiveTheirText) {
  const ValueCase& c = GetParam();
  EXPECT_EQ(TextOf(c.kind, c.value), c.expected);
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Table, EdgeValues,
    ::testing::Values(
        // not a number and infinities
        ValueCase{1, kNaN, "-"}, ValueCase{2, kNaN, "-"}, ValueCase{3, kNaN, "-"},
        ValueCase{3, -kNaN, "-"}, ValueCase{1, kInf, ""}, ValueCase{3, kInf, ""},
        ValueCase{1, -kInf, "-"}, ValueCase{2, -kInf, "-"},
        // negative zero carries no sign
        ValueCase{1, -0.0f, "0.0 A"}, ValueCase{2, -0.0f, "0.0 mV"}, ValueCase{3, -0.0f, "0.0 μΩ"},
        // just below and at the scale limits
        ValueCase{3, 0.00099999993f, "999.9 μΩ"}, ValueCase{3, 0.001f, "1.000 mΩ"},
        ValueCase{3, 0.99999994f, "999.9 mΩ"}, ValueCase{1, 0.99999994f, "0.999 A"},
        ValueCase{2, 0.99999994f, "999.99 mV"}, ValueCase{3, 1.0f, "1.000 Ω"}, ValueCase{2, 1.0f, "1.0000 V"},
        ValueCase{1, 999.99994f, "999.9 A"}, ValueCase{2, 9999.999f, "9999.9 V"},
        ValueCase{2, 10000.0f, "10000 V"}, ValueCase{3, 0.0000001f, "0.1 μΩ"},
        ValueCase{3, 1e-9f, "0.0 μΩ"}, ValueCase{2, 0.00005f, "0.0499 mV"}, ValueCase{2, 0.00006103515625f, "0.0610 mV"},
        ValueCase{3, std::numeric_limits<float>::denorm_min(), "0.0 μΩ"},
        ValueCase{1, -0.0005f, "-0.0 A"},
        // magnitudes beyond 10^18: the whole integer part, no overflow
        ValueCase{1, 1e20f, "100000002004087734272 A"},
        ValueCase{3, FLT_MAX, "340282346638528859811704183484516925440 Ω"},
        ValueCase{2, -FLT_MAX, "-340282346638528859811704183484516925440 V"},
        // a kind without a value text
        ValueCase{4, 1.5f, ""}, ValueCase{0, 1.5f, ""}));

TEST(FloatText, ReadsTheMostSignificantByteFirst) {
  const TBuffer frame = {0x00, 0x3F, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xBF, 0xC0, 0x00, 0x00};
  EXPECT_EQ(FloatText(frame.data(), 1, kValueCurrent), "1.000 A");
  EXPECT_EQ(FloatText(frame.data(), 1, kValueVoltage), "1.0000 V");
  EXPECT_EQ(FloatText(frame.data(), 1, kValueResistance), "1.000 Ω");
  EXPECT_EQ(FloatText(frame.data(), 5, kValueCurrent), "0.0 A");
  EXPECT_EQ(FloatText(frame.data(), 9, kValueCurrent), "-1.500 A");
  // the same bytes read little-endian would be a tiny number, not -1.5
  const TBuffer reversed = {0x00, 0x00, 0xC0, 0xBF};
  EXPECT_EQ(FloatText(reversed.data(), 0, kValueCurrent), "0.0 A");
}

TEST(FormatValue, EmptyUnitsLeaveTheirScaleUnused) {
  // no unit for magnitudes of 1 and more: no text
  EXPECT_EQ(FormatValue("", " mV", "", 2.0f), "");
  // only the first unit: small values are cut to three decimals of it
  EXPECT_EQ(FormatValue(" X", "", "", 0.0625f), "0.062 X");
  EXPECT_EQ(FormatValue(" X", "", "", 0.00001f), "0.0 X");
  // the six-character cut belongs to " mV" only
  EXPECT_EQ(FormatValue(" X", " mX", "", 0.015625f), "15.62 mX");
  EXPECT_EQ(FormatValue(" X", " mX", "", 0.00006103515625f), "0.0610 mX");
}

// A Qt program takes the user's locale for LC_NUMERIC; one that writes a
// decimal comma must not change the texts.
TEST(FormatValue, WritesAPointUnderACommaLocale) {
  char pattern[] = "/tmp/qk_locale_XXXXXX";
  const char* dir = mkdtemp(pattern);
  ASSERT_NE(dir, nullptr);
  const std::string locales = dir;
  const std::string cmd = "localedef -i de_DE -f UTF-8 " + locales + "/de_DE.UTF-8 >/dev/null 2>&1";
  const int built = std::system(cmd.c_str());
  (void)built;  // localedef reports warnings through its exit code
  const bool have = std::filesystem::exists(locales + "/de_DE.UTF-8/LC_NUMERIC");
  const std::string old = std::setlocale(LC_NUMERIC, nullptr);
  setenv("LOCPATH", locales.c_str(), 1);
  const bool active = have && std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  std::string probe, text1, text2, text3;
  if (active) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "%.1f", 1.5);
    probe = buf;
    text1 = FormatValue(" A", "", "", 199.87f);
    text2 = FormatValue(" V", " mV", "", 0.0123f);
    text3 = FormatValue(" \xCE\xA9", " m\xCE\xA9", " \xCE\xBC\xCE\xA9", 0.000030517578125f);
  }
  std::setlocale(LC_NUMERIC, old.c_str());
  unsetenv("LOCPATH");
  std::filesystem::remove_all(locales);
  if (!active) GTEST_SKIP() << "no comma locale could be built";
  ASSERT_EQ(probe, "1,5");
  EXPECT_EQ(text1, "199.8 A");
  EXPECT_EQ(text2, "12.299 mV");
  EXPECT_EQ(text3, "30.5 μΩ");
}

}  // namespace
