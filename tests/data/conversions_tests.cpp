// Shared conversions: byte-counted cuts, date-time texts, the baud-rate
// table, range and phase codes, and the event-pumping pause.
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include "data/UDataCenter.h"
#include "platform/Tick.h"

namespace {

struct CutCase {
  const char* text;
  int n;
  const char* head;
  const char* tail;
};

class ByteCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(ByteCut, CountsGbkBytesAndKeepsWholeCharacters) {
  const CutCase& c = GetParam();
  EXPECT_EQ(HeadOf(QString::fromUtf8(c.text), c.n), QString::fromUtf8(c.head));
  EXPECT_EQ(TailOf(QString::fromUtf8(c.text), c.n), QString::fromUtf8(c.tail));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ByteCut,
    ::testing::Values(CutCase{"ABCDEF", 16, "ABCDEF", "ABCDEF"}, CutCase{"ABCDEF", 3, "ABC", "DEF"},
                      CutCase{"report.xls", 4, "repo", ".xls"}, CutCase{".xls", 3, ".xl", "xls"},
                      CutCase{"ABC", 0, "", ""}, CutCase{"ABC", -2, "", ""},
                      CutCase{"测试记录", 4, "测试", "记录"}, CutCase{"测试记录", 5, "测试", "记录"},
                      CutCase{"a测b", 2, "a", "b"}, CutCase{"a测b", 3, "a测", "测b"}));

TEST(DateTimeTexts, PadEveryFieldToTwoDigits) {
  const QDateTime t(QDate(2008, 3, 5), QTime(9, 7, 4));
  EXPECT_EQ(DateTimeText(t), QStringLiteral("08-03-05 09:07"));
  EXPECT_EQ(DateTimeFileText(t), QStringLiteral("08-03-05 09-07-04"));
  EXPECT_EQ(DateTimeText(QDateTime(QDate(2000, 1, 1), QTime(0, 0))), QStringLiteral("00-01-01 00:00"));
  EXPECT_EQ(DateTimeText(QDateTime(QDate(2026, 12, 31), QTime(23, 59))), QStringLiteral("26-12-31 23:59"));
}

TEST(BaudRates, FollowTheSettingsListAndFallBackTo57600) {
  const int expected[] = {57600, 300,   600,   1200,  2400,   4800,   9600, 19200,
                          38400, 43000, 56000, 57600, 115200, 256000, 57600};
  for (unsigned i = 0; i <= 14; ++i) EXPECT_EQ(BaudRateOf(i), expected[i]) << "index " << i;
  EXPECT_EQ(BaudRateOf(0xFFFFFFFFu), 57600);
}

TEST(RangeAndPhase, MapBothWaysWithExactComparison) {
  EXPECT_EQ(CurrentStepName(0), QStringLiteral("100A"));
  EXPECT_EQ(CurrentStepName(1), QStringLiteral("200A"));
  EXPECT_EQ(CurrentStepName(2), QString());
  EXPECT_EQ(CurrentStepName(-1), QString());
  EXPECT_EQ(CurrentStepCode(QStringLiteral("100A")), 0);
  EXPECT_EQ(CurrentStepCode(QStringLiteral("200A")), 1);
  EXPECT_EQ(CurrentStepCode(QStringLiteral("100a")), -1);
  EXPECT_EQ(CurrentStepCode(QStringLiteral(" 100A")), -1);
  EXPECT_EQ(CurrentStepCode(QStringLiteral("１００A")), -1);
  EXPECT_EQ(PhaseName(1), QStringLiteral("单相"));
  EXPECT_EQ(PhaseName(3), QStringLiteral("三相"));
  EXPECT_EQ(PhaseName(2), QString());
  EXPECT_EQ(PhaseCode(QStringLiteral("单相")), 1);
  EXPECT_EQ(PhaseCode(QStringLiteral("三相")), 3);
  EXPECT_EQ(PhaseCode(QString()), -1);
  EXPECT_EQ(PhaseCode(QStringLiteral("三相 ")), -1);
}

TEST(TrimTextTest, RemovesBlanksAndControlCharactersOnly) {
  EXPECT_EQ(TrimText(QStringLiteral("  张三 \t\r\n")), QStringLiteral("张三"));
  EXPECT_EQ(TrimText(QStringLiteral("\x01" "a b\x1f")), QStringLiteral("a b"));
  EXPECT_EQ(TrimText(QStringLiteral("\u3000全角\u3000")), QStringLiteral("\u3000全角\u3000"));
  EXPECT_EQ(TrimText(QStringLiteral("   ")), QString());
}

class DelayTest : public ::testing::Test {
 protected:
  void TearDown() override { TickSource::Restore(); }
};

TEST_F(DelayTest, ZeroReturnsBeforeHandlingAnyEvent) {
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  Delay(0);
  EXPECT_FALSE(ran);
  Delay(20);
  EXPECT_TRUE(ran) << "a real pause keeps events flowing";
}

TEST_F(DelayTest, WaitsItsTimeAcrossTheTickWrap) {
  TickSource::SetNow(0xFFFFFFFFu - 30);
  QElapsedTimer t;
  t.start();
  Delay(100);
  EXPECT_GE(t.elapsed(), 99);
  EXPECT_LT(GetTickCount(), 0x10000u) << "the counter wrapped during the pause";
}

TEST_F(DelayTest, EndsWhenTheTickSourceMovesForward) {
  QTimer::singleShot(10, [] { TickSource::Advance(60000); });
  QElapsedTimer t;
  t.start();
  Delay(60000);
  EXPECT_LT(t.elapsed(), 30000) << "a 60 s pause ends once the ticks have passed";
}

}  // namespace
