#include "support/SimProcess.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include "data/UDataCenter.h"
#include "platform/EventPump.h"
#include "platform/IniFile.h"


TSimProcess::TSimProcess(const QStringList& extraArgs) {
  FProc = std::make_unique<QProcess>();
  FProc->setProcessChannelMode(QProcess::MergedChannels);
  QStringList args{"--link", LinkPath(), "--log", LogPath()};
  args << extraArgs;
  FProc->start(QStringLiteral(QK4820_SIM_PATH), args);
  if (!FProc->waitForStarted(5000)) return;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 5000) {
    if (QFileInfo::exists(LinkPath())) {
      FStarted = true;
      return;
    }
    if (FProc->state() != QProcess::Running) return;
    QThread::msleep(5);
  }
}

TSimProcess::~TSimProcess() { Stop(); }

QStringList TSimProcess::LogLines() const {
  QFile f(LogPath());
  if (!f.open(QIODevice::ReadOnly)) return {};
  QStringList out;
  for (const QByteArray& line : f.readAll().split('\n')) {
    const QString s = QString::fromLatin1(line).trimmed();
    if (!s.isEmpty()) out << s;
  }
  return out;
}

bool TSimProcess::WaitForLogLines(int n, int ms) const {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    if (LogLines().size() >= n) return true;
    PumpOrSleep(5);
  }
  return LogLines().size() >= n;
}

void TSimProcess::ReleaseLiveFrame() {
  if (FProc && FProc->state() == QProcess::Running) ::kill(static_cast<pid_t>(FProc->processId()), SIGUSR1);
}

void TSimProcess::Stop() {
  if (!FProc || FProc->state() == QProcess::NotRunning) return;
  FProc->terminate();
  if (!FProc->waitForFinished(3000)) {
    FProc->kill();
    FProc->waitForFinished(3000);
  }
}

QString TSimProcess::Output() const { return FProc ? QString::fromLocal8Bit(FProc->readAll()) : QString(); }

void UseSimulatorPort(const QString& dir, const QString& linkPath, int port) {
  SetAppDir(dir);
  TIniFile ini(SettingsFileName());
  ini.WriteString(QStringLiteral("Ports"), QStringLiteral("COM%1").arg(port), linkPath);
  ini.WriteInteger(QStringLiteral("Communication"), QStringLiteral("giCommPort"), port);
}

std::unique_ptr<TSimProcess> StartSimOnPort(const QStringList& args, int port) {
  auto sim = std::make_unique<TSimProcess>(args);
  EXPECT_TRUE(sim->Started()) << sim->Output().toStdString();
  if (sim->Started()) UseSimulatorPort(sim->Dir(), sim->LinkPath(), port);
  return sim;
}
