// The blocking command transaction over the USB bridge, with a bridge the
// test scripts.
#include <gtest/gtest.h>

#include "comm/SIUSBXP.h"
#include "comm/UCommUnit.h"
#include "data/UDataCenter.h"
#include "support/FakeUsbBridge.h"

namespace {

// The working parameters the transaction is given its channel from.
TWorkingParams P;
TCommSettings Comm() { return TCommSettings{P.giCommStyle, P.giCommPort, P.giBaudRate, &P.giUsbHandle}; }

TBuffer Frame(std::initializer_list<std::uint8_t> bytes, std::size_t size = 200) {
  TBuffer b(size, 0);
  std::copy(bytes.begin(), bytes.end(), b.begin());
  return b;
}

TBuffer SerialReply(std::uint8_t first = 0xF6) {
  return {first, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
}

class UsbTransactTest : public ::testing::Test {
 protected:
  void SetUp() override {
    P = TWorkingParams{};
    P.giCommStyle = 0;
    P.giUsbHandle = 0;
  }
  void TearDown() override { P.giCommStyle = 1; }
  TFakeUsbBridge Bridge;
};

TEST(UsbBridgeDefault, FindsNoDevice) {
  P = TWorkingParams{};
  P.giCommStyle = 0;
  SI_HANDLE h = 0;
  EXPECT_NE(SI_Open(0, &h), SI_SUCCESS);
  EXPECT_EQ(h, SI_INVALID_HANDLE_VALUE);
  TBuffer b = Frame({0xF6});
  EXPECT_FALSE(SendCommand(Comm(), 0xF6, b, 9, 1));
  EXPECT_EQ(LastTransactAttempts(), 1);
  EXPECT_EQ(P.giUsbHandle, SI_INVALID_HANDLE_VALUE);
  P.giCommStyle = 1;
}

TEST_F(UsbTransactTest, ReadsTheSerialNumberAndRestoresTheTimeouts) {
  SI_SetTimeouts(333, 444);
  TBuffer b = Frame({0xF6});
  ASSERT_TRUE(SendCommand(Comm(), 0xF6, b, 9, 1));
  EXPECT_EQ(Bridge.Trace(), "open write:1@100 read:64@100 close");
  EXPECT_EQ(TBuffer(b.begin(), b.begin() + 9), SerialReply());
  EXPECT_EQ(P.giUsbHandle, 7);
  std::uint32_t r = 0, w = 0;
  SI_GetTimeouts(&r, &w);
  EXPECT_EQ(r, 333u);
  EXPECT_EQ(w, 444u);
}

TEST_F(UsbTransactTest, WritesTheSerialNumberWithoutReading) {
  TBuffer b = Frame({0xF7, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88});
  ASSERT_TRUE(SendCommand(Comm(), 0xF7, b, 0, 9));
  EXPECT_EQ(Bridge.Trace(), "open write:9@10 close");
  EXPECT_EQ(Bridge.Calls[1].data, TBuffer(b.begin(), b.begin() + 9));
  EXPECT_EQ(Bridge.Serial, (TBuffer{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
}

struct TOpenFailure {
  const char* name;
  TFakeUsbBridge::TOpenAnswer answer;
};
void PrintTo(const TOpenFailure& f, std::ostream* os) { *os << f.name; }

class UsbOpenFailures : public UsbTransactTest, public ::testing::WithParamInterface<TOpenFailure> {};

TEST_P(UsbOpenFailures, EndTheTransactionAtOnceAfterOneClose) {
  Bridge.OpenAnswers << GetParam().answer;
  TBuffer b = Frame({0xF6});
  EXPECT_FALSE(SendCommand(Comm(), 0xF6, b, 9, 1));
  EXPECT_EQ(Bridge.Trace(), "open close");
  EXPECT_EQ(LastTransactAttempts(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Open, UsbOpenFailures,
    ::testing::Values(TOpenFailure{"StatusNotZero", {SI_DEVICE_NOT_FOUND, 7}},
                      TOpenFailure{"InvalidHandle", {SI_SUCCESS, SI_INVALID_HANDLE_VALUE}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbTransactTest, AReplyWithAnotherFirstByteIsReadAgain) {
  Bridge.ReadAnswers << TFakeUsbBridge::TReadAnswer{SI_SUCCESS, SerialReply(0x00)};
  TBuffer b = Frame({0xF6});
  ASSERT_TRUE(SendCommand(Comm(), 0xF6, b, 9, 1));
  EXPECT_EQ(Bridge.Trace(), "open write:1@100 read:64@100 read:64@100 close");
  EXPECT_EQ(TBuffer(b.begin(), b.begin() + 9), SerialReply());
}

TEST_F(UsbTransactTest, ADeviceThatKeepsSendingOtherBytesDoesNotHoldTheProgram) {
  Bridge.RepeatRead = true;
  Bridge.Repeated = {SI_SUCCESS, SerialReply(0x55)};
  TBuffer b = Frame({0xF6});
  EXPECT_FALSE(SendCommand(Comm(), 0xF6, b, 9, 1));
  EXPECT_EQ(Bridge.Count("open"), 4);
  EXPECT_EQ(Bridge.Count("close"), 4);
  EXPECT_LE(Bridge.Count("read"), 4 * 9);
}

// Faults inside an attempt: the attempt fails, the device is closed and the
// next attempt starts, four in all.
struct TAttemptFault {
  const char* name;
  QList<TFakeUsbBridge::TWriteAnswer> writes;
  QList<TFakeUsbBridge::TReadAnswer> reads;
  bool ok;
  int attempts;
};
void PrintTo(const TAttemptFault& f, std::ostream* os) { *os << f.name; }

class UsbAttemptFaults : public UsbTransactTest, public ::testing::WithParamInterface<TAttemptFault> {};

TEST_P(UsbAttemptFaults, AreRetried) {
  const TAttemptFault& f = GetParam();
  Bridge.WriteAnswers = f.writes;
  Bridge.ReadAnswers = f.reads;
  TBuffer b = Frame({0xF6});
  EXPECT_EQ(SendCommand(Comm(), 0xF6, b, 9, 1), f.ok);
  EXPECT_EQ(LastTransactAttempts(), f.attempts);
  EXPECT_EQ(Bridge.Count("open"), f.attempts);
  EXPECT_EQ(Bridge.Count("close"), f.attempts);
  if (f.ok) {
    EXPECT_EQ(TBuffer(b.begin(), b.begin() + 9), SerialReply());
  }
}

using W = TFakeUsbBridge::TWriteAnswer;
using R = TFakeUsbBridge::TReadAnswer;
const R kTimedOut{SI_READ_TIMED_OUT, {}};
const R kNothing{SI_SUCCESS, {}};
const R kShort{SI_SUCCESS, {0xF6, 0x01, 0x23, 0x45, 0x67}};

INSTANTIATE_TEST_SUITE_P(
    Faults, UsbAttemptFaults,
    ::testing::Values(
        TAttemptFault{"WriteFailsOnce", {W{SI_WRITE_ERROR, 0}}, {}, true, 2},
        TAttemptFault{"WriteTakesNothingOnce", {W{SI_SUCCESS, 0}}, {}, true, 2},
        TAttemptFault{"ReadTimesOutOnce", {}, {kTimedOut}, true, 2},
        TAttemptFault{"ReadAlwaysTimesOut", {}, {kTimedOut, kTimedOut, kTimedOut, kTimedOut}, false, 4},
        TAttemptFault{"WriteAlwaysFails",
                      {W{SI_WRITE_TIMED_OUT, 0}, W{SI_WRITE_TIMED_OUT, 0}, W{SI_WRITE_TIMED_OUT, 0},
                       W{SI_WRITE_TIMED_OUT, 0}},
                      {},
                      false,
                      4},
        // A successful read that brought no byte is no reply, although the
        // buffer still starts with the command of the frame.
        TAttemptFault{"EmptyReadsThenTimeout",
                      {},
                      {kNothing, kNothing, kNothing, kNothing, kNothing, kNothing, kNothing,
                       kNothing, kNothing, kTimedOut, kTimedOut, kTimedOut},
                      false,
                      4},
        // Fewer bytes than the caller's reply length.
        TAttemptFault{"ShortReplies", {}, {kShort, kShort, kShort, kShort}, false, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbTransactTest, ACommandOutsideTheClassesOpensAndClosesFourTimes) {
  TBuffer b = Frame({0xEF});
  EXPECT_FALSE(SendCommand(Comm(), 0xEF, b, 9, 1));
  EXPECT_EQ(Bridge.Trace(), "open close open close open close open close");
}

TEST_F(UsbTransactTest, WritesGoInChunksOf512) {
  TBuffer b(1030);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i * 7);
  b[0] = 0xF2;
  ASSERT_TRUE(UsbTransact(0xF2, b, 0, 1030, 1, &P.giUsbHandle));
  EXPECT_EQ(Bridge.Trace(), "open write:512@10 write:512@10 write:6@10 close");
  TBuffer sent;
  for (const auto& c : Bridge.Calls) sent.insert(sent.end(), c.data.begin(), c.data.end());
  EXPECT_EQ(sent, b);

  Bridge.Calls.clear();
  ASSERT_TRUE(UsbTransact(0xF2, b, 0, 0, 1, &P.giUsbHandle));
  EXPECT_EQ(Bridge.Trace(), "open write:0@10 close");
}

TEST_F(UsbTransactTest, ReadsGoInChunksOf4096AfterTheBytesAlreadyRead) {
  TBuffer first(4096, 0x11);
  first[0] = 0xF0;
  Bridge.ReadAnswers << R{SI_SUCCESS, first} << R{SI_SUCCESS, TBuffer(904, 0x22)};
  TBuffer b = Frame({0xF0}, 10);
  ASSERT_TRUE(UsbTransact(0xF0, b, 5000, 1, 1, &P.giUsbHandle));
  EXPECT_EQ(Bridge.Trace(), "open write:1@100 read:4096@100 read:904@100 close");
  ASSERT_EQ(b.size(), 5000u);
  EXPECT_EQ(b[0], 0xF0);
  EXPECT_EQ(b[4095], 0x11);
  EXPECT_EQ(b[4096], 0x22);
  EXPECT_EQ(b[4999], 0x22);
}

TEST_F(UsbTransactTest, TheBufferGrowsToTheSixtyFourBytesOfTheRead) {
  TBuffer b{0xF6};
  ASSERT_TRUE(SendCommand(Comm(), 0xF6, b, 9, 1));
  EXPECT_EQ(b.size(), 64u);
  EXPECT_EQ(TBuffer(b.begin(), b.begin() + 9), SerialReply());
}

TEST_F(UsbTransactTest, TheBridgeNeverReportsMoreBytesThanAsked) {
  // A backend that claims more than the count: the layer clamps it.
  struct TBoasting : TFakeUsbBridge {
    SI_STATUS Read(SI_HANDLE, std::uint8_t* buffer, std::uint32_t count, std::uint32_t* n,
                   std::uint32_t) override {
      for (std::uint32_t i = 0; i < count; ++i) buffer[i] = 0xF6;
      *n = count + 100;
      return SI_SUCCESS;
    }
  } boasting;
  SI_HANDLE h = 0;
  ASSERT_EQ(SI_Open(0, &h), SI_SUCCESS);
  std::uint8_t buf[4];
  std::uint32_t n = 0;
  EXPECT_EQ(SI_Read(h, buf, 4, &n), SI_SUCCESS);
  EXPECT_EQ(n, 4u);
  int dummy = 0;
  EXPECT_EQ(SI_Read(h, buf, 4, &n, &dummy), SI_INVALID_PARAMETER);
  EXPECT_EQ(SI_Write(h, buf, 4, nullptr), SI_INVALID_PARAMETER);
}

}  // namespace
