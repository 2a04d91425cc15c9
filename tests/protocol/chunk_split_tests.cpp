// How the serial line cuts the bytes into chunks must not change what the
// resynchronising kinds (live frames, stop acknowledgement) find in them.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "FrameBuilders.h"
#include "protocol/ReplyAssembler.h"

using namespace qk_test;

namespace {

// A stream of noise, stored records, partial frames, FA blocks with a bad
// state byte and valid live frames, from a fixed seed. With withStop the
// stream ends with the stop acknowledgement.
TBuffer MixedStream(unsigned seed, bool withStop) {
  std::mt19937 rng(seed);
  auto pick = [&rng](int n) { return int(rng() % unsigned(n)); };
  TBuffer s;
  for (int part = 0; part < 60; ++part) {
    switch (pick(5)) {
      case 0:  // noise, with a sprinkling of 0xFA
        for (int i = pick(12); i > 0; --i) s.push_back(pick(4) == 0 ? 0xFA : std::uint8_t(rng()));
        break;
      case 1: {  // a stored record, as if a late reply
        Append(s, Record(0.001f * float(part), 1.5f, 0.25f));
        break;
      }
      case 2: {  // a frame cut short
        TBuffer f = LiveFrame(float(part), 0.5f, 0.125f, 0, std::uint8_t(part), 0x88);
        f.resize(std::size_t(1 + pick(39)));
        Append(s, f);
        break;
      }
      case 3: {  // an FA block with an unknown state
        Append(s, LiveFrame(float(part), 1.0f, 1.0f, 1, 2, std::uint8_t(0x84 + pick(3))));
        break;
      }
      default: {
        static const std::uint8_t kStates[] = {0x81, 0x82, 0x83, 0x88};
        Append(s, LiveFrame(float(part) + 0.5f, 0.001953125f * float(part), 0.015625f, std::uint8_t(part / 60),
                            std::uint8_t(part % 60), kStates[pick(4)]));
        break;
      }
    }
  }
  if (withStop) {
    // No acknowledgement before the end. Forty filler bytes let the scan
    // reach the last frame at its first byte, so the 0xFC after it is never
    // taken for the middle of an FA block that waits for more bytes.
    for (auto& b : s)
      if (b == 0xFC) b = 0xFB;
    s.insert(s.end(), 40, 0x00);
    Append(s, LiveFrame(1.0f, 1.0f, 1.0f, 0, 1, 0x88));
    s.push_back(0xFC);
  }
  return s;
}

std::string FrameKey(const TRecvFA& r) {
  return r.CurrentA + "|" + r.CurrentB + "|" + r.CurrentC + "|" + r.VoltageA + "|" + r.VoltageB + "|" +
         r.VoltageC + "|" + r.ResistanceA + "|" + r.ResistanceB + "|" + r.ResistanceC + "|" + r.LoadTimeText +
         "|" + std::to_string(r.LoadSeconds) + "|" + std::to_string(r.State);
}

// What the assembler shows after the stream up to an offset: the frames it
// completed there (only the last of them is visible) and its buffer.
struct Observation {
  std::size_t end;      // bytes of the stream fed so far
  bool done;            // Status 0 after this chunk
  std::string frame;    // RecvFA when done
  TBuffer buffered;     // Data after the chunk
};

// Feeds the stream in the given chunk lengths. After every chunk that
// completes a reply the caller re-arms, as the live test does.
std::vector<Observation> FeedInChunks(std::uint8_t kind, const TBuffer& stream, const std::vector<std::size_t>& cuts) {
  TCircleRoad road;
  road.Reset();
  road.Expect(kind);
  std::vector<Observation> seen;
  std::size_t at = 0;
  for (std::size_t len : cuts) {
    road.AddData(stream.data() + at, len);
    at += len;
    EXPECT_EQ(road.DataLen, std::int32_t(road.Data.size()));
    Observation o{at, road.Status == kStatusDone, std::string(), road.Data};
    EXPECT_NE(road.Status, kStatusInvalid);
    if (o.done) {
      o.frame = FrameKey(*road.RecvFA);
      road.Expect(kind);
    }
    seen.push_back(o);
  }
  return seen;
}

std::vector<std::size_t> RandomCuts(std::size_t total, std::mt19937& rng) {
  std::vector<std::size_t> cuts;
  std::size_t left = total;
  while (left > 0) {
    // mostly short chunks, now and then a long one
    std::size_t len = rng() % 4 == 0 ? 1 + rng() % 200 : 1 + rng() % 9;
    if (len > left) len = left;
    cuts.push_back(len);
    left -= len;
  }
  return cuts;
}

TEST(ChunkSplits, LiveFramesAreTheSameForEverySplit) {
  for (unsigned seed : {1u, 7u, 42u, 2024u}) {
    const TBuffer stream = MixedStream(seed, false);
    // reference: one byte at a time, so every completed frame is seen
    const std::vector<Observation> ref = FeedInChunks(kReplyLive, stream, std::vector<std::size_t>(stream.size(), 1));
    std::size_t frames = 0;
    for (const Observation& o : ref) frames += o.done;
    ASSERT_GT(frames, 5u) << "seed " << seed;

    std::mt19937 rng(seed * 31u + 5u);
    for (int round = 0; round < 50; ++round) {
      const std::vector<Observation> got = FeedInChunks(kReplyLive, stream, RandomCuts(stream.size(), rng));
      std::size_t prevEnd = 0;
      for (const Observation& o : got) {
        // frames the reference completed within this chunk
        std::string last;
        for (std::size_t i = prevEnd; i < o.end; ++i)
          if (ref[i].done) last = ref[i].frame;
        ASSERT_EQ(o.done, !last.empty()) << "seed " << seed << " round " << round << " end " << o.end;
        if (o.done) {
          ASSERT_EQ(o.frame, last) << "seed " << seed << " end " << o.end;
        }
        // the bytes kept depend only on how much of the stream has arrived
        ASSERT_EQ(o.buffered, ref[o.end - 1].buffered) << "seed " << seed << " end " << o.end;
        prevEnd = o.end;
      }
    }
  }
}

TEST(ChunkSplits, StopAcknowledgementIsFoundForEverySplit) {
  for (unsigned seed : {3u, 11u, 99u}) {
    const TBuffer stream = MixedStream(seed, true);
    const std::vector<Observation> ref = FeedInChunks(kReplyStop, stream, std::vector<std::size_t>(stream.size(), 1));
    // only the final byte completes the reply
    for (std::size_t i = 0; i + 1 < ref.size(); ++i) ASSERT_FALSE(ref[i].done) << "seed " << seed << " at " << i;
    ASSERT_TRUE(ref.back().done);

    std::mt19937 rng(seed);
    for (int round = 0; round < 50; ++round) {
      const std::vector<Observation> got = FeedInChunks(kReplyStop, stream, RandomCuts(stream.size(), rng));
      for (std::size_t i = 0; i < got.size(); ++i) {
        const bool last = i + 1 == got.size();
        ASSERT_EQ(got[i].done, last) << "seed " << seed << " round " << round;
        ASSERT_EQ(got[i].buffered, ref[got[i].end - 1].buffered) << "seed " << seed << " round " << round;
      }
    }
  }
}

}  // namespace
