#pragma once
// A main window talking to qk4820-sim over a pty, for one test.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "data/UDataCenter.h"
#include "forms/LiveTestDialog.h"
#include "forms/UMain.h"
#include "forms/uWaitForm.h"
#include "platform/EventPump.h"
#include "platform/IniFile.h"
#include "platform/SerialPort.h"
#include "platform/StringGrid.h"
#include "platform/Tick.h"
#include "comm/InstrumentLink.h"
#include "protocol/ReplyAssembler.h"
#include "support/SimProcess.h"
#include "support/TestServices.h"

// Moves the tick source forward by stepMs every 10 ms of real time while
// cond() holds, so that a long time-out passes at once.
class TTickPusher {
 public:
  TTickPusher(std::function<bool()> cond, std::uint32_t stepMs) : FCond(std::move(cond)), FStep(stepMs) {
    FTimer.setInterval(10);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      if (FCond()) TickSource::Advance(FStep);
    });
    FTimer.start();
  }
  ~TTickPusher() { FTimer.stop(); }

 private:
  std::function<bool()> FCond;
  std::uint32_t FStep;
  QTimer FTimer;
};

// Runs fn every 10 ms on the event loop, until it returns true or the object
// goes out of scope; e.g. to act on a modal dialog once it is shown.
class TWhenReady {
 public:
  explicit TWhenReady(std::function<bool()> fn) : FFn(std::move(fn)) {
    FTimer.setInterval(10);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      if (FFn()) {
        FTimer.stop();
        FDone = true;
      }
    });
    FTimer.start();
  }
  bool Done() const { return FDone; }

 private:
  std::function<bool()> FFn;
  QTimer FTimer;
  bool FDone = false;
};

// Pumps events until cond() holds or ms pass.
inline bool PumpUntil(const std::function<bool()>& cond, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > ms) return false;
    PumpOrSleep(10);
  }
  return true;
}

class MainRig : public ::testing::Test {
 protected:
  // The program's plain pauses (the view of a final live value, the pauses
  // of the blocking transaction) move the tick count instead of waiting.
  void SetUp() override { TickSource::SetInstantSleep(true); }
  void TearDown() override {
    HideWait();
    W.reset();
    Sim.reset();
    SetAppDir(QString());
    SetSerialPortFactory(nullptr);
    TickSource::Restore();
  }

  // Starts the simulator with args and a main window on it (COM3).
  void StartSim(const QStringList& args = {}) {
    Sim = StartSimOnPort(args, 3);
    ASSERT_TRUE(Sim->Started());
    MakeWindow();
  }

  // A main window whose COM3 leads nowhere.
  void StartWithoutInstrument() {
    SetAppDir(FDir.path());
    TIniFile ini(SettingsFileName());
    ini.WriteString(QStringLiteral("Ports"), QStringLiteral("COM3"), FDir.path() + "/no-such-tty");
    MakeWindow();
  }

  void MakeWindow() {
    W = std::make_unique<TFrmMain>();
    W->show();
  }

  // Clicks connect and checks that the instrument answered.
  void Connect() {
    W->btnUpdateList->click();
    ASSERT_TRUE(W->Params.gbConnected) << Msgs.Texts().join('|').toStdString();
    Msgs.Clear();
  }

  QStringList Log() const { return Sim ? Sim->LogLines() : QStringList(); }

  TRecordingMessages Msgs;
  std::unique_ptr<TSimProcess> Sim;
  std::unique_ptr<TFrmMain> W;
  QTemporaryDir FDir;
};

// Main window's boxes as (text, icon) pairs.
inline bool HasBox(const TRecordingMessages& m, const QString& text, TMsgIcon icon) {
  for (const auto& b : m.Boxes) {
    if (b.text == text && b.icon == icon) return true;
  }
  return false;
}
