// The serial port layer on QSerialPort, against qk4820-sim on a pty.
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "platform/EventPump.h"
#include "platform/MessageService.h"
#include "platform/SerialPort.h"
#include "support/SimProcess.h"

namespace {

class Serial : public ::testing::Test {
 protected:
  void Start(const QStringList& args = {}) {
    Sim = std::make_unique<TSimProcess>(args);
    ASSERT_TRUE(Sim->Started());
    Port = CreateSerialPort();
    const QString link = Sim->LinkPath();
    Port->SetDeviceResolver([link](const QString& name) {
      return name == QLatin1String("COM3") ? link : QStringLiteral("/nonexistent/") + name;
    });
    Port->SetPort(QStringLiteral("COM3"));
    Port->OnRxChar = [this](int count) {
      Announced += count;
      const TBuffer b = Port->Read(count);
      Received.insert(Received.end(), b.begin(), b.end());
    };
    Port->OnLineError = [this](const QString& text) { LineErrors << text; };
  }

  bool PumpUntil(const std::function<bool()>& cond, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
      if (t.elapsed() > ms) return false;
      PumpOrSleep(20);
    }
    return true;
  }

  std::unique_ptr<TSimProcess> Sim;
  std::unique_ptr<ISerialPort> Port;
  TBuffer Received;
  int Announced = 0;
  QStringList LineErrors;
};

TEST_F(Serial, WriteAndReceiveThroughTheEventLoop) {
  Start();
  Port->SetBaudRate(9600);
  Port->Open();
  ASSERT_TRUE(Port->IsOpen());
  const std::uint8_t f8 = 0xF8;
  Port->Write(&f8, 1);
  ASSERT_TRUE(PumpUntil([&] { return Received.size() >= 2; }));
  EXPECT_EQ(Received, (TBuffer{0xF8, 0x01}));
  EXPECT_EQ(Announced, 2);
  EXPECT_EQ(Port->InputCount(), 0);
  EXPECT_EQ(Sim->LogLines(), QStringList{QStringLiteral("F8")});
  Port->Close();
  EXPECT_FALSE(Port->IsOpen());
  Port->Close();  // closing a closed port does nothing
  EXPECT_TRUE(LineErrors.isEmpty());
}

TEST_F(Serial, OpeningAnOpenPortReopensIt) {
  Start();
  Port->Open();
  Port->Open();
  ASSERT_TRUE(Port->IsOpen());
  const std::uint8_t f0 = 0xF0;
  Port->Write(&f0, 1);
  ASSERT_TRUE(PumpUntil([&] { return Received.size() >= 2; }));
  EXPECT_EQ(Received, (TBuffer{0xF0, 0x03}));
}

TEST_F(Serial, MissingDeviceCannotBeOpened) {
  Start();
  Port->SetPort(QStringLiteral("COM9"));
  EXPECT_THROW(Port->Open(), EAppError);
  EXPECT_FALSE(Port->IsOpen());
  const std::uint8_t f8 = 0xF8;
  EXPECT_THROW(Port->Write(&f8, 1), EAppError);
  Port->Write(&f8, 0);  // nothing to write: no error
}

TEST_F(Serial, PortHeldByAnotherProgramCannotBeOpened) {
  Start();
  Port->Open();
  auto other = CreateSerialPort();
  const QString link = Sim->LinkPath();
  other->SetDeviceResolver([link](const QString&) { return link; });
  other->SetPort(QStringLiteral("COM3"));
  EXPECT_THROW(other->Open(), EAppError);
  EXPECT_TRUE(Port->IsOpen());
}

TEST_F(Serial, BytesThatArrivedWhileClosedAreDroppedAtTheNextOpen) {
  Start({"--baud", "0"});
  Port->Open();
  const std::uint8_t f8 = 0xF8;
  Port->OnRxChar = nullptr;  // nobody reads
  Port->Write(&f8, 1);
  ASSERT_TRUE(Sim->WaitForLogLines(1));
  // The reply has arrived and waits, unread, when the port closes.
  ASSERT_TRUE(PumpUntil([&] { return Port->InputCount() >= 2; })) << "the reply never arrived";
  Port->Close();
  Port->Open();
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 100) PumpOrSleep(20);
  EXPECT_EQ(Port->InputCount(), 0);
}

TEST_F(Serial, HungUpLineClosesThePortAndFailsLaterWrites) {
  Start({"--hangup", "F8:1"});
  Port->Open();
  const std::uint8_t f8 = 0xF8;
  Port->Write(&f8, 1);
  ASSERT_TRUE(PumpUntil([&] { return !LineErrors.isEmpty(); }));
  EXPECT_EQ(LineErrors.size(), 1);
  EXPECT_FALSE(Port->IsOpen());
  EXPECT_FALSE(Port->LineError().isEmpty());
  EXPECT_EQ(Received, TBuffer{0xF8});
  EXPECT_THROW(Port->Write(&f8, 1), EAppError);
  // The failure is reported once; the event loop is quiet again.
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 100) PumpOrSleep(20);
  EXPECT_EQ(LineErrors.size(), 1);
}

}  // namespace
