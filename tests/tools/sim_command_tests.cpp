// The simulator answers every command as the instrument does; each reply is
// checked through the program's own reply assembler.
#include <gtest/gtest.h>

#include <string>

#include "sim_harness.h"

namespace {

// ---- Framing ----------------------------------------------------------------

struct TLengthCase {
  std::uint8_t First;
  std::size_t Length;
};

class SimFrameLength : public ::testing::TestWithParam<TLengthCase> {};

TEST_P(SimFrameLength, KnownCommandsHaveTheirLengthOthersOneByte) {
  EXPECT_EQ(TSimCore::FrameLength(GetParam().First), GetParam().Length);
}

INSTANTIATE_TEST_SUITE_P(Commands, SimFrameLength,
                         ::testing::Values(TLengthCase{0xF0, 1}, TLengthCase{0xF1, 2}, TLengthCase{0xF2, 1},
                                           TLengthCase{0xF3, 1}, TLengthCase{0xF4, 4}, TLengthCase{0xF6, 1},
                                           TLengthCase{0xF7, 9}, TLengthCase{0xF8, 1}, TLengthCase{0xFC, 1},
                                           TLengthCase{0xFE, 2}, TLengthCase{0xF5, 1}, TLengthCase{0xFA, 1},
                                           TLengthCase{0xFF, 1}, TLengthCase{0x00, 1}, TLengthCase{0x7F, 1}));

TEST(SimFraming, FramesSplitOverReadsAndSeveralInOneRead) {
  TSimHarness h;
  EXPECT_TRUE(h.Send({0xF1}).empty());
  EXPECT_EQ(h.Core.PendingInput(), 1u);
  const auto one = h.Send({0x02});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(TSimCore::HexLine(one[0].Bytes.data(), one[0].Bytes.size()), "F1 02");
  EXPECT_EQ(h.Core.PendingInput(), 0u);

  const auto three = h.Send({0xF7, 1, 2, 3, 4, 5, 6, 7, 8, 0xF8, 0xF4, 3});
  ASSERT_EQ(three.size(), 2u);
  EXPECT_EQ(TSimCore::HexLine(three[0].Bytes.data(), three[0].Bytes.size()), "F7 01 02 03 04 05 06 07 08");
  EXPECT_EQ(TSimCore::HexLine(three[1].Bytes.data(), three[1].Bytes.size()), "F8");
  EXPECT_EQ(h.Core.PendingInput(), 2u);  // F4 03 waits for range and phase
}

TEST(SimFraming, UnknownBytesAreFramesWithoutReply) {
  TSimHarness h;
  const auto frames = h.Send({0x00, 0x55, 0xF5, 0xFA, 0xFF, 0xFD});
  EXPECT_EQ(frames.size(), 6u);
  EXPECT_TRUE(h.RunFor(10000 * kMs).empty());
  EXPECT_FALSE(h.Core.NextDueUs().has_value());
}

TEST(SimFraming, HexLineIsUpperCaseWithBlanks) {
  const std::uint8_t b[] = {0xF1, 0x02, 0xab, 0x0c};
  EXPECT_EQ(TSimCore::HexLine(b, 4), "F1 02 AB 0C");
  EXPECT_EQ(TSimCore::HexLine(b, 0), "");
}

// ---- Identification --------------------------------------------------------

struct TTypeCase {
  std::uint8_t Type;
  const char* Text;
};

class SimIdentify : public ::testing::TestWithParam<TTypeCase> {};

TEST_P(SimIdentify, AnswersItsDeviceType) {
  TSimConfig c;
  c.DeviceType = GetParam().Type;
  TSimHarness h(c);
  TCircleRoad road;
  road.Expect(kReplyIdentify);
  h.Send({0xF8});
  const auto out = h.RunFor(100 * kMs);
  EXPECT_EQ(Joined(out), (std::vector<std::uint8_t>{0xF8, GetParam().Type}));
  Feed(road, out);
  EXPECT_EQ(road.Status, kStatusDone);
  EXPECT_EQ(road.DeviceType, GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(Types, SimIdentify,
                         ::testing::Values(TTypeCase{1, "4706"}, TTypeCase{2, "mrtk"}, TTypeCase{9, ""}));

// ---- Stored records --------------------------------------------------------

struct TRecordCase {
  int Index;
  const char* DateTime;
  const char* Device;
  const char* Tester;
  const char* Place;
  const char* LoadTime;
  const char* Step;
  const char* Phase;
};

class SimRecord : public ::testing::TestWithParam<TRecordCase> {};

TEST_P(SimRecord, DecodesThroughTheAssembler) {
  const TRecordCase& k = GetParam();
  TSimHarness h;
  TCircleRoad road;
  road.Expect(kReplyRecord);
  h.Send({0xF1, std::uint8_t(k.Index)});
  Feed(road, h.RunFor(200 * kMs));
  ASSERT_EQ(road.Status, kStatusDone);
  const TRecvF1& r = *road.RecvF1;
  EXPECT_EQ(r.TestDateTime, k.DateTime);
  EXPECT_EQ(r.DeviceNo, k.Device);
  EXPECT_EQ(r.Tester, k.Tester);
  EXPECT_EQ(r.TestPlace, k.Place);
  EXPECT_EQ(r.LoadTimeText, k.LoadTime);
  EXPECT_EQ(r.CurrentStep, k.Step);
  EXPECT_EQ(r.Phase, k.Phase);
  const std::string micro = " μΩ";
  EXPECT_EQ(r.ResistanceA.substr(r.ResistanceA.size() - micro.size()), micro) << r.ResistanceA;
  if (std::string(k.Phase) == "单相") {
    EXPECT_EQ(r.ResistanceB, "0.0 μΩ");
    EXPECT_EQ(r.ResistanceC, "0.0 μΩ");
  } else {
    EXPECT_NE(r.ResistanceB, "0.0 μΩ");
    EXPECT_NE(r.ResistanceC, "0.0 μΩ");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Default, SimRecord,
    ::testing::Values(TRecordCase{0, "25-01-01 08:03", "QK101", "Zhang", "Sub110kV", "10秒", "100A", "三相"},
                      TRecordCase{1, "25-01-02 09:10", "QK102", "LiMing", "LineA12", "30秒", "200A", "单相"},
                      TRecordCase{2, "25-01-03 10:17", "QK103", "Wang", "Bay07", "60秒", "100A", "三相"}));

TEST(SimRecords, EveryRecordIsRealistic) {
  for (int n = 0; n < 255; ++n) {
    SCOPED_TRACE(n);
    const std::vector<std::uint8_t> f = TSimCore::RecordFrame(n);
    ASSERT_EQ(f.size(), 46u);
    EXPECT_EQ(f[0], 0xF1);
    for (int i = 1; i <= 6; ++i) {
      EXPECT_LE(f[i] >> 4, 9);  // BCD digits only
      EXPECT_LE(f[i] & 15, 9);
    }
    EXPECT_EQ(TSimCore::RecordFrame(n), f);  // depends on n alone
    TRecvF1 r;
    r.Decode(f.data(), 45);
    EXPECT_EQ(r.DeviceNo.size(), 5u);
    EXPECT_FALSE(r.Tester.empty());
    EXPECT_FALSE(r.TestPlace.empty());
    EXPECT_TRUE(r.CurrentStep == "100A" || r.CurrentStep == "200A");
    EXPECT_TRUE(r.Phase == "单相" || r.Phase == "三相");
    const bool single = f[33] == 1;
    for (std::size_t pos : {34u, 38u, 42u}) {
      const float v = BigEndianFloat(f, pos);
      if (single && pos != 34u) {
        EXPECT_EQ(v, 0.0f);
      } else {
        EXPECT_GE(v, 10e-6f);
        EXPECT_LT(v, 1000e-6f);
      }
    }
  }
}

TEST(SimRecords, CountUploadAndEraseAsTheProgramRunsThem) {
  TSimHarness h;
  TCircleRoad road;
  road.Expect(kReplyCount);
  h.Send({0xF0});
  Feed(road, h.RunFor(100 * kMs));
  ASSERT_EQ(road.Status, kStatusDone);
  ASSERT_EQ(road.RecordCount, 3);

  for (int n = road.RecordCount - 1; n >= 0; --n) {
    road.Reset();
    road.Expect(kReplyRecord);
    h.Send({0xF1, std::uint8_t(n)});
    Feed(road, h.RunFor(200 * kMs));
    ASSERT_EQ(road.Status, kStatusDone) << n;
    EXPECT_EQ(road.RecvF1->DeviceNo, "QK10" + std::to_string(n + 1));
  }

  // Past the last record: no reply at all.
  h.Send({0xF1, 3});
  EXPECT_TRUE(h.RunFor(3000 * kMs).empty());

  h.Send({0xF2});
  EXPECT_TRUE(h.RunFor(1000 * kMs).empty());
  EXPECT_EQ(h.Core.RecordCount(), 0);
  road.Expect(kReplyCount);
  h.Send({0xF0});
  Feed(road, h.RunFor(100 * kMs));
  EXPECT_EQ(road.Status, kStatusDone);
  EXPECT_EQ(road.RecordCount, 0);
  h.Send({0xF1, 0});
  EXPECT_TRUE(h.RunFor(3000 * kMs).empty());
}

TEST(SimRecords, RecordCountOption) {
  TSimConfig c;
  c.Records = 255;
  TSimHarness h(c);
  h.Send({0xF0});
  EXPECT_EQ(Joined(h.RunFor(100 * kMs)), (std::vector<std::uint8_t>{0xF0, 0xFF}));
  h.Send({0xF1, 254});
  EXPECT_EQ(Joined(h.RunFor(100 * kMs)), TSimCore::RecordFrame(254));
  h.Send({0xF1, 255});
  EXPECT_TRUE(h.RunFor(3000 * kMs).empty());
}

// ---- Range query -----------------------------------------------------------

struct TRangeCase {
  std::uint8_t Mode;
  std::uint8_t Selected;
};

class SimRanges : public ::testing::TestWithParam<TRangeCase> {};

TEST_P(SimRanges, RawBytesReachTheAssembler) {
  TSimConfig c;
  c.RangeMode = GetParam().Mode;
  c.RangeSelected = GetParam().Selected;
  TSimHarness h(c);
  TCircleRoad road;
  road.Expect(kReplyRange);
  h.Send({0xF3});
  Feed(road, h.RunFor(100 * kMs));
  EXPECT_EQ(road.Status, kStatusDone);
  EXPECT_EQ(road.StepMode, GetParam().Mode);
  EXPECT_EQ(road.StepIndex, GetParam().Selected);
}

INSTANTIATE_TEST_SUITE_P(ValidAndInvalid, SimRanges,
                         ::testing::Values(TRangeCase{1, 0}, TRangeCase{1, 1}, TRangeCase{0, 0},
                                           TRangeCase{1, 2}, TRangeCase{5, 0}));

TEST(SimRanges, DefaultOffersBothAndSelectsTheFirst) {
  TSimHarness h;
  h.Send({0xF3});
  EXPECT_EQ(Joined(h.RunFor(100 * kMs)), (std::vector<std::uint8_t>{0xF3, 1, 0}));
}

// ---- Print, stop, serial number --------------------------------------------

TEST(SimPrint, AcknowledgesAfterThePrintingDelay) {
  for (std::uint32_t delay : {1500u, 200u}) {
    SCOPED_TRACE(delay);
    TSimConfig c;
    c.PrintDelayMs = delay;
    TSimHarness h(c);
    TCircleRoad road;
    road.Expect(kReplyPrint);
    const std::uint64_t sent = h.Now;
    h.Send({0xFE, 0x02});
    EXPECT_TRUE(h.RunUntil(sent + delay * kMs - 1).empty());
    const auto out = h.RunFor(100 * kMs);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].DueUs, sent + delay * kMs + TSimCore::LineTimeUs(1, 9600));
    Feed(road, out);
    EXPECT_EQ(road.Status, kStatusDone);
  }
}

TEST(SimStop, StopWithoutTestIsAcknowledged) {
  TSimHarness h;
  TCircleRoad road;
  road.Expect(kReplyStop);
  h.Send({0xFC});
  Feed(road, h.RunFor(100 * kMs));
  EXPECT_EQ(road.Status, kStatusDone);
  EXPECT_FALSE(h.Core.LiveRunning());
}

TEST(SimSerial, ReadsWritesAndReadsBack) {
  TSimHarness h;
  h.Send({0xF6});
  EXPECT_EQ(Joined(h.RunFor(100 * kMs)),
            (std::vector<std::uint8_t>{0xF6, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
  h.Send({0xF7, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80});
  EXPECT_TRUE(h.RunFor(1000 * kMs).empty());  // write only
  h.Send({0xF6});
  EXPECT_EQ(Joined(h.RunFor(100 * kMs)),
            (std::vector<std::uint8_t>{0xF6, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80}));
}

// ---- Pacing and chunking ---------------------------------------------------

TEST(SimPacing, BytesArePacedAsEightNOneAtTheBaudRate) {
  TSimHarness h;  // 9600 baud
  const std::uint64_t t0 = h.Now;
  h.Send({0xF1, 0x00, 0xF8, 0xF0});
  const auto out = h.RunFor(500 * kMs);
  ASSERT_EQ(out.size(), 3u);
  // One byte is 10 bits: 46 bytes take 47.9 ms, and the replies queue up on the line.
  EXPECT_EQ(out[0].DueUs, t0 + 47916);
  EXPECT_EQ(out[1].DueUs, t0 + 47916 + 2083);
  EXPECT_EQ(out[2].DueUs, t0 + 47916 + 2083 + 2083);
  EXPECT_TRUE(out[0].EndOfReply && out[1].EndOfReply && out[2].EndOfReply);

  // Nothing comes early.
  TSimHarness early;
  early.Send({0xF1, 0x00});
  EXPECT_TRUE(early.RunFor(47915).empty());
  EXPECT_EQ(early.RunFor(1).size(), 1u);
}

TEST(SimPacing, BaudZeroSendsAtOnce) {
  TSimConfig c;
  c.Baud = 0;
  TSimHarness h(c);
  const std::uint64_t t0 = h.Now;
  h.Send({0xF1, 0x00, 0xF8});
  const auto out = h.RunUntil(t0);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].DueUs, t0);
  EXPECT_EQ(out[1].DueUs, t0);
}

std::vector<TimedChunk> ChunkedRecord(std::uint64_t seed) {
  TSimConfig c;
  c.ChunkSeed = seed;
  TSimHarness h(c);
  h.Send({0xF1, 0x01});
  return h.RunFor(500 * kMs);
}

TEST(SimChunks, SplitIsRandomButSeededAndLossless) {
  const auto a = ChunkedRecord(7);
  const auto b = ChunkedRecord(7);
  const auto other = ChunkedRecord(8);
  ASSERT_GT(a.size(), 2u);
  EXPECT_EQ(Joined(a), TSimCore::RecordFrame(1));
  ASSERT_EQ(a.size(), b.size());
  bool differs = a.size() != other.size();
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].Bytes, b[i].Bytes);
    EXPECT_EQ(a[i].DueUs, b[i].DueUs);
    EXPECT_GE(a[i].Bytes.size(), 1u);
    EXPECT_LE(a[i].Bytes.size(), 16u);
    EXPECT_EQ(a[i].EndOfReply, i + 1 == a.size());
    if (i > 0) {
      EXPECT_GE(a[i].DueUs, a[i - 1].DueUs + TSimCore::LineTimeUs(a[i].Bytes.size(), 9600));
    }
    if (i < other.size() && other[i].Bytes != a[i].Bytes) differs = true;
  }
  EXPECT_TRUE(differs);

  TCircleRoad road;
  road.Expect(kReplyRecord);
  for (std::size_t i = 0; i + 1 < a.size(); ++i) {
    road.AddData(a[i].Bytes);
    EXPECT_EQ(road.Status, kStatusWaiting);
  }
  road.AddData(a.back().Bytes);
  EXPECT_EQ(road.Status, kStatusDone);
  EXPECT_EQ(road.RecvF1->Tester, "LiMing");
}

}  // namespace
