// The reply assembler: recognising each reply kind in the received bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "FrameBuilders.h"
#include "protocol/ReplyAssembler.h"

using namespace qk_test;

namespace {

class Assembler : public ::testing::Test {
 protected:
  // Reset + Expect, as every sender does before it writes its frame.
  void Await(std::uint8_t kind) {
    road.Reset();
    road.Expect(kind);
  }
  void Feed(const TBuffer& bytes) { road.AddData(bytes); }
  void ExpectBuffered(const TBuffer& bytes) {
    EXPECT_EQ(road.Data, bytes);
    EXPECT_EQ(road.DataLen, std::int32_t(road.Data.size()));
  }

  TCircleRoad road;
};

TEST_F(Assembler, StartsIdleAndEmpty) {
  EXPECT_EQ(road.ExpectKind, 0);
  EXPECT_EQ(road.Status, 0);
  EXPECT_EQ(road.DataLen, 0);
  EXPECT_TRUE(road.Data.empty());
  ASSERT_NE(road.RecvF1, nullptr);
  ASSERT_NE(road.RecvFA, nullptr);
}

// Kinds with a fixed reply: the happy path, the refused first byte, and the
// wait for the full length.
struct FixedCase {
  std::uint8_t kind;
  TBuffer good;
  std::uint8_t wrongFirst;
};

class FixedReplies : public Assembler, public ::testing::WithParamInterface<FixedCase> {};

TEST_P(FixedReplies, CompleteOnlyWithTheWholeReply) {
  const FixedCase& c = GetParam();
  Await(c.kind);
  // every byte but the last: still waiting, nothing removed
  TBuffer head(c.good.begin(), c.good.end() - 1);
  if (!head.empty()) {
    Feed(head);
    EXPECT_EQ(road.Status, kStatusWaiting);
    ExpectBuffered(head);
  }
  // the last byte followed by trailing bytes in the same chunk: all dropped
  Feed({c.good.back(), 0x11, 0x22});
  EXPECT_EQ(road.Status, kStatusDone);
  ExpectBuffered({});
  EXPECT_EQ(road.ExpectKind, c.kind);
}

TEST_P(FixedReplies, RefuseAWrongFirstByte) {
  const FixedCase& c = GetParam();
  Await(c.kind);
  TBuffer bad = c.good;
  bad[0] = c.wrongFirst;
  bad.push_back(0x33);
  Feed(bad);
  EXPECT_EQ(road.Status, kStatusInvalid);
  ExpectBuffered({});
}

TBuffer RangeReply() { return {0xF3, 1, 0}; }

INSTANTIATE_TEST_SUITE_P(Kinds, FixedReplies,
                         ::testing::Values(FixedCase{kReplyIdentify, {0xF8, 1}, 0xF0},
                                           FixedCase{kReplyCount, {0xF0, 7}, 0xF1},
                                           FixedCase{kReplyRecord, Record(1, 2, 3), 0xFA},
                                           FixedCase{kReplyRange, RangeReply(), 0xF8},
                                           FixedCase{kReplyPrint, {0xFE}, 0xFC},
                                           FixedCase{kReplyFF, {0xFF}, 0xFE}));

TEST_F(Assembler, CountArrivesInTwoChunks) {
  Await(kReplyCount);
  Feed({0xF0});
  EXPECT_EQ(road.Status, kStatusWaiting);
  ExpectBuffered({0xF0});
  Feed({0x07});
  EXPECT_EQ(road.RecordCount, 7);
  EXPECT_EQ(road.Status, kStatusDone);
  ExpectBuffered({});
  // a refused reply keeps the last count
  Await(kReplyCount);
  Feed({0xF1, 0x07});
  EXPECT_EQ(road.Status, kStatusInvalid);
  EXPECT_EQ(road.RecordCount, 7);
  ExpectBuffered({});
}

TEST_F(Assembler, IdentificationNamesTheKnownTypes) {
  const std::pair<int, const char*> cases[] = {{1, "4706"}, {2, "mrtk"}, {5, ""}, {0, ""}, {255, ""}};
  for (auto [type, text] : cases) {
    Await(kReplyIdentify);
    Feed({0xF8, std::uint8_t(type)});
    EXPECT_EQ(road.Status, kStatusDone) << type;
    EXPECT_EQ(road.DeviceType, text) << type;
  }
}

TEST_F(Assembler, RangeReplyStoresModeAndIndexUntilTheNextValidOne) {
  Await(kReplyRange);
  Feed({0xF3, 1, 1});
  EXPECT_EQ(road.Status, kStatusDone);
  EXPECT_EQ(road.StepMode, 1);
  EXPECT_EQ(road.StepIndex, 1);
  Await(kReplyRange);
  Feed({0xF0, 0, 0});
  EXPECT_EQ(road.Status, kStatusInvalid);
  EXPECT_EQ(road.StepMode, 1);
  EXPECT_EQ(road.StepIndex, 1);
}

TEST_F(Assembler, RecordIsDecodedFromTheFirst46Bytes) {
  Await(kReplyRecord);
  TBuffer bytes = Record(2.5f, 0.125f, 0.0f);
  TBuffer first45(bytes.begin(), bytes.end() - 1);
  Feed(first45);
  EXPECT_EQ(road.Status, kStatusWaiting);
  ExpectBuffered(first45);
  EXPECT_EQ(road.RecvF1->ResistanceA, "");
  Feed({bytes.back(), 0xF1, 0xF1, 0xF1, 0xF1});  // 50 bytes in all
  EXPECT_EQ(road.Status, kStatusDone);
  ExpectBuffered({});
  EXPECT_EQ(road.RecvF1->TestDateTime, "08-12-31 09:25");
  EXPECT_EQ(road.RecvF1->ResistanceA, "2.500 Ω");
  EXPECT_EQ(road.RecvF1->ResistanceB, "125.0 mΩ");
  EXPECT_EQ(road.RecvF1->ResistanceC, "0.0 μΩ");
}

TEST_F(Assembler, LiveFrameAfterNoiseIsFound) {
  Await(kReplyLive);
  TBuffer bytes = {0x12, 0xFA};
  Append(bytes, LiveFrame(1.5f, 0.5f, 0.125f, 0, 9, 0x88));
  Feed(bytes);
  EXPECT_EQ(road.Status, kStatusDone);
  ExpectBuffered({});
  EXPECT_EQ(road.RecvFA->CurrentA, "1.500 A");
  EXPECT_EQ(road.RecvFA->VoltageA, "500.00 mV");
  EXPECT_EQ(road.RecvFA->ResistanceA, "125.0 mΩ");
  EXPECT_EQ(road.RecvFA->LoadSeconds, 9);
  EXPECT_EQ(road.ExpectKind, kReplyLive);
}

TEST_F(Assembler, LiveFrameWithAnUnknownStateIsSkippedByteByByte) {
  Await(kReplyLive);
  TBuffer bad = LiveFrame(1.0f, 1.0f, 1.0f, 0, 1, 0x84);
  Feed(bad);
  // one byte removed; 39 remain and the parser waits for more
  EXPECT_EQ(road.Status, kStatusWaiting);
  ExpectBuffered(TBuffer(bad.begin() + 1, bad.end()));
  // a valid frame after it is found; the bad block's bytes are skipped
  Feed(LiveFrame(2.0f, 1.0f, 1.0f, 0, 2, 0x83));
  EXPECT_EQ(road.Status, kStatusDone);
  EXPECT_EQ(road.RecvFA->CurrentA, "2.000 A");
  EXPECT_EQ(road.RecvFA->State, 0x83);
  ExpectBuffered({});
}

TEST_F(Assembler, EveryValidFrameIsDecodedAndTheLastKept) {
  Await(kReplyLive);
  TBuffer bytes;
  for (std::uint8_t s : {std::uint8_t(0x81), std::uint8_t(0x82), std::uint8_t(0x88), std::uint8_t(0x83)})
    Append(bytes, LiveFrame(float(s), 0, 0, 0, 0, s));
  Append(bytes, {0xFA, 0x01});  // start of a further frame
  Feed(bytes);
  EXPECT_EQ(road.Status, kStatusDone);
  EXPECT_EQ(road.RecvFA->State, 0x83);
  EXPECT_EQ(road.RecvFA->CurrentA, "131.0 A");
  ExpectBuffered({0xFA, 0x01});
  // the kind stays in force: re-armed, the next frame completes again and the
  // unfinished start in front of it is skipped
  road.Expect(kReplyLive);
  Feed(LiveFrame(7.0f, 0, 0, 0, 0, 0x88));
  EXPECT_EQ(road.Status, kStatusDone);
  EXPECT_EQ(road.RecvFA->CurrentA, "7.000 A");
  EXPECT_EQ(road.RecvFA->State, 0x88);
  ExpectBuffered({});
}

TEST_F(Assembler, LiveNoiseNeverGrowsTheBuffer) {
  for (std::uint8_t kind : {kReplyLive, kReplyStop}) {
    Await(kind);
    // 0xFA heads and bytes below 0x80: no valid state byte, no 0xFC
    TBuffer noise(100000);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = std::uint8_t(i % 7 == 0 ? 0xFA : (i * 13) % 0x80);
    std::int32_t most = 0;
    for (std::size_t i = 0; i < noise.size(); i += 1000) {
      road.AddData(noise.data() + i, 1000);
      most = std::max(most, road.DataLen);
    }
    EXPECT_LT(most, 40) << int(kind);
    EXPECT_EQ(road.Status, kStatusWaiting) << int(kind);
  }
}

TEST_F(Assembler, StopSkipsLiveFramesInFlight) {
  Await(kReplyStop);
  road.RecvFA->CurrentA = "untouched";
  TBuffer bytes = LiveFrame(1, 1, 1, 0, 3, 0x88);
  Append(bytes, {0xFC, 0x55});
  Feed(bytes);
  EXPECT_EQ(road.Status, kStatusDone);
  ExpectBuffered({});
  EXPECT_EQ(road.RecvFA->CurrentA, "untouched");  // skipped, not decoded
}

TEST_F(Assembler, StopWaitsForAFrameThatMayHideTheAcknowledgement) {
  Await(kReplyStop);
  // 0xFC inside the first 40 bytes of an FA block is not taken as the
  // acknowledgement until the block is known
  TBuffer frame = LiveFrame(1, 1, 1, 0, 3, 0x88);
  frame[10] = 0xFC;
  Feed(TBuffer(frame.begin(), frame.begin() + 20));
  EXPECT_EQ(road.Status, kStatusWaiting);
  EXPECT_EQ(road.DataLen, 20);
  Feed(TBuffer(frame.begin() + 20, frame.end()));
  EXPECT_EQ(road.Status, kStatusWaiting);
  ExpectBuffered({});
  // a block with an unknown state is skipped one byte at a time, so the
  // 0xFC in it then ends the wait
  TBuffer bad = LiveFrame(1, 1, 1, 0, 3, 0x00);
  bad[10] = 0xFC;
  Feed(bad);
  EXPECT_EQ(road.Status, kStatusDone);
  ExpectBuffered({});
}

TEST_F(Assembler, StopSkipsNoise) {
  Await(kReplyStop);
  Feed({0x00, 0xF8, 0x12});
  EXPECT_EQ(road.Status, kStatusWaiting);
  ExpectBuffered({});
  Feed({0xFC});
  EXPECT_EQ(road.Status, kStatusDone);
}

TEST_F(Assembler, IdleKindDropsEverything) {
  road.Expect(kReplyCount);
  Feed({0xF0, 3});
  ASSERT_EQ(road.Status, kStatusDone);
  road.Expect(kReplyNone);
  Feed({0xF0, 9, 0xFA, 0xFC});
  ExpectBuffered({});
  EXPECT_EQ(road.Status, kStatusWaiting);
  EXPECT_EQ(road.RecordCount, 3);
}

class ReplylessKinds : public Assembler, public ::testing::WithParamInterface<int> {};

TEST_P(ReplylessKinds, ReturnAtOnceAndDropTheBytes) {
  Await(std::uint8_t(GetParam()));
  TBuffer bytes = LiveFrame(1, 1, 1, 0, 0, 0x83);
  Append(bytes, {0xF0, 1, 0xFC, 0xFE, 0xFF});
  Feed(bytes);
  EXPECT_EQ(road.Status, kStatusWaiting);
  ExpectBuffered({});
  EXPECT_EQ(road.RecvFA->State, 0);
  EXPECT_EQ(road.RecordCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ReplylessKinds, ::testing::Values(4, 10, 100, 255));

TEST_F(Assembler, ResetEmptiesTheBufferAndKeepsStatusAndKind) {
  Await(kReplyCount);
  Feed({0xF0, 2});
  ASSERT_EQ(road.Status, kStatusDone);
  road.Reset();
  EXPECT_EQ(road.Status, kStatusDone);
  EXPECT_EQ(road.ExpectKind, kReplyCount);
  road.Expect(kReplyRecord);
  Feed({0xF1, 0x00});
  road.Reset();
  ExpectBuffered({});
  EXPECT_EQ(road.Status, kStatusWaiting);
}

TEST_F(Assembler, ExpectKeepsBufferedBytesForTheNextChunk) {
  road.Expect(kReplyRecord);
  Feed({0xF0});
  road.Expect(kReplyCount);  // nothing parsed yet
  EXPECT_EQ(road.Status, kStatusWaiting);
  ExpectBuffered({0xF0});
  Feed({0x05});
  EXPECT_EQ(road.Status, kStatusDone);
  EXPECT_EQ(road.RecordCount, 5);
}

TEST_F(Assembler, EmptyChunkDoesNotRunTheParser) {
  road.Expect(kReplyCount);
  Feed({0xF0});
  road.Expect(kReplyNone);  // would drop the byte if the parser ran
  Feed({});
  road.AddData(nullptr, 5);
  ExpectBuffered({0xF0});
}

TEST_F(Assembler, ConsumeRemovesTheHead) {
  road.Expect(kReplyRecord);
  Feed({1, 2, 3, 4, 5});
  road.Consume(0);
  ExpectBuffered({1, 2, 3, 4, 5});
  road.Consume(-3);  // a negative count removes nothing
  ExpectBuffered({1, 2, 3, 4, 5});
  road.Consume(2);
  ExpectBuffered({3, 4, 5});
  road.Consume(3);
  ExpectBuffered({});
  Feed({1, 2});
  road.Consume(1000);
  ExpectBuffered({});
}

TEST_F(Assembler, ALaterReplyUnderTheSameKindChangesStatusAgain) {
  Await(kReplyPrint);
  Feed({0xFE});
  ASSERT_EQ(road.Status, kStatusDone);
  Feed({0x00});
  EXPECT_EQ(road.Status, kStatusInvalid);
}

// The single instance.
class SingleInstance : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(AccessInstance(0), nullptr); }
  void TearDown() override {
    delete AccessInstance(0);
    EXPECT_EQ(AccessInstance(0), nullptr);
  }
};

