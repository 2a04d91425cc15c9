// Live test of the simulator on the caller's clock: one frame per interval,
// elapsed seconds counting up, a final frame at the load time, stop on FC.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "sim_harness.h"

namespace {

const std::uint64_t kFrameUs = TSimCore::LineTimeUs(40, 9600);  // 41.6 ms on the line

TEST(SimLive, OneFramePerSecondAndTheFinalFrameAtTheLoadTime) {
  TSimHarness h;
  const std::uint64_t t0 = h.Now;
  h.Send({0xF4, 3, 0, 3});
  EXPECT_TRUE(h.Core.LiveRunning());
  TCircleRoad road;
  road.Expect(kReplyLive);
  for (int k = 1; k <= 3; ++k) {
    SCOPED_TRACE(k);
    const std::uint64_t due = t0 + std::uint64_t(k) * 1000 * kMs + kFrameUs;
    EXPECT_TRUE(h.RunUntil(due - 1).empty());
    const auto out = h.RunUntil(due);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].Bytes.size(), 40u);
    EXPECT_TRUE(out[0].EndOfReply);
    road.Expect(kReplyLive);  // re-armed after each frame, as the live test does
    Feed(road, out);
    ASSERT_EQ(road.Status, kStatusDone);
    EXPECT_EQ(road.RecvFA->LoadSeconds, k);
    EXPECT_EQ(road.RecvFA->State, k < 3 ? 0x88 : 0x83);
  }
  EXPECT_FALSE(h.Core.LiveRunning());
  EXPECT_TRUE(h.RunFor(10000 * kMs).empty());
}

// Step mode: a frame goes out only when it is released, one per release,
// whatever time passes; a stop drops the frames still held.
TEST(SimLive, StepModeSendsOneFramePerRelease) {
  TSimConfig c;
  c.Step = true;
  TSimHarness h(c);
  h.Send({0xF4, 3, 0, 3});
  EXPECT_TRUE(h.RunFor(60000 * kMs).empty());
  for (int k = 1; k <= 2; ++k) {
    SCOPED_TRACE(k);
    ASSERT_TRUE(h.Core.ReleaseLiveFrame(h.Now));
    const auto out = h.RunFor(10000 * kMs);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].Bytes[38], k);
  }
  h.Send({0xFC});
  EXPECT_FALSE(h.Core.ReleaseLiveFrame(h.Now));
  const auto out = h.RunFor(1000 * kMs);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].Bytes, std::vector<std::uint8_t>{0xFC});
}

TEST(SimLive, ZeroLoadTimeGivesOneFinalFrameAtOnce) {
  TSimHarness h;
  const std::uint64_t t0 = h.Now;
  h.Send({0xF4, 0, 1, 1});
  const auto out = h.RunUntil(t0 + kFrameUs);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].Bytes[37], 0);
  EXPECT_EQ(out[0].Bytes[38], 0);
  EXPECT_EQ(out[0].Bytes[39], 0x83);
  EXPECT_TRUE(h.RunFor(5000 * kMs).empty());
}

TEST(SimLive, ElapsedTimeInMinutesAndSeconds) {
  TSimConfig c;
  c.IntervalMs = 10;  // elapsed stays in seconds of load, whatever the interval
  c.Baud = 0;
  TSimHarness h(c);
  h.Send({0xF4, 125, 0, 1});
  const auto frames = LiveFrames(Joined(h.RunFor(2000 * kMs)));
  ASSERT_EQ(frames.size(), 125u);
  EXPECT_EQ(frames[69][37], 1);  // frame 70
  EXPECT_EQ(frames[69][38], 10);
  EXPECT_EQ(frames[124][37], 2);
  EXPECT_EQ(frames[124][38], 5);
  EXPECT_EQ(frames[124][39], 0x83);
  TRecvFA fa;
  fa.Decode(frames[124].data(), 39);
  EXPECT_EQ(fa.LoadSeconds, 125);
  EXPECT_EQ(fa.LoadTimeText, "125秒");
}

TEST(SimLive, IntervalOption) {
  TSimConfig c;
  c.IntervalMs = 250;
  TSimHarness h(c);
  const std::uint64_t t0 = h.Now;
  h.Send({0xF4, 4, 0, 1});
  const auto out = h.RunFor(5000 * kMs);
  ASSERT_EQ(out.size(), 4u);
  for (std::size_t k = 1; k <= 4; ++k) {
    EXPECT_EQ(out[k - 1].DueUs, t0 + k * 250 * kMs + kFrameUs);
    EXPECT_EQ(out[k - 1].Bytes[38], k);
  }
}

struct TValueCase {
  std::uint8_t Range;
  std::uint8_t Phase;
  float Current;
};

class SimLiveValues : public ::testing::TestWithParam<TValueCase> {};

