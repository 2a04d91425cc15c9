// Durations of the blocking command transaction on the serial path against
// qk4820-sim, with the figure the pauses and read allowances lead to.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "comm/UCommUnit.h"
#include "data/UDataCenter.h"
#include "platform/IniFile.h"
#include "support/SimProcess.h"

namespace {

void Measure(const char* what, int expectedMs, const std::function<bool()>& run) {
  std::vector<qint64> ms;
  bool ok = true;
  for (int i = 0; i < 3; ++i) {
    QElapsedTimer t;
    t.start();
    ok = run() && ok;
    ms.push_back(t.elapsed());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%-44s expected ~%5d ms   min %5lld  median %5lld  max %5lld ms   result %s  attempts %d  code %d\n",
              what, expectedMs, static_cast<long long>(ms.front()), static_cast<long long>(ms[1]),
              static_cast<long long>(ms.back()), ok ? "true" : "false", LastTransactAttempts(),
              giCommError);
}

TBuffer Frame(std::uint8_t command) {
  TBuffer b(200, 0);
  b[0] = command;
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  static const TCommSettings comm{1, 3, 6, nullptr};

  {
    TSimProcess sim;
    if (!sim.Started()) {
      std::fprintf(stderr, "qk4820-sim did not start\n");
      return 1;
    }
    UseSimulatorPort(sim.Dir(), sim.LinkPath(), 3);
    // write, 100 ms (the 9 reply bytes arrive meanwhile), read, close, 100 ms
    Measure("F6 read, 9600 baud", 200, [] {
      TBuffer b = Frame(0xF6);
      return SendCommand(comm, 0xF6, b, 9, 1);
    });
    // write, close, 100 ms
    Measure("F7 write, 9600 baud", 100, [] {
      TBuffer b = Frame(0xF7);
      return SendCommand(comm, 0xF7, b, 0, 9);
    });
    SetAppDir(QString());
  }
  {
    TSimProcess sim({"--truncate", "F6:8"});
    UseSimulatorPort(sim.Dir(), sim.LinkPath(), 3);
    // 4 x (100 + 119 + 100) + 3 x 100
    Measure("F6 with an 8-byte reply (four attempts)", 1576, [] {
      TBuffer b = Frame(0xF6);
      return SendCommand(comm, 0xF6, b, 9, 1);
    });
    SetAppDir(QString());
  }
  {
    QTemporaryDir dir;
    SetAppDir(dir.path());
    TIniFile(SettingsFileName()).WriteString("Ports", "COM3", dir.path() + "/absent");
    // 4 x 100 after closing + 3 x 100 before the next attempt
    Measure("port that cannot be opened (four attempts)", 700, [] {
      TBuffer b = Frame(0xF6);
      return SendCommand(comm, 0xF6, b, 9, 1);
    });
    SetAppDir(QString());
  }
  return 0;
}
