// The blocking command transaction on the serial path, against qk4820-sim
// on a pseudo-terminal.
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "comm/UCommUnit.h"
#include "comm/WbfCommUnit.h"
#include "data/UDataCenter.h"
#include "platform/Tick.h"
#include "platform/IniFile.h"
#include "support/SimProcess.h"

namespace {

// The working parameters the transaction is given its channel from.
TWorkingParams P;
TCommSettings Comm() { return TCommSettings{P.giCommStyle, P.giCommPort, P.giBaudRate, &P.giUsbHandle}; }

QString Hex(const TBuffer& b, std::size_t from, std::size_t n) {
  QStringList parts;
  for (std::size_t i = from; i < from + n && i < b.size(); ++i) parts << QString::asprintf("%02X", b[i]);
  return parts.join(' ');
}

TBuffer Frame(std::initializer_list<std::uint8_t> bytes, std::size_t size = 200) {
  TBuffer b(size, 0);
  std::copy(bytes.begin(), bytes.end(), b.begin());
  return b;
}

class SerialTransact : public ::testing::Test {
 protected:
  void SetUp() override {
    // The pauses between and inside attempts pass at once.
    TickSource::SetInstantSleep(true);
    P = TWorkingParams{};
    P.giCommStyle = 1;
    giCommError = -1;
  }
  void TearDown() override {
    SetAppDir(QString());
    TickSource::Restore();
  }

