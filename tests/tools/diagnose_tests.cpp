// qk4820 --diagnose, --version, --help and a refused argument, run as the
// program itself: a portable copy in a scratch folder with its own settings.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/SimProcess.h"

namespace {

struct TRun {
  int code = -1;
  QString out;
  QString err;
};

// A copy of the program beside a SystemFile.ini of the test's.
class TPortableCopy {
 public:
  explicit TPortableCopy(const QByteArray& settings) {
    FExe = FDir.filePath(QStringLiteral("qk4820"));
    QFile::copy(QStringLiteral(QK4820_APP_PATH), FExe);
    QFile ini(FDir.filePath(QStringLiteral("SystemFile.ini")));
    if (ini.open(QIODevice::WriteOnly)) ini.write(settings);
  }
  QString Dir() const { return FDir.path(); }
  TRun Run(const QStringList& args, const QStringList& prefix = {}) const {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));  // no window, no display needed
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    if (prefix.isEmpty()) {
      p.start(FExe, args);
    } else {
      p.start(prefix[0], prefix.mid(1) + QStringList{FExe} + args);
    }
    p.waitForFinished(30000);
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
  }

 private:
  QTemporaryDir FDir;
  QString FExe;
};

QByteArray Settings(const QString& device) {
  return "[Communication]\r\ngiCommPort=3\r\n[Ports]\r\nCOM3=" + QFile::encodeName(device) + "\r\n";
}

TEST(Diagnose, AMissingDeviceFailsWithTheDeviceAndTheCause) {
  TPortableCopy copy(Settings(QStringLiteral("/dev/ttyUSB-none-here")));
  const TRun r = copy.Run({QStringLiteral("--diagnose")});
  EXPECT_EQ(r.code, 1) << r.out.toStdString() << r.err.toStdString();
  EXPECT_TRUE(r.out.contains(QStringLiteral("设置文件：%1").arg(QDir(copy.Dir()).filePath("SystemFile.ini"))))
      << r.out.toStdString();
  EXPECT_TRUE(r.out.contains(QStringLiteral("COM3 → /dev/ttyUSB-none-here（不存在）"))) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains(QStringLiteral("结果：COM3 不能打开"))) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains(QStringLiteral("设备不存在"))) << r.out.toStdString();
}

TEST(Diagnose, TheSimulatorsLineOpens) {
  TSimProcess sim;
  ASSERT_TRUE(sim.Started()) << sim.Output().toStdString();
  TPortableCopy copy(Settings(sim.LinkPath()));
  const TRun r = copy.Run({QStringLiteral("--diagnose")});
  EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
  EXPECT_TRUE(r.out.contains(QStringLiteral("结果：COM3 可以打开"))) << r.out.toStdString();
}

// The device is a file the test made; the program runs as a user who may
// not open it (nobody, when the suite runs as root; otherwise the file's
// mode leaves its owner out). A group is advised where its members may read
// and write the device (dialout here); an owner-only device gets the
// owner-only remedies, never a group.
TEST(Diagnose, APermissionFailureNamesTheRemedyThatWorks) {
  TPortableCopy copy{QByteArray()};
  const QString device = QDir(copy.Dir()).filePath(QStringLiteral("ttyUSB0"));
  QFile f(device);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  QStringList prefix;
  QString groupName;
  if (geteuid() == 0) {
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    ASSERT_FALSE(setpriv.isEmpty()) << "setpriv (util-linux) runs the check as an unprivileged user";
    prefix = {setpriv, QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")};
    const group* dialout = getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    groupName = QString::fromLocal8Bit(dialout->gr_name);
    ASSERT_EQ(chown(QFile::encodeName(device).constData(), 0, dialout->gr_gid), 0);
    QFile::setPermissions(device, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                      QFileDevice::WriteGroup);
    // nobody reaches the copy and may write its folder: a portable copy
    // keeps its settings beside it.
    ASSERT_EQ(chmod(QFile::encodeName(copy.Dir()).constData(), 0777), 0);
    ASSERT_EQ(chmod(QFile::encodeName(QDir(copy.Dir()).filePath("SystemFile.ini")).constData(), 0644), 0);
  } else {
    QFile::setPermissions(device, QFileDevice::Permissions());
  }
  QFile ini(QDir(copy.Dir()).filePath(QStringLiteral("SystemFile.ini")));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write(Settings(device));
  ini.close();

  const TRun r = copy.Run({QStringLiteral("--diagnose")}, prefix);
  EXPECT_EQ(r.code, 1) << r.out.toStdString() << r.err.toStdString();
  if (!groupName.isEmpty()) {
    EXPECT_TRUE(r.out.contains(QStringLiteral("无权读写"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("sudo usermod -aG %1 $USER").arg(groupName))) << r.out.toStdString();
    // The same device for its owner alone.
    QFile::setPermissions(device, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  }
  const TRun owner = copy.Run({QStringLiteral("--diagnose")}, prefix);
  EXPECT_EQ(owner.code, 1);
  EXPECT_TRUE(owner.out.contains(QStringLiteral("只有设备的所有者"))) << owner.out.toStdString();
  EXPECT_TRUE(owner.out.contains(QStringLiteral("/etc/udev/rules.d/60-qk4820-serial.rules"))) << owner.out.toStdString();
  EXPECT_FALSE(owner.out.contains(QStringLiteral("usermod -aG root"))) << owner.out.toStdString();
}

struct TArgCase {
  const char* arg;
  int code;
  const char* out;  // in standard output, or in standard error when code != 0
};

class Arguments : public ::testing::TestWithParam<TArgCase> {};

TEST_P(Arguments, AreAnsweredWithoutAWindow) {
  TPortableCopy copy{QByteArray()};
  const TRun r = copy.Run({QString::fromUtf8(GetParam().arg)});
  EXPECT_EQ(r.code, GetParam().code);
  const QString where = GetParam().code == 0 ? r.out : r.err;
  EXPECT_TRUE(where.contains(QString::fromUtf8(GetParam().out))) << r.out.toStdString() << r.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Options, Arguments,
                         ::testing::Values(TArgCase{"--version", 0, "qk4820 "}, TArgCase{"--help", 0, "--diagnose"},
                                           TArgCase{"--port=COM4", 2, "不认识的参数“--port=COM4”"}));

}  // namespace
