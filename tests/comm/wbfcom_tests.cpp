// The serial channel of the blocking transaction on a pseudo-terminal of
// the test's own: line settings, exclusive use, bounded reads and writes.
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "comm/WbfCommUnit.h"
#include "data/UDataCenter.h"
#include "platform/IniFile.h"
#include "protocol/uProtocol.h"

namespace {

// The kernel's terminal settings with free speeds, to read back the rate.
struct TTestTermios2 {
  tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed, c_ospeed;
};
const unsigned long kTestGetTermios2 = _IOR('T', 0x2A, TTestTermios2);

// A pseudo-terminal whose slave is mapped to COM5; the test plays the
// instrument on the master side.
class TPtyPort : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256] = {};
    ASSERT_EQ(openpty(&FMaster, &FSlave, name, nullptr, nullptr), 0);
    FName = QString::fromLocal8Bit(name);
    fcntl(FMaster, F_SETFL, fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    SetAppDir(FDir.path());
    TIniFile(SettingsFileName()).WriteString("Ports", "COM5", FName);
  }
  void TearDown() override {
    if (FMaster >= 0) ::close(FMaster);
    if (FSlave >= 0) ::close(FSlave);
    SetAppDir(QString());
  }

  void Send(const TBuffer& bytes) {
    ASSERT_EQ(::write(FMaster, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What the program sent, collected for up to ms.
  TBuffer Received(std::size_t want, int ms = 1000) {
    TBuffer out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < want && std::chrono::steady_clock::now() < end) {
      pollfd p{FMaster, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) {
        std::uint8_t buf[256];
        const ssize_t n = ::read(FMaster, buf, sizeof buf);
        if (n > 0) out.insert(out.end(), buf, buf + n);
      }
    }
    return out;
  }
  // Waits until n bytes sent from the master side wait in the slave's input
  // queue (the pty hands them over asynchronously); the slave must be raw.
  bool ArrivedAtSlave(int n, int ms = 2000) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      int queued = 0;
      if (ioctl(FSlave, TIOCINQ, &queued) == 0 && queued >= n) return true;
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  termios Line() const {
    termios t{};
    tcgetattr(FSlave, &t);
    return t;
  }

  QTemporaryDir FDir;
  int FMaster = -1;
  int FSlave = -1;
  QString FName;
};

TEST(WbfcomReadAllowance, CountTimesTwentyOverKiloBaudRoundedHalfToEvenPlus100) {
  struct {
    std::int32_t count, baud;
    std::uint32_t ms;
  } const cases[] = {
      {9, 9600, 119},   // 18.75 -> 19
      {1, 9600, 102},   // 2.08 -> 2
      {9, 300, 700},    // 600
      {1, 256000, 110}, // 0.08 -> 0 -> 10
      {0, 9600, 110},   // 0 -> 10
      {1, 8000, 102},   // 2.5 -> 2 (even)
      {3, 8000, 108},   // 7.5 -> 8 (even)
      {5, 8000, 112},   // 12.5 -> 12
      {9, 43000, 104},  // 4.19 -> 4
  };
  for (const auto& c : cases)
    EXPECT_EQ(TWBFCOM::ReadAllowance(c.count, c.baud), c.ms) << c.count << " bytes at " << c.baud;
}

class WbfcomRates : public TPtyPort, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(WbfcomRates, EveryRateOfTheListIsSetOnTheLine) {
  TWBFCOM com;
  ASSERT_TRUE(com.Open(5, GetParam(), TWBFCOM::kParityNone));
  EXPECT_EQ(com.BaudRate, GetParam());
  TTestTermios2 t{};
  ASSERT_EQ(ioctl(FSlave, kTestGetTermios2, &t), 0);
  EXPECT_EQ(t.c_ospeed, static_cast<speed_t>(GetParam()));
  EXPECT_EQ(t.c_ispeed, static_cast<speed_t>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(List, WbfcomRates,
                         ::testing::Values(300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 43000,
                                           56000, 57600, 115200, 256000));

TEST_F(TPtyPort, ANonPositiveRateOrAnUnknownParityFailsTheOpen) {
  TWBFCOM com;
  EXPECT_FALSE(com.Open(5, 0, TWBFCOM::kParityNone));
  EXPECT_FALSE(com.Open(5, -9600, TWBFCOM::kParityNone));
  EXPECT_FALSE(com.Open(5, 9600, 5));
  EXPECT_FALSE(com.IsOpen());
  EXPECT_TRUE(com.Open(5, 9600, TWBFCOM::kParityNone));
}

struct TParityCase {
  std::uint8_t parity;
  tcflag_t bits;  // of PARODD | CMSPAR
};
void PrintTo(const TParityCase& c, std::ostream* os) { *os << "parity " << int(c.parity); }

class WbfcomParity : public TPtyPort, public ::testing::WithParamInterface<TParityCase> {};

TEST_P(WbfcomParity, RawEightBitsOneStopBitAndTheParity) {
  TWBFCOM com;
  ASSERT_TRUE(com.Open(5, 9600, GetParam().parity));
  const termios t = Line();
  // The pseudo-terminal driver always clears PARENB (a pty has no line to
  // frame); the bits that choose the parity kind stay as set.
  EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), GetParam().bits);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
  // Binary line: no line editing, echo or translation, and the XON/XOFF
  // bytes are data.
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

INSTANTIATE_TEST_SUITE_P(Codes, WbfcomParity,
                         ::testing::Values(TParityCase{0, 0}, TParityCase{1, PARODD},
                                           TParityCase{2, 0}, TParityCase{3, PARODD | CMSPAR},
                                           TParityCase{4, CMSPAR}));

TEST_F(TPtyPort, HardwareFlowControlStaysAsTheDriverHadIt) {
  termios t = Line();
  t.c_cflag |= CRTSCTS;
  ASSERT_EQ(tcsetattr(FSlave, TCSANOW, &t), 0);
  TWBFCOM com;
  ASSERT_TRUE(com.Open(5, 9600, 0));
  EXPECT_NE(Line().c_cflag & CRTSCTS, 0u);
}

TEST_F(TPtyPort, TheChannelHasThePortToItself) {
  TWBFCOM first;
  TWBFCOM second;
  ASSERT_TRUE(first.Open(5, 9600, 0));
  EXPECT_FALSE(second.Open(5, 9600, 0));
  first.Close();
  EXPECT_TRUE(second.Open(5, 9600, 0));
}

TEST_F(TPtyPort, ADeviceThatIsNoTerminalOrMissingFailsTheOpen) {
  const QString plain = FDir.path() + "/plain-file";
  QFile f(plain);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  TIniFile ini(SettingsFileName());
  ini.WriteString("Ports", "COM6", plain);
  ini.WriteString("Ports", "COM7", FDir.path() + "/missing");
  TWBFCOM com;
  EXPECT_FALSE(com.Open(6, 9600, 0));
  EXPECT_FALSE(com.Open(7, 9600, 0));
  EXPECT_FALSE(com.IsOpen());
}

TEST_F(TPtyPort, WriteSendsAllBytes) {
  TWBFCOM com;
  ASSERT_TRUE(com.Open(5, 9600, 0));
  const TBuffer frame{0xF7, 0x11, 0x13, 0x0D, 0x0A, 0x00, 0xFF, 0x7F, 0x03};
  ASSERT_TRUE(com.Write(frame.data(), 9));
  EXPECT_EQ(Received(9), frame);
  EXPECT_TRUE(com.Write(frame.data(), 0));
}

TEST_F(TPtyPort, AWriteThePortDoesNotTakeEndsWithFalse) {
  TWBFCOM com;
  ASSERT_TRUE(com.Open(5, 9600, 0));
  // Nobody reads the master: fill the line until it takes no more.
  fcntl(FSlave, F_SETFL, fcntl(FSlave, F_GETFL) | O_NONBLOCK);
  std::uint8_t junk[1024] = {};
  while (::write(FSlave, junk, sizeof junk) > 0) {
  }
  const TBuffer frame(10, 0x55);
  EXPECT_FALSE(com.Write(frame.data(), 10));
}

TEST_F(TPtyPort, ReadCollectsBytesArrivingInPieces) {
  TWBFCOM com;
  // 300 baud: 700 ms for the 9 bytes, ample room for the pause between pieces
  ASSERT_TRUE(com.Open(5, 300, 0));
  std::thread instrument([this] {
    Send({0xF6, 0x01, 0x23, 0x45});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Send({0x67, 0x89, 0xAB, 0xCD, 0xEF});
  });
  TBuffer b(9, 0);
  const bool ok = com.Read(b.data(), 9);
  instrument.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(b, (TBuffer{0xF6, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
}

TEST_F(TPtyPort, AnIncompleteReplyFailsAndSurplusBytesAreDropped) {
  TWBFCOM com;
  ASSERT_TRUE(com.Open(5, 9600, 0));
  TBuffer b(16, 0);
  Send(TBuffer(8, 0x42));
  EXPECT_FALSE(com.Read(b.data(), 9));

  Send(TBuffer(12, 0x24));
  EXPECT_TRUE(com.Read(b.data(), 9));
  EXPECT_FALSE(com.Read(b.data(), 1));  // the 3 extra bytes are gone

  EXPECT_FALSE(com.Read(b.data(), 0));
}

TEST_F(TPtyPort, BytesFromBeforeTheOpenAreDropped) {
  termios raw = Line();
  cfmakeraw(&raw);
  ASSERT_EQ(tcsetattr(FSlave, TCSANOW, &raw), 0);
  Send({0xF6, 0x00, 0x00});
  ASSERT_TRUE(ArrivedAtSlave(3));
  TWBFCOM com;
  ASSERT_TRUE(com.Open(5, 9600, 0));
  TBuffer b(3, 0);
  EXPECT_FALSE(com.Read(b.data(), 3));
}

TEST_F(TPtyPort, PurgeDropsWaitingBytes) {
  TWBFCOM com;
  ASSERT_TRUE(com.Open(5, 9600, 0));
  Send({1, 2, 3});
  ASSERT_TRUE(ArrivedAtSlave(3));
  com.Purge();
  TBuffer b(3, 0);
  EXPECT_FALSE(com.Read(b.data(), 3));
}

TEST_F(TPtyPort, AHangUpEndsTheRead) {
  TWBFCOM com;
  ASSERT_TRUE(com.Open(5, 9600, 0));
  Send({0xF6, 0x01});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ::close(FMaster);
  FMaster = -1;
  TBuffer b(9, 0);
  EXPECT_FALSE(com.Read(b.data(), 9));
  EXPECT_FALSE(com.Write(b.data(), 1));
}

}  // namespace