  // Starts the simulator and maps COM3 to it.
  std::unique_ptr<TSimProcess> StartSim(const QStringList& args = {}) {
    P.giCommPort = 3;
    return StartSimOnPort(args, 3);
  }
};

TEST_F(SerialTransact, ReadsTheSerialNumber) {
  auto sim = StartSim();
  TBuffer b = Frame({0xF6});
  ASSERT_TRUE(SendCommand(Comm(), 0xF6, b, 9, 1));
  EXPECT_EQ(giCommError, 0);
  EXPECT_EQ(LastTransactAttempts(), 1);
  EXPECT_EQ(Hex(b, 0, 9), "F6 01 23 45 67 89 AB CD EF");
  EXPECT_EQ(sim->LogLines(), QStringList{"F6"});
}

TEST_F(SerialTransact, WritesTheSerialNumberAndALaterReadReturnsIt) {
  auto sim = StartSim();
  TBuffer w = Frame({0xF7, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99});
  ASSERT_TRUE(SendCommand(Comm(), 0xF7, w, 0, 9));
  EXPECT_EQ(giCommError, 0);
  ASSERT_TRUE(sim->WaitForLogLines(1));
  // Exactly the 9 bytes of the frame: byte 9 of the buffer is not sent.
  EXPECT_EQ(sim->LogLines(), QStringList{"F7 11 22 33 44 55 66 77 88"});

  TBuffer r = Frame({0xF6});
  ASSERT_TRUE(SendCommand(Comm(), 0xF6, r, 9, 1));
  EXPECT_EQ(Hex(r, 0, 9), "F6 11 22 33 44 55 66 77 88");
}

struct TFailingReply {
  const char* name;
  QStringList simArgs;
};
void PrintTo(const TFailingReply& f, std::ostream* os) { *os << f.name; }

class SerialReplyFaults : public SerialTransact, public ::testing::WithParamInterface<TFailingReply> {};

TEST_P(SerialReplyFaults, FailAfterFourAttemptsWithCode9) {
  auto sim = StartSim(GetParam().simArgs);
  TBuffer b = Frame({0xF6});
  EXPECT_FALSE(SendCommand(Comm(), 0xF6, b, 9, 1));
  EXPECT_EQ(giCommError, kCommReadFailed);
  EXPECT_EQ(LastTransactAttempts(), 4);
  ASSERT_TRUE(sim->WaitForLogLines(4));
  EXPECT_EQ(sim->LogLines(), QStringList({"F6", "F6", "F6", "F6"}));
}

INSTANTIATE_TEST_SUITE_P(Replies, SerialReplyFaults,
                         ::testing::Values(TFailingReply{"EightByteReply", {"--truncate", "F6:8"}},
                                           TFailingReply{"NoReply", {"--mute", "F6"}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialTransact, ALostReplyIsRetriedAndTheSecondAttemptSucceeds) {
  auto sim = StartSim({"--mute", "F6@1"});
  TBuffer b = Frame({0xF6});
  ASSERT_TRUE(SendCommand(Comm(), 0xF6, b, 9, 1));
  EXPECT_EQ(giCommError, 0);
  EXPECT_EQ(LastTransactAttempts(), 2);
  EXPECT_EQ(Hex(b, 0, 9), "F6 01 23 45 67 89 AB CD EF");
  EXPECT_EQ(sim->LogLines(), QStringList({"F6", "F6"}));
}

TEST_F(SerialTransact, APortThatCannotBeOpenedFailsAfterFourAttemptsWithCode2) {
  QTemporaryDir dir;
  SetAppDir(dir.path());
  TIniFile(SettingsFileName()).WriteString("Ports", "COM3", dir.path() + "/no-such-device");
  P.giCommPort = 3;
  TBuffer b = Frame({0xF6});
  // Measured on the program's tick count, which its pauses move.
  const std::uint32_t start = GetTickCount();
  EXPECT_FALSE(SendCommand(Comm(), 0xF6, b, 9, 1));
  const std::uint32_t ms = TicksSince(start);
  EXPECT_EQ(giCommError, kCommOpenFailed);
  EXPECT_EQ(LastTransactAttempts(), 4);
  // Four closes of 100 ms and three pauses of 100 ms between the attempts;
  // only the lower bound is certain on a loaded machine (bench_comm prints
  // the figure).
  EXPECT_GE(ms, 690);
  EXPECT_EQ(Hex(b, 0, 1), "F6");  // the buffer is untouched
}

TEST_F(SerialTransact, APortInUseCannotBeOpened) {
  auto sim = StartSim();
  TWBFCOM holder;
  ASSERT_TRUE(holder.Open(3, 9600, 0));
  TBuffer b = Frame({0xF6});
  EXPECT_FALSE(SendCommand(Comm(), 0xF6, b, 9, 1));
  EXPECT_EQ(giCommError, kCommOpenFailed);
  holder.Close();
  EXPECT_TRUE(SendCommand(Comm(), 0xF6, b, 9, 1));
}

TEST_F(SerialTransact, ACommandOutsideTheClassesSucceedsWithoutTransfer) {
  auto sim = StartSim();
  TBuffer b = Frame({0xEF, 0x01});
  giCommError = 9;
  EXPECT_TRUE(SendCommand(Comm(), 0xEF, b, 9, 2));
  EXPECT_EQ(giCommError, 0);
  EXPECT_EQ(LastTransactAttempts(), 1);
  EXPECT_EQ(Hex(b, 0, 2), "EF 01");
  // A later exchange shows that nothing reached the instrument before it.
  TBuffer r = Frame({0xF6});
  ASSERT_TRUE(SendCommand(Comm(), 0xF6, r, 9, 1));
  EXPECT_EQ(sim->LogLines(), QStringList{"F6"});
}

TEST(CommandClasses, FollowTheCommandTable) {
  const QString writeOnly = "F2 F4 F7 F9";
  const QString writeRead = "F0 F1 F3 F5 F6 F8 FA";
  for (int c = 0; c <= 0xFF; ++c) {
    const QString code = QString::asprintf("%02X", c);
    const TCommandClass expected = writeOnly.contains(code) && c >= 0xF0   ? TCommandClass::WriteOnly
                                   : writeRead.contains(code) && c >= 0xF0 ? TCommandClass::WriteRead
                                                                           : TCommandClass::NoTransfer;
    EXPECT_EQ(CommandClassOf(static_cast<std::uint8_t>(c)), expected) << code.toStdString();
  }
}

// Port numbers are clamped to 1..16 (after taking the low byte) and go
// through the same [Ports] mapping as the main link.
struct TPortCase {
  std::int32_t commPort;
  const char* opened;
};
void PrintTo(const TPortCase& c, std::ostream* os) { *os << c.commPort << " opens " << c.opened; }

class SerialPortNumbers : public SerialTransact, public ::testing::WithParamInterface<TPortCase> {};

TEST_P(SerialPortNumbers, OpenTheClampedPort) {
  auto sim = StartSim();
  // Only the expected port leads to the simulator.
  TIniFile ini(SettingsFileName());
  ini.WriteString("Ports", "COM3", sim->Dir() + "/absent");
  ini.WriteString("Ports", GetParam().opened, sim->LinkPath());
  P.giCommPort = GetParam().commPort;
  TBuffer b = Frame({0xF6});
  EXPECT_TRUE(SendCommand(Comm(), 0xF6, b, 9, 1)) << "giCommPort " << GetParam().commPort;
  EXPECT_EQ(TWBFCOM::DevicePath(static_cast<std::uint8_t>(GetParam().commPort & 0xFF)), sim->LinkPath());
}

INSTANTIATE_TEST_SUITE_P(Ports, SerialPortNumbers,
                         ::testing::Values(TPortCase{0, "COM1"}, TPortCase{1, "COM1"},
                                           TPortCase{16, "COM16"}, TPortCase{20, "COM16"},
                                           TPortCase{255, "COM16"}, TPortCase{256 + 5, "COM5"}),
                         [](const auto& info) { return "Port" + std::to_string(info.param.commPort); });

TEST_F(SerialTransact, AFrameLongerThanTheBufferIsRefusedWithoutTransfer) {
  auto sim = StartSim();
  TBuffer b = Frame({0xF7, 1, 2}, 3);
  EXPECT_FALSE(SendCommand(Comm(), 0xF7, b, 0, 9));
  EXPECT_EQ(giCommError, kCommWriteFailed);
  EXPECT_EQ(LastTransactAttempts(), 0);
  TBuffer r = Frame({0xF6});
  ASSERT_TRUE(SendCommand(Comm(), 0xF6, r, 9, 1));
  EXPECT_EQ(sim->LogLines(), QStringList{"F6"});
}

TEST_F(SerialTransact, ABufferTooSmallForTheReplyGrows) {
  auto sim = StartSim();
  TBuffer b{0xF6};
  ASSERT_TRUE(SendCommand(Comm(), 0xF6, b, 9, 1));
  ASSERT_GE(b.size(), 9u);
  EXPECT_EQ(Hex(b, 0, 9), "F6 01 23 45 67 89 AB CD EF");
}

}  // namespace