TEST_F(SingleInstance, IsCreatedOnFirstUseAndForgottenWhenDestroyed) {
  TCircleRoad* road = TCircleRoad::Instance();
  ASSERT_NE(road, nullptr);
  EXPECT_EQ(TCircleRoad::Instance(), road);
  EXPECT_EQ(AccessInstance(1), road);
  EXPECT_EQ(AccessInstance(0), road);
  delete road;
  EXPECT_EQ(AccessInstance(0), nullptr);
  TCircleRoad* again = TCircleRoad::Instance();
  EXPECT_NE(again, nullptr);
  EXPECT_EQ(again->Status, 0);
}

TEST_F(SingleInstance, ForgettingDoesNotDestroy) {
  TCircleRoad* road = TCircleRoad::Instance();
  road->Expect(kReplyCount);
  EXPECT_EQ(AccessInstance(2), nullptr);
  EXPECT_EQ(AccessInstance(0), nullptr);
  road->AddData(TBuffer{0xF0, 4});  // still usable
  EXPECT_EQ(road->RecordCount, 4);
  delete road;
}

TEST_F(SingleInstance, AnotherAssemblerLeavesTheRegisteredOneAlone) {
  TCircleRoad* road = TCircleRoad::Instance();
  { TCircleRoad local; }
  EXPECT_EQ(AccessInstance(0), road);
}

TEST_F(SingleInstance, IllegalRequestRaisesAnError) {
  for (int request : {3, -1, 100}) {
    try {
      AccessInstance(request);
      ADD_FAILURE() << "no error for request " << request;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()), "Illegal request " + std::to_string(request) + " in AccessInstance");
    }
  }
  EXPECT_EQ(AccessInstance(0), nullptr);
}

}  // namespace
