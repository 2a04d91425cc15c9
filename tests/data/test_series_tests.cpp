// The course of a live test: when a phase counts as settled, and the text
// the history keeps it as and the CSV it is exported as.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include "data/TestSeries.h"

namespace {

// A course of phase A's values in μΩ ('x' for a fault frame).
TTestSeries Course(const std::vector<double>& microOhms, int faultAt = -1) {
  TTestSeries s;
  for (size_t i = 0; i < microOhms.size(); ++i) {
    TSeriesFrame f;
    f.seconds = double(i + 1);
    if (int(i) == faultAt) {
      f.fault = true;
    } else {
      f.ohms[0] = microOhms[i] * 1e-6;
      f.current = 100.0;
    }
    s.push_back(f);
  }
  return s;
}

struct TSettleCase {
  const char* name;
  std::vector<double> values;
  int faultAt;
  // Settled after each frame, from the first.
  std::vector<bool> settled;
};

class Settling : public ::testing::TestWithParam<TSettleCase> {};

// "已稳定" comes with the 5th frame within ±1 % of the last five's mean,
// never before; a frame outside the band or a fault frame undoes it.
TEST_P(Settling, ComesWithTheFifthFrameInsideTheBandAndNotBefore) {
  const TSettleCase& c = GetParam();
  const TTestSeries all = Course(c.values, c.faultAt);
  for (size_t n = 1; n <= all.size(); ++n) {
    const TTestSeries upTo(all.begin(), all.begin() + long(n));
    EXPECT_EQ(PhaseSettled(upTo, 0, TSettleRule{}), c.settled[n - 1]) << c.name << ", after frame " << n;
    EXPECT_FALSE(PhaseSettled(upTo, 1, TSettleRule{})) << "phase B has no values";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Courses, Settling,
    ::testing::Values(
        TSettleCase{"flat", {50, 50, 50, 50, 50, 50}, -1, {false, false, false, false, true, true}},
        TSettleCase{"falling then flat",
                    {80, 70, 60, 52, 50.2, 50.1, 50, 50, 50.1},
                    -1,
                    {false, false, false, false, false, false, false, false, true}},
        TSettleCase{"just inside ±1 %", {50, 50.49, 49.51, 50, 50}, -1, {false, false, false, false, true}},
        TSettleCase{"just outside ±1 %", {50, 50.6, 49.4, 50, 50}, -1, {false, false, false, false, false}},
        TSettleCase{"a jump undoes it", {50, 50, 50, 50, 50, 55, 50}, -1, {false, false, false, false, true, false, false}},
        TSettleCase{"a fault frame among the last five", {50, 50, 50, 50, 50, 50, 50}, 3,
                    {false, false, false, false, false, false, false}}),
    [](const ::testing::TestParamInfo<TSettleCase>& i) {
      std::string n = i.param.name;
      for (char& ch : n) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return n;
    });

TEST(SettleRule, OtherFramesAndBandsFromTheSettings) {
  const TTestSeries s = Course({50, 50, 51, 50, 50, 50});
  EXPECT_FALSE(PhaseSettled(s, 0, TSettleRule{5, 1.0}));  // 51 is 1.6 % off the mean
  EXPECT_TRUE(PhaseSettled(s, 0, TSettleRule{3, 1.0}));
  EXPECT_TRUE(PhaseSettled(s, 0, TSettleRule{5, 2.0}));
}

// The text kept in the history gives the same course back, faults, missing
// phases and all; a garbled text gives what reads and nothing else.
TEST(SeriesText, GivesTheCourseBackAndSkipsWhatDoesNotRead) {
  TTestSeries s = Course({52.31, 52.3, 52.29}, 1);
  s[2].ohms[1] = 61.8e-6;
  s[2].ohms[2] = 47.3e-6;
  s[0].current.reset();
  const TTestSeries back = SeriesOfText(SeriesText(s));
  ASSERT_EQ(back.size(), s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    EXPECT_EQ(back[i].seconds, s[i].seconds);
    EXPECT_EQ(back[i].fault, s[i].fault);
    EXPECT_EQ(back[i].ohms, s[i].ohms) << i;
    EXPECT_EQ(back[i].current, s[i].current) << i;
  }
  const TTestSeries garbled =
      SeriesOfText(QStringLiteral("1;5e-05;;;100\nx;1;2;3;4\n2;nan;;;1\n3;1;2\n4;6e-05;;;\n\n5;!\n"));
  ASSERT_EQ(garbled.size(), 3u);
  EXPECT_EQ(garbled[0].seconds, 1);
  EXPECT_EQ(garbled[1].seconds, 4);
  EXPECT_TRUE(garbled[2].fault);
}

TEST(SeriesCsv, OneRowAFrameInMicroOhmsWithFaultsNamed) {
  const TTestSeries s = Course({52.3, 52.2}, 1);
  const QStringList lines = SeriesCsv(s).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  EXPECT_EQ(lines, (QStringList{QStringLiteral("秒,A相电阻(μΩ),B相电阻(μΩ),C相电阻(μΩ),电流(A),说明"),
                                QStringLiteral("1,52.300,,,100,"), QStringLiteral("2,,,,,超量程或接线错误")}));
}

}  // namespace
