// qk4820-sim as a process on a real pseudo-terminal.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include "support/SimProcess.h"

namespace {


bool OpenPort(QSerialPort& port, const QString& path) {
  port.setPortName(path);
  if (!port.open(QIODevice::ReadWrite)) return false;
  port.setBaudRate(9600);
  port.setDataBits(QSerialPort::Data8);
  port.setParity(QSerialPort::NoParity);
  port.setStopBits(QSerialPort::OneStop);
  port.setFlowControl(QSerialPort::NoFlowControl);
  return true;
}

// Writes the frame and reads until `want` bytes have arrived or ms pass.
QByteArray Exchange(QSerialPort& port, const QByteArray& frame, int want, int ms = 3000) {
  port.write(frame);
  port.waitForBytesWritten(1000);
  QByteArray got;
  QElapsedTimer t;
  t.start();
  while (got.size() < want && t.elapsed() < ms) {
    if (port.bytesAvailable() > 0 || port.waitForReadyRead(50)) got += port.readAll();
    if (port.error() != QSerialPort::NoError && port.error() != QSerialPort::TimeoutError) break;
  }
  return got;
}

bool WaitUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QThread::msleep(10);
  }
  return true;
}

TEST(SimPty, AnswersIdentificationAndLogsTheFrame) {
  TSimProcess sim;
  ASSERT_TRUE(sim.Started()) << sim.Output().toStdString();
  QSerialPort port;
  ASSERT_TRUE(OpenPort(port, sim.LinkPath())) << port.errorString().toStdString();
  EXPECT_EQ(Exchange(port, QByteArray("\xF8", 1), 2), QByteArray("\xF8\x01", 2));
  ASSERT_TRUE(sim.WaitForLogLines(1));
  EXPECT_EQ(sim.LogLines(), QStringList{"F8"});
}

TEST(SimPty, ThePortCanBeClosedAndOpenedForEveryOperation) {
  TSimProcess sim({"--records", "2"});
  ASSERT_TRUE(sim.Started());
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    QSerialPort port;
    ASSERT_TRUE(OpenPort(port, sim.LinkPath())) << port.errorString().toStdString();
    EXPECT_EQ(Exchange(port, QByteArray("\xF0", 1), 2), QByteArray("\xF0\x02", 2));
    const QByteArray record = Exchange(port, QByteArray("\xF1\x01", 2), 46);
    ASSERT_EQ(record.size(), 46);
    EXPECT_EQ(quint8(record[0]), 0xF1);
    port.close();
  }
  ASSERT_TRUE(sim.WaitForLogLines(6));
  EXPECT_EQ(sim.LogLines(), (QStringList{"F0", "F1 01", "F0", "F1 01", "F0", "F1 01"}));
}

TEST(SimPty, LiveTestStreamsFramesUntilStopped) {
  TSimProcess sim({"--interval", "100"});
  ASSERT_TRUE(sim.Started());
  QSerialPort port;
  ASSERT_TRUE(OpenPort(port, sim.LinkPath()));
  const QByteArray frames = Exchange(port, QByteArray("\xF4\x0A\x00\x03", 4), 80);
  ASSERT_EQ(frames.size(), 80);
  EXPECT_EQ(quint8(frames[0]), 0xFA);
  EXPECT_EQ(quint8(frames[39]), 0x88);
  EXPECT_EQ(quint8(frames[78]), 2);
  // Everything up to the acknowledgement: possibly a frame in flight, then FC.
  QByteArray rest = Exchange(port, QByteArray("\xFC", 1), 1);
  for (int i = 0; i < 20 && (rest.isEmpty() || quint8(rest.back()) != 0xFC); ++i) {
    if (port.waitForReadyRead(100)) rest += port.readAll();
  }
  ASSERT_FALSE(rest.isEmpty());
  EXPECT_EQ(quint8(rest.back()), 0xFC);
  EXPECT_EQ(rest.size() % 40, 1);
  // No frames after the acknowledgement.
  EXPECT_FALSE(port.waitForReadyRead(400));
}

TEST(SimPty, TraceRecordsReceivedFramesAndRepliesWritten) {
  QTemporaryDir dir;
  const QString trace = dir.path() + "/trace.txt";
  TSimProcess sim({"--trace", trace});
  ASSERT_TRUE(sim.Started());
  QSerialPort port;
  ASSERT_TRUE(OpenPort(port, sim.LinkPath()));
  ASSERT_EQ(Exchange(port, QByteArray("\xF3", 1), 3).size(), 3);
  QStringList lines;
  ASSERT_TRUE(WaitUntil([&] {
    QFile f(trace);
    if (!f.open(QIODevice::ReadOnly)) return false;
    lines = QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts);
    return lines.size() >= 2;
  }, 3000));
  const QStringList rx = lines[0].split(' ');
  const QStringList tx = lines[1].split(' ');
  ASSERT_EQ(rx.size(), 3);
  ASSERT_EQ(tx.size(), 2);
  EXPECT_EQ(rx[0], "rx");
  EXPECT_EQ(rx[2], "F3");
  EXPECT_EQ(tx[0], "tx");
  // 3 bytes at 9600 baud take 3.1 ms on the line.
  EXPECT_GE(tx[1].toULongLong() - rx[1].toULongLong(), 3000u);
}

