// Decoders of the stored record and of the live frame.
#include <gtest/gtest.h>

#include <cmath>

#include "FrameBuilders.h"
#include "protocol/ReplyAssembler.h"

using namespace qk_test;

namespace {

TEST(RecvF1, DecodesEveryFieldOfARecord) {
  const TBuffer f = Record(0.000030517578125f, 0.015625f, 2.5f);
  TRecvF1 r;
  r.Decode(f.data(), int(f.size()) - 1);
  EXPECT_EQ(r.TestDateTime, "08-12-31 09:25");
  EXPECT_EQ(r.DeviceNo, "1bA000");  // 62 and 255 give no character
  EXPECT_EQ(r.Tester, "ABCDaz9Z");
  EXPECT_EQ(r.TestPlace, "");
  EXPECT_EQ(r.LoadTimeText, "120秒");
  EXPECT_EQ(r.CurrentStep, "200A");
  EXPECT_EQ(r.Phase, "三相");
  EXPECT_EQ(r.ResistanceA, "30.5 μΩ");
  EXPECT_EQ(r.ResistanceB, "15.62 mΩ");
  EXPECT_EQ(r.ResistanceC, "2.500 Ω");
  // The values themselves, unrounded, for the results history.
  EXPECT_EQ(r.OhmA, 0.000030517578125f);
  EXPECT_EQ(r.OhmB, 0.015625f);
  EXPECT_EQ(r.OhmC, 2.5f);
}

TEST(RecvF1, DateBytesShowAsUpperCaseHex) {
  TBuffer f = Record(0, 0, 0);
  f[6] = 0xAB;  // year
  f[5] = 0x0C;  // month
  f[4] = 0x00;  // day
  f[2] = 0xFF;  // hour
  f[1] = 0x0F;  // minute
  TRecvF1 r;
  r.Decode(f.data(), 45);
  EXPECT_EQ(r.TestDateTime, "AB-0C-00 FF:0F");
}

struct CodeCase {
  std::uint8_t step, phase, load;
  const char* stepText;
  const char* phaseText;
  const char* loadText;
};

class RecordCodes : public ::testing::TestWithParam<CodeCase> {};

TEST_P(RecordCodes, GiveTheirTexts) {
  const CodeCase& c = GetParam();
  TBuffer f = Record(0, 0, 0);
  f[31] = c.load;
  f[32] = c.step;
  f[33] = c.phase;
  TRecvF1 r;
  r.Decode(f.data(), 45);
  EXPECT_EQ(r.CurrentStep, c.stepText);
  EXPECT_EQ(r.Phase, c.phaseText);
  EXPECT_EQ(r.LoadTimeText, c.loadText);
}

INSTANTIATE_TEST_SUITE_P(Table, RecordCodes,
                         ::testing::Values(CodeCase{0, 1, 0, "100A", "单相", "0秒"},
                                           CodeCase{1, 3, 255, "200A", "三相", "255秒"},
                                           CodeCase{2, 2, 7, "", "", "7秒"},
                                           CodeCase{255, 0, 60, "", "", "60秒"}));

TEST(RecvF1, EveryCodeValueMapsToItsCharacter) {
  TBuffer f = Record(0, 0, 0);
  std::string all;
  for (int start = 0; start < 256; start += 8) {
    for (int i = 0; i < 8; ++i) f[7 + i] = std::uint8_t(start + i);
    TRecvF1 r;
    r.Decode(f.data(), 45);
    all += r.DeviceNo;
  }
  EXPECT_EQ(all, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
}

TEST(RecvF1, OverwritesEveryFieldAndClearsOnATooShortFrame) {
  TRecvF1 r;
  const TBuffer f = Record(1.0f, 1.0f, 1.0f);
  r.Decode(f.data(), 45);
  EXPECT_EQ(r.ResistanceA, "1.000 Ω");
  // a frame that cannot hold a record is not read past its end
  r.Decode(f.data(), 44);
  EXPECT_EQ(r.TestDateTime, "");
  EXPECT_EQ(r.ResistanceC, "");
  EXPECT_TRUE(std::isnan(r.OhmA));
  r.Decode(nullptr, 100);
  EXPECT_EQ(r.DeviceNo, "");
}

TEST(RecvFA, DecodesEveryFieldOfALiveFrame) {
  const TBuffer f = LiveFrame(100.25f, 0.015625f, 0.00048828125f, 2, 5, 0x88);
  TRecvFA r;
  r.Decode(f.data(), 39);
  EXPECT_EQ(r.CurrentA, "100.2 A");
  EXPECT_EQ(r.CurrentB, "200.5 A");
  EXPECT_EQ(r.CurrentC, "300.7 A");
  EXPECT_EQ(r.VoltageA, "15.625 mV");
  EXPECT_EQ(r.VoltageB, "31.250 mV");
  EXPECT_EQ(r.VoltageC, "46.875 mV");
  EXPECT_EQ(r.ResistanceA, "488.2 μΩ");
  EXPECT_EQ(r.ResistanceB, "976.5 μΩ");
  EXPECT_EQ(r.ResistanceC, "1.464 mΩ");
  EXPECT_EQ(r.OhmA, 0.00048828125f);
  EXPECT_EQ(r.OhmC, 3 * 0.00048828125f);
  EXPECT_EQ(r.LoadSeconds, 125);
  EXPECT_EQ(r.LoadTimeText, "125秒");
  EXPECT_EQ(r.State, 0x88);
}

TEST(RecvFA, LargestElapsedTimeAndClear) {
  const TBuffer f = LiveFrame(0, 0, 0, 255, 255, 0x83);
  TRecvFA r;
  EXPECT_EQ(r.State, 0);
  EXPECT_EQ(r.CurrentA, "");
  r.Decode(f.data(), 39);
  EXPECT_EQ(r.LoadSeconds, 255 * 60 + 255);
  EXPECT_EQ(r.State, 0x83);
  r.Clear();
  EXPECT_EQ(r.LoadSeconds, 0);
  EXPECT_EQ(r.State, 0);
  EXPECT_EQ(r.LoadTimeText, "");
  r.Decode(f.data(), 38);  // too short: cleared, not read
  EXPECT_EQ(r.State, 0);
  EXPECT_EQ(r.CurrentA, "");
}

}  // namespace
