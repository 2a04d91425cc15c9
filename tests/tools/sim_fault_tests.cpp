// Faults the simulator can put on the line, and what the program's reply
// assembler makes of them.
#include <gtest/gtest.h>

#include "sim_harness.h"

namespace {

const std::uint64_t kFrameUs = TSimCore::LineTimeUs(40, 9600);

TSimFault Fault(std::uint8_t cmd, int occurrence = 0, std::size_t length = 0) {
  TSimFault f;
  f.Command = cmd;
  f.Occurrence = occurrence;
  f.Length = length;
  return f;
}

// ---- Mute -------------------------------------------------------------------

TEST(SimMute, OnlyTheNamedOccurrenceGoesUnanswered) {
  TSimConfig c;
  c.Mute.push_back(Fault(0xF1, 2));
  TSimHarness h(c);
  h.Send({0xF1, 2});
  EXPECT_EQ(Joined(h.RunFor(200 * kMs)), TSimCore::RecordFrame(2));
  h.Send({0xF1, 1});
  EXPECT_TRUE(h.RunFor(3000 * kMs).empty());
  h.Send({0xF1, 0});
  EXPECT_EQ(Joined(h.RunFor(200 * kMs)), TSimCore::RecordFrame(0));
  h.Send({0xF1, 1});  // a third F1: answered again
  EXPECT_EQ(Joined(h.RunFor(200 * kMs)), TSimCore::RecordFrame(1));
}

TEST(SimMute, WithoutOccurrenceEveryFrameAndOtherCommandsStillAnswer) {
  TSimConfig c;
  c.Mute.push_back(Fault(0xF8));
  TSimHarness h(c);
  for (int i = 0; i < 3; ++i) {
    h.Send({0xF8});
    EXPECT_TRUE(h.RunFor(1000 * kMs).empty());
  }
  h.Send({0xF0});
  EXPECT_EQ(Joined(h.RunFor(100 * kMs)), (std::vector<std::uint8_t>{0xF0, 3}));
}

TEST(SimMute, AMutedCommandIsStillCarriedOut) {
  TSimConfig c;
  c.Mute.push_back(Fault(0xFC));
  c.Mute.push_back(Fault(0xF4));
  TSimHarness h(c);
  // F4 muted: the test runs, but silently.
  h.Send({0xF4, 3, 0, 3});
  EXPECT_TRUE(h.RunFor(10000 * kMs).empty());
  EXPECT_TRUE(h.Core.LiveRunning());
  // FC muted: the test stops, the acknowledgement is lost.
  h.Send({0xFC});
  EXPECT_TRUE(h.RunFor(3000 * kMs).empty());
  EXPECT_FALSE(h.Core.LiveRunning());
}

// ---- Corrupt ---------------------------------------------------------------

TEST(SimCorrupt, WrongFirstByteMakesTheReplyInvalid) {
  TSimConfig c;
  c.Corrupt.push_back(Fault(0xF0, 2));
  c.Corrupt.push_back(Fault(0xF8));
  TSimHarness h(c);
  TCircleRoad road;

  road.Expect(kReplyIdentify);
  h.Send({0xF8});
  const auto id = h.RunFor(100 * kMs);
  EXPECT_EQ(Joined(id), (std::vector<std::uint8_t>{0x00, 0x01}));
  Feed(road, id);
  EXPECT_EQ(road.Status, kStatusInvalid);

  for (int i = 1; i <= 3; ++i) {
    road.Expect(kReplyCount);
    h.Send({0xF0});
    Feed(road, h.RunFor(100 * kMs));
    EXPECT_EQ(road.Status, i == 2 ? kStatusInvalid : kStatusDone) << i;
  }
}

// ---- Truncate --------------------------------------------------------------

TEST(SimTruncate, OnlyTheFirstBytesAreSent) {
  TSimConfig c;
  c.Truncate.push_back(Fault(0xF6, 0, 8));
  c.Truncate.push_back(Fault(0xF1, 1, 45));
  TSimHarness h(c);
  h.Send({0xF6});
  const auto serial = Joined(h.RunFor(100 * kMs));
  EXPECT_EQ(serial, (std::vector<std::uint8_t>{0xF6, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD}));

  TCircleRoad road;
  road.Expect(kReplyRecord);
  h.Send({0xF1, 0});
  Feed(road, h.RunFor(3000 * kMs));
  EXPECT_EQ(road.Status, kStatusWaiting);  // one byte short: the caller's time-out decides
  EXPECT_EQ(road.DataLen, 45);
}

TEST(SimTruncate, ALiveStreamIsCutAsOneReplyAndTheTestGoesSilent) {
  TSimConfig c;
  c.Truncate.push_back(Fault(0xF4, 0, 60));
  TSimHarness h(c);
  h.Send({0xF4, 5, 0, 3});
  const auto bytes = Joined(h.RunFor(10000 * kMs));
  ASSERT_EQ(bytes.size(), 60u);
  EXPECT_EQ(bytes[0], 0xFA);
  EXPECT_EQ(bytes[40], 0xFA);
  EXPECT_TRUE(h.Core.LiveRunning());
}

// ---- Hang-up ---------------------------------------------------------------

TEST(SimHangup, SendsTheFirstBytesThenClosesTheLine) {
  TSimConfig c;
  c.Hangup.push_back(Fault(0xF0, 2, 1));
  TSimHarness h(c);
  h.Send({0xF0});
  const auto first = h.RunFor(100 * kMs);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_FALSE(first[0].Hangup);

  h.Send({0xF0});
  const auto out = h.RunFor(100 * kMs);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].Bytes, (std::vector<std::uint8_t>{0xF0}));
  EXPECT_TRUE(out[0].Hangup);
  EXPECT_TRUE(h.Core.HungUp());

  // Nothing follows a hang-up.
  h.Send({0xF8});
  EXPECT_TRUE(h.RunFor(1000 * kMs).empty());
  EXPECT_FALSE(h.Core.NextDueUs().has_value());
}