// Reads utime + stime of a process, in clock ticks.
long CpuTicks(qint64 pid) {
  QFile f(QString("/proc/%1/stat").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return -1;
  const QString stat = QString::fromLatin1(f.readAll());
  const QStringList fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
  return fields.size() > 12 ? fields[11].toLong() + fields[12].toLong() : -1;
}

class SimProcessFixture : public ::testing::Test {
 protected:
  void Start(const QStringList& extra) {
    Link = Dir.path() + "/ttyQK4820";
    Proc.setProcessChannelMode(QProcess::MergedChannels);
    Proc.start(QStringLiteral(QK4820_SIM_PATH), QStringList{"--link", Link} + extra);
    ASSERT_TRUE(Proc.waitForStarted(5000));
    ASSERT_TRUE(WaitUntil([&] { return QFileInfo(Link).symLinkTarget().startsWith("/dev/pts/"); }, 5000));
  }
  void TearDown() override {
    if (Proc.state() != QProcess::NotRunning) {
      Proc.terminate();
      if (!Proc.waitForFinished(3000)) Proc.kill();
      Proc.waitForFinished(3000);
    }
  }
  QTemporaryDir Dir;
  QString Link;
  QProcess Proc;
};

TEST_F(SimProcessFixture, ReplacesAStaleLinkAndRemovesItOnTermination) {
  const QString link = Dir.path() + "/ttyQK4820";
  ASSERT_EQ(::symlink("/nonexistent/ttyS9", link.toLocal8Bit().constData()), 0);
  Start({});
  QSerialPort port;
  ASSERT_TRUE(OpenPort(port, Link));
  EXPECT_EQ(Exchange(port, QByteArray("\xF8", 1), 2), QByteArray("\xF8\x01", 2));
  port.close();

  Proc.terminate();
  ASSERT_TRUE(Proc.waitForFinished(3000));
  EXPECT_EQ(Proc.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(Proc.exitCode(), 0);
  EXPECT_FALSE(QFileInfo(Link).isSymLink());
  EXPECT_TRUE(Proc.readAll().isEmpty());  // nothing on stdout or stderr
}

TEST_F(SimProcessFixture, HangupSendsTheBytesThenClosesTheLineAndExits) {
  Start({"--hangup", "F6:4"});
  QSerialPort port;
  ASSERT_TRUE(OpenPort(port, Link));
  EXPECT_EQ(Exchange(port, QByteArray("\xF8", 1), 2), QByteArray("\xF8\x01", 2));
  EXPECT_EQ(Exchange(port, QByteArray("\xF6", 1), 4), QByteArray("\xF6\x01\x23\x45", 4));
  ASSERT_TRUE(Proc.waitForFinished(5000));
  EXPECT_EQ(Proc.exitCode(), 0);
  EXPECT_FALSE(QFileInfo(Link).isSymLink());
  // The program's device fails once the line is gone.
  WaitUntil([&] {
    port.waitForReadyRead(50);
    return port.error() != QSerialPort::NoError && port.error() != QSerialPort::TimeoutError;
  }, 3000);
  EXPECT_TRUE(port.error() == QSerialPort::ResourceError || port.error() == QSerialPort::ReadError)
      << int(port.error());
}

TEST_F(SimProcessFixture, IdleSimulatorUsesNoCpu) {
  Start({"--silence-after", "0"});
  {
    QSerialPort port;
    ASSERT_TRUE(OpenPort(port, Link));
    port.write(QByteArray("\xF4\x0A\x00\x03", 4));  // a test that runs silently
    port.waitForBytesWritten(1000);
  }
  const long before = CpuTicks(Proc.processId());
  QThread::msleep(1000);
  const long after = CpuTicks(Proc.processId());
  ASSERT_GE(before, 0);
  // A polling loop would burn a whole second; a few ticks allow for start-up noise.
  EXPECT_LE(after - before, 5);
}

TEST_F(SimProcessFixture, HelpAndBadOptions) {
  QProcess help;
  help.start(QStringLiteral(QK4820_SIM_PATH), {"--help"});
  ASSERT_TRUE(help.waitForFinished(5000));
  EXPECT_EQ(help.exitCode(), 0);
  EXPECT_TRUE(help.readAllStandardOutput().contains("--hangup"));

  QProcess bad;
  bad.start(QStringLiteral(QK4820_SIM_PATH), {"--mute", "XYZ"});
  ASSERT_TRUE(bad.waitForFinished(5000));
  EXPECT_NE(bad.exitCode(), 0);
  EXPECT_TRUE(bad.readAllStandardOutput().isEmpty());
  EXPECT_TRUE(bad.readAllStandardError().contains("--mute"));
}

}  // namespace
