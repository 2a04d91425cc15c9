// The main window's serial link and its request-reply wait, on a scripted
// port that answers every write with prepared chunks.
#include <QElapsedTimer>

#include "main_fixture.h"

namespace {

// Answers each write with the next list of chunks, one chunk per 20 ms.
class TScriptedPort : public ISerialPort {
 public:
  void SetPort(const QString& name) override { Name = name; }
  QString Port() const override { return Name; }
  void SetBaudRate(int baud) override { Baud = baud; }
  void SetDataBits(int bits) override { DataBits = bits; }
  void SetParity(TParity p) override { Parity = p; }
  void SetStopBits(TStopBits s) override { StopBits = s; }
  void SetDeviceResolver(std::function<QString(const QString&)> r) override { Resolver = std::move(r); }
  void Open() override {
    ++Opens;
    if (FOpen) ++OpensWhileOpen;
    FOpen = true;
    Device = Resolver ? Resolver(Name) : Name;
  }
  void Close() override { FOpen = false; }
  bool IsOpen() const override { return FOpen; }
  void Write(const std::uint8_t* data, int count) override {
    Written.emplace_back(data, data + count);
    if (Replies.empty()) return;
    const std::vector<TBuffer> chunks = Replies.front();
    Replies.erase(Replies.begin());
    int delay = 20;
    for (const TBuffer& c : chunks) {
      QTimer::singleShot(delay, &FContext, [this, c] {
        FPending.insert(FPending.end(), c.begin(), c.end());
        ++Delivered;
        if (OnRxChar) OnRxChar(static_cast<int>(FPending.size()));
      });
      delay += 20;
    }
  }
  TBuffer Read(int count) override {
    const int n = std::min<int>(count, static_cast<int>(FPending.size()));
    TBuffer out(FPending.begin(), FPending.begin() + n);
    FPending.erase(FPending.begin(), FPending.begin() + n);
    return out;
  }
  int InputCount() const override { return static_cast<int>(FPending.size()); }
  QString LineError() const override { return {}; }

  QString Name, Device;
  int Baud = 0, DataBits = 0, Opens = 0, OpensWhileOpen = 0, Delivered = 0;
  TParity Parity = TParity::Odd;
  TStopBits StopBits = TStopBits::Two;
  std::function<QString(const QString&)> Resolver;
  std::vector<TBuffer> Written;
  std::vector<std::vector<TBuffer>> Replies;

 private:
  bool FOpen = false;
  TBuffer FPending;
  QObject FContext;  // pending deliveries end with the port
};

class MainLink : public MainRig {
 protected:
  void SetUp() override {
    SetSerialPortFactory([this](QObject*) {
      auto p = std::make_unique<TScriptedPort>();
      Port = p.get();
      return p;
    });
    StartWithoutInstrument();
    ASSERT_NE(Port, nullptr);
  }
  TScriptedPort* Port = nullptr;
};

TEST_F(MainLink, OpenUsesComNumberAnd9600BaudWhateverTheBaudSetting) {
  W->Params.giCommPort = 3;
  W->Params.giBaudRate = 12;  // 115200
  QString err = QStringLiteral("untouched");
  ASSERT_TRUE(W->OpenPort(err));
  EXPECT_EQ(err, QStringLiteral("untouched"));
  EXPECT_EQ(Port->Name, QStringLiteral("COM3"));
  EXPECT_EQ(Port->Baud, 9600);
  EXPECT_EQ(Port->DataBits, 8);
  EXPECT_EQ(Port->Parity, TParity::None);
  EXPECT_EQ(Port->StopBits, TStopBits::One);
  // COM3 resolves through [Ports] of the settings file.
  EXPECT_EQ(Port->Device, FDir.path() + "/no-such-tty");
  // Opening an open port closes it first.
  ASSERT_TRUE(W->OpenPort(err));
  EXPECT_EQ(Port->Opens, 2);
  EXPECT_EQ(Port->OpensWhileOpen, 0);
  W->ClosePort();
  EXPECT_FALSE(Port->IsOpen());
  W->ClosePort();
}

TEST_F(MainLink, RecordInThreeChunksCompletesAfterTheThird) {
  TBuffer rec(46, 0);
  rec[0] = 0xF1;
  rec[7] = 1;  // device number "1"
  for (int i = 8; i < 31; ++i) rec[i] = 62;  // no character
  rec[32] = 1;
  rec[33] = 3;
  Port->Replies.push_back({TBuffer(rec.begin(), rec.begin() + 10), TBuffer(rec.begin() + 10, rec.begin() + 30),
                           TBuffer(rec.begin() + 30, rec.end())});
  QString err;
  ASSERT_TRUE(W->OpenPort(err));
  ASSERT_TRUE(W->Link().Exchange({0xF1, 0x00}, kReplyRecord, 2000));
  EXPECT_EQ(Port->Delivered, 3);
  EXPECT_EQ(Port->Written.back(), (TBuffer{0xF1, 0x00}));
  EXPECT_EQ(W->Link().Assembler().RecvF1->DeviceNo, "1");
  EXPECT_EQ(W->Link().Assembler().RecvF1->CurrentStep, "200A");
}

TEST_F(MainLink, SendBufferWritesOnlyTheFirstCountBytes) {
  QString err;
  ASSERT_TRUE(W->OpenPort(err));
  W->Link().SendBuffer({0xFE, 0x02, 0x33}, 2);
  W->Link().SendBuffer({0xFC}, 0);
  ASSERT_EQ(Port->Written.size(), 1u);
  EXPECT_EQ(Port->Written[0], (TBuffer{0xFE, 0x02}));
}

TEST_F(MainLink, WaitWithoutReplyEndsAfterItsTimeOutAlsoAcrossTheTickWrap) {
  QString err;
  ASSERT_TRUE(W->OpenPort(err));
  for (std::uint32_t start : {0x00001000u, 0xFFFFFF00u}) {
    TickSource::SetNow(start);
    W->Link().Expect(kReplyIdentify);
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(W->Link().WaitReply(500));
    EXPECT_GE(t.elapsed(), 480);
    EXPECT_EQ(W->Link().Assembler().Status, kStatusWaiting);
  }
}

TEST_F(MainLink, ConnectSucceedsOnTheScriptedReply) {
  Port->Replies.push_back({{0xF8, 0x02}});
  W->Params.gbConnected = false;
  W->btnUpdateList->click();
  EXPECT_TRUE(W->Params.gbConnected);
  EXPECT_EQ(W->Link().Assembler().DeviceType, "mrtk");
  EXPECT_FALSE(Port->IsOpen());
}

}  // namespace