TEST(SimHangup, ZeroBytesOrACommandWithoutReplyHangsUpAtOnce) {
  for (std::uint8_t cmd : {std::uint8_t(0xF8), std::uint8_t(0xF2)}) {
    TSimConfig c;
    c.Hangup.push_back(Fault(cmd, 0, cmd == 0xF2 ? 5 : 0));
    TSimHarness h(c);
    const std::uint64_t t0 = h.Now;
    h.Send({cmd});
    const auto out = h.RunUntil(t0);
    ASSERT_EQ(out.size(), 1u) << int(cmd);
    EXPECT_TRUE(out[0].Bytes.empty());
    EXPECT_TRUE(out[0].Hangup);
  }
}

TEST(SimHangup, ALiveStreamHangsUpInsideTheSecondFrame) {
  TSimConfig c;
  c.Hangup.push_back(Fault(0xF4, 0, 50));
  TSimHarness h(c);
  const std::uint64_t t0 = h.Now;
  h.Send({0xF4, 5, 0, 3});
  const auto out = h.RunFor(10000 * kMs);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].Bytes.size(), 40u);
  EXPECT_FALSE(out[0].Hangup);
  EXPECT_EQ(out[1].Bytes.size(), 10u);
  EXPECT_TRUE(out[1].Hangup);
  EXPECT_EQ(out[1].DueUs, t0 + 2000 * kMs + TSimCore::LineTimeUs(10, 9600));
}

// ---- Noise -----------------------------------------------------------------

TEST(SimNoise, NoiseBytesPrecedeEveryReply) {
  TSimConfig c;
  c.Noise = 5;
  TSimHarness h(c);
  h.Send({0xF8});
  const auto bytes = Joined(h.RunFor(100 * kMs));
  ASSERT_EQ(bytes.size(), 7u);
  for (int i = 0; i < 5; ++i) EXPECT_LT(bytes[i], 0xF0);
  EXPECT_EQ(bytes[5], 0xF8);
  EXPECT_EQ(bytes[6], 0x01);

  // Fixed-length replies do not survive noise in front...
  TCircleRoad road;
  road.Expect(kReplyIdentify);
  h.Send({0xF8});
  Feed(road, h.RunFor(100 * kMs));
  EXPECT_EQ(road.Status, kStatusInvalid);
}

TEST(SimNoise, LiveFramesAndTheStopAcknowledgementResynchronise) {
  TSimConfig c;
  c.Noise = 7;
  c.ChunkSeed = 3;
  TSimHarness h(c);
  TCircleRoad road;
  road.Expect(kReplyLive);
  const std::uint64_t t0 = h.Now;
  h.Send({0xF4, 4, 0, 3});
  int decoded = 0;
  for (const TimedChunk& chunk : h.RunUntil(t0 + 3500 * kMs)) {
    road.AddData(chunk.Bytes);
    if (road.Status == kStatusDone) {
      ++decoded;
      EXPECT_EQ(road.RecvFA->LoadSeconds, decoded);
      road.Expect(kReplyLive);
    }
  }
  EXPECT_EQ(decoded, 3);

  road.Expect(kReplyStop);
  h.Send({0xFC});
  Feed(road, h.RunFor(1000 * kMs));
  EXPECT_EQ(road.Status, kStatusDone);
}