TEST_P(SimLiveValues, CurrentsNearTheRangeAndVoltageIsCurrentTimesResistance) {
  const TValueCase& v = GetParam();
  TSimHarness h;
  h.Send({0xF4, 6, v.Range, v.Phase});
  const auto frames = LiveFrames(Joined(h.RunFor(7000 * kMs)));
  ASSERT_EQ(frames.size(), 6u);
  bool jitters = false;
  for (const auto& f : frames) {
    for (int ch = 0; ch < 3; ++ch) {
      SCOPED_TRACE(ch);
      const float i = BigEndianFloat(f, std::size_t(1 + 4 * ch));
      const float u = BigEndianFloat(f, std::size_t(13 + 4 * ch));
      const float r = BigEndianFloat(f, std::size_t(25 + 4 * ch));
      if (v.Phase == 1 && ch > 0) {
        EXPECT_EQ(i, 0.0f);
        EXPECT_EQ(u, 0.0f);
        EXPECT_EQ(r, 0.0f);
        continue;
      }
      EXPECT_NEAR(i, v.Current, 2.0f);
      EXPECT_GE(r, 10e-6f);
      EXPECT_LT(r, 1000e-6f);
      EXPECT_NEAR(u, i * r, i * r * 1e-5f);
    }
    if (BigEndianFloat(f, 1) != BigEndianFloat(frames[0], 1)) jitters = true;
  }
  EXPECT_TRUE(jitters);

  // Through the assembler the values read as amperes, millivolts and microhms.
  TCircleRoad road;
  road.Expect(kReplyLive);
  road.AddData(frames.back());
  ASSERT_EQ(road.Status, kStatusDone);
  auto endsWith = [](const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
  };
  EXPECT_TRUE(endsWith(road.RecvFA->CurrentA, " A")) << road.RecvFA->CurrentA;
  EXPECT_TRUE(endsWith(road.RecvFA->VoltageA, " mV")) << road.RecvFA->VoltageA;
  EXPECT_TRUE(endsWith(road.RecvFA->ResistanceA, " μΩ")) << road.RecvFA->ResistanceA;
  if (v.Phase == 1) {
    EXPECT_EQ(road.RecvFA->CurrentB, "0.0 A");
    EXPECT_EQ(road.RecvFA->ResistanceC, "0.0 μΩ");
  }
}

INSTANTIATE_TEST_SUITE_P(RangesAndPhases, SimLiveValues,
                         ::testing::Values(TValueCase{0, 1, 100.0f}, TValueCase{0, 3, 100.0f},
                                           TValueCase{1, 1, 200.0f}, TValueCase{1, 3, 200.0f}));

TEST(SimLive, StopEndsTheTestAndIsAcknowledged) {
  TSimHarness h;
  const std::uint64_t t0 = h.Now;
  h.Send({0xF4, 10, 0, 3});
  EXPECT_EQ(h.RunUntil(t0 + 2500 * kMs).size(), 2u);
  TCircleRoad road;
  road.Expect(kReplyStop);
  h.Send({0xFC});
  EXPECT_FALSE(h.Core.LiveRunning());
  const auto out = h.RunFor(20000 * kMs);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].Bytes, (std::vector<std::uint8_t>{0xFC}));
  Feed(road, out);
  EXPECT_EQ(road.Status, kStatusDone);
}

TEST(SimLive, AFrameUnderWayFinishesBeforeTheStopAcknowledgement) {
  TSimHarness h;
  const std::uint64_t t0 = h.Now;
  h.Send({0xF4, 10, 0, 3});
  h.RunUntil(t0 + 1000 * kMs + 10 * kMs);  // frame 1 is on the line now
  h.Send({0xFC});
  const auto out = h.RunFor(20000 * kMs);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].Bytes.size(), 40u);
  EXPECT_EQ(out[0].DueUs, t0 + 1000 * kMs + kFrameUs);
  EXPECT_EQ(out[1].Bytes, (std::vector<std::uint8_t>{0xFC}));
  EXPECT_EQ(out[1].DueUs, out[0].DueUs + TSimCore::LineTimeUs(1, 9600));

  // The program skips the frame in flight and completes on the acknowledgement.
  TCircleRoad road;
  road.Expect(kReplyStop);
  Feed(road, out);
  EXPECT_EQ(road.Status, kStatusDone);
}

TEST(SimLive, ANewStartReplacesTheRunningTest) {
  TSimHarness h;
  const std::uint64_t t0 = h.Now;
  h.Send({0xF4, 10, 0, 3});
  h.RunUntil(t0 + 1500 * kMs);
  h.Send({0xF4, 2, 1, 1});
  const auto frames = LiveFrames(Joined(h.RunFor(20000 * kMs)));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1][38], 2);
  EXPECT_EQ(frames[1][39], 0x83);
  EXPECT_NEAR(BigEndianFloat(frames[1], 1), 200.0f, 2.0f);
}

TEST(SimLive, OtherCommandsAreAnsweredDuringATest) {
  TSimHarness h;
  const std::uint64_t t0 = h.Now;
  h.Send({0xF4, 5, 0, 3});
  h.RunUntil(t0 + 1500 * kMs);
  h.Send({0xF8});
  const auto out = h.RunUntil(t0 + 1600 * kMs);
  EXPECT_EQ(Joined(out), (std::vector<std::uint8_t>{0xF8, 0x01}));
  EXPECT_EQ(LiveFrames(Joined(h.RunFor(10000 * kMs))).size(), 4u);
}

}  // namespace