// ---- Live frame states -----------------------------------------------------

struct TStateCase {
  int Frame;
  std::uint8_t State;
  std::size_t FramesSent;  // of a test with load time 5
  int Decoded;             // frames the assembler accepts
  bool StillRunning;
};

class SimLiveState : public ::testing::TestWithParam<TStateCase> {};

TEST_P(SimLiveState, FrameCarriesTheStateAndErrorsEndTheTest) {
  const TStateCase& k = GetParam();
  TSimConfig c;
  c.LiveStates[k.Frame] = k.State;
  TSimHarness h(c);
  h.Send({0xF4, 5, 0, 3});
  const auto out = h.RunFor(20000 * kMs);
  const auto frames = LiveFrames(Joined(out));
  ASSERT_EQ(frames.size(), k.FramesSent);
  EXPECT_EQ(frames[std::size_t(k.Frame - 1)][39], k.State);
  EXPECT_EQ(h.Core.LiveRunning(), k.StillRunning);

  TCircleRoad road;
  int decoded = 0;
  for (const TimedChunk& chunk : out) {
    road.Expect(kReplyLive);
    road.AddData(chunk.Bytes);
    if (road.Status == kStatusDone) ++decoded;
  }
  EXPECT_EQ(decoded, k.Decoded);
}

INSTANTIATE_TEST_SUITE_P(States, SimLiveState,
                         ::testing::Values(TStateCase{2, 0x81, 2, 2, false},  // wiring error
                                           TStateCase{3, 0x82, 3, 3, false},  // over range
                                           TStateCase{1, 0x84, 5, 4, false},  // unknown: skipped
                                           TStateCase{2, 0x83, 2, 2, false},  // finished early
                                           TStateCase{5, 0x88, 5, 5, true})); // no final frame

// ---- Silence and burst -----------------------------------------------------

TEST(SimSilence, NoFramesAfterTheNamedOneTheTestKeepsRunning) {
  for (int after : {2, 0}) {
    SCOPED_TRACE(after);
    TSimConfig c;
    c.SilenceAfter = after;
    TSimHarness h(c);
    h.Send({0xF4, 5, 0, 3});
    EXPECT_EQ(LiveFrames(Joined(h.RunFor(30000 * kMs))).size(), std::size_t(after));
    EXPECT_TRUE(h.Core.LiveRunning());
    h.Send({0xFC});
    EXPECT_EQ(Joined(h.RunFor(100 * kMs)), (std::vector<std::uint8_t>{0xFC}));
    EXPECT_FALSE(h.Core.LiveRunning());
  }
}

TEST(SimBurst, TheFirstFramesComeBackToBackWhenTheLastOfThemIsDue) {
  TSimConfig c;
  c.Burst = 3;
  TSimHarness h(c);
  const std::uint64_t t0 = h.Now;
  h.Send({0xF4, 5, 0, 3});
  EXPECT_TRUE(h.RunUntil(t0 + 3000 * kMs).empty());
  const auto burst = h.RunUntil(t0 + 3000 * kMs + 3 * kFrameUs);
  ASSERT_EQ(burst.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(burst[i].DueUs, t0 + 3000 * kMs + (i + 1) * kFrameUs);
    EXPECT_EQ(burst[i].Bytes[38], i + 1);
  }
  // Fed in one go, the assembler holds the last of them.
  TCircleRoad road;
  road.Expect(kReplyLive);
  road.AddData(Joined(burst));
  EXPECT_EQ(road.Status, kStatusDone);
  EXPECT_EQ(road.RecvFA->LoadSeconds, 3);
  EXPECT_EQ(road.DataLen, 0);

  const auto rest = h.RunFor(10000 * kMs);
  ASSERT_EQ(rest.size(), 2u);
  EXPECT_EQ(rest[0].DueUs, t0 + 4000 * kMs + kFrameUs);
  EXPECT_EQ(rest[1].DueUs, t0 + 5000 * kMs + kFrameUs);
  EXPECT_EQ(rest[1].Bytes[39], 0x83);
}

}  // namespace
