// Why a serial device cannot be opened, checked on real pseudo-terminals,
// files and processes: missing, not permitted, held by another program,
// free; and the main link holding its line alone.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <pty.h>
#include <unistd.h>

#include "platform/MessageService.h"
#include "platform/PortDiagnosis.h"
#include "platform/SerialDevices.h"
#include "platform/SerialPort.h"
#include "support/SimProcess.h"

namespace {

// A pseudo-terminal whose master this process holds; nobody holds the slave.
class TPty {
 public:
  TPty() {
    int slave = -1;
    char name[128] = {0};
    if (openpty(&FMaster, &slave, name, nullptr, nullptr) == 0) {
      FPath = QString::fromLocal8Bit(name);
      ::close(slave);
      // Children must not inherit the master: they would be the line's other end.
      fcntl(FMaster, F_SETFD, FD_CLOEXEC);
    }
  }
  ~TPty() {
    if (FMaster >= 0) ::close(FMaster);
  }
  QString Path() const { return FPath; }

 private:
  int FMaster = -1;
  QString FPath;
};

// A child process that keeps the device open on its standard input.
class THolder {
 public:
  THolder(const QString& device, const QString& program = QStringLiteral("sleep")) {
    FProc.setStandardInputFile(device);
    FProc.start(program, {QStringLiteral("30")});
    FProc.waitForStarted(5000);
  }
  ~THolder() {
    FProc.kill();
    FProc.waitForFinished(5000);
  }
  long long Pid() const { return FProc.processId(); }

 private:
  QProcess FProc;
};

bool WaitForHolder(const QString& device, long long pid) {
  for (int i = 0; i < 100; ++i) {
    for (const TPortHolder& h : PortHolders(device)) {
      if (h.pid == pid) return true;
    }
    QThread::msleep(20);
  }
  return false;
}

TEST(PortDiagnosis, AMissingDeviceListsTheDevicesThatExist) {
  QTemporaryDir dir;
  const QString device = dir.filePath(QStringLiteral("ttyUSB9"));
  const TPortCheck c = CheckPort(device);
  EXPECT_EQ(c.state, TPortState::Missing);
  const QString text = c.Explanation();
  EXPECT_TRUE(text.startsWith(QStringLiteral("设备：") + device)) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("设备不存在"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("本机现有的串口设备："))) << text.toStdString();
}

// A group whose members may read and write a stand-in device: dialout when
// the suite runs as root (who may hand files to any group), else the user's
// own group.
gid_t AdvisableGroup() {
  if (geteuid() != 0) return getegid();
  const group* g = getgrnam("dialout");
  return g ? g->gr_gid : 20;
}

struct TPermissionCase {
  const char* name;
  mode_t mode;
  bool rootGroup;  // the device belongs to group root (gid 0)
  bool groupAdvice;
};

class DevicePermissions : public ::testing::TestWithParam<TPermissionCase> {};

// The check is made for an unprivileged user (the suite may run as root,
// who may open anything) on a device node stand-in. A group is advised only
// where its members may read and write the device, and never group root;
// otherwise the owner-only remedies are named: the udev rule the package
// ships with the command that puts it in place, or chgrp/chmod for once.
TEST_P(DevicePermissions, NameTheRemedyThatWorks) {
  const TPermissionCase& p = GetParam();
  QTemporaryDir dir;
  const QString device = dir.filePath(QStringLiteral("ttyS0"));
  QFile f(device);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  const QByteArray path = QFile::encodeName(device);
  // An owner-only device of a group other than the one the remedy names.
  const group* users = getgrnam("users");
  const gid_t other = geteuid() == 0 && users ? users->gr_gid : getegid();
  const gid_t gid = p.rootGroup ? 0 : p.groupAdvice ? AdvisableGroup() : other;
  if (gid != getegid()) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can hand the stand-in to another group";
    ASSERT_EQ(chown(path.constData(), 0, gid), 0);
  }
  ASSERT_EQ(chmod(path.constData(), p.mode), 0);
  const group* g = getgrgid(gid);
  const QString groupName = g ? QString::fromLocal8Bit(g->gr_name) : QString::number(gid);

  TUserIdentity stranger;
  stranger.uid = 65534;
  stranger.gids = {65534};
  const TPortCheck c = CheckPort(device, stranger);
  EXPECT_EQ(c.state, TPortState::NotPermitted);
  const QString text = c.Explanation();
  if (p.groupAdvice) {
    EXPECT_TRUE(text.contains(QStringLiteral("无权读写这个设备（属于用户组 %1").arg(groupName))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("sudo usermod -aG %1 $USER").arg(groupName))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("重新登录"))) << text.toStdString();
    // A member of the group may.
    TUserIdentity member = stranger;
    member.gids.push_back(gid);
    EXPECT_TRUE(CheckPort(device, member).permitted);
  } else {
    EXPECT_TRUE(text.contains(QStringLiteral("只有设备的所有者"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("sudo cp ") + UdevRuleExample() +
                              QStringLiteral(" /etc/udev/rules.d/60-qk4820-serial.rules")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("sudo chgrp dialout %1 && sudo chmod 0660 %1").arg(device))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("usermod -aG root"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("usermod -aG %1 ").arg(groupName))) << text.toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, DevicePermissions,
                         ::testing::Values(TPermissionCase{"GroupMayReadWrite", 0660, false, true},
                                           TPermissionCase{"OwnerOnly", 0600, false, false},
                                           TPermissionCase{"GroupMayOnlyRead", 0640, false, false},
                                           TPermissionCase{"GroupRoot", 0660, true, false}),
                         [](const ::testing::TestParamInfo<TPermissionCase>& i) { return std::string(i.param.name); });

TEST(PortDiagnosis, AProgramHoldingTheDeviceIsNamedAndTheOpenRefused) {
  TPty pty;
  ASSERT_FALSE(pty.Path().isEmpty());
  THolder holder(pty.Path());
  ASSERT_TRUE(WaitForHolder(pty.Path(), holder.Pid()));
  const TPortCheck c = CheckPort(pty.Path());
  EXPECT_EQ(c.state, TPortState::Held);
  const QString text = c.Explanation();
  EXPECT_TRUE(text.contains(QStringLiteral("程序 sleep（进程号 %1）").arg(holder.Pid()))) << text.toStdString();

  // The main link does not share the line: before, the open went through and
  // the other program took the instrument's replies.
  auto port = CreateSerialPort();
  port->SetPort(QStringLiteral("COM3"));
  port->SetDeviceResolver([&](const QString&) { return pty.Path(); });
  try {
    port->Open();
    FAIL() << "opened a device another program holds";
  } catch (const EAppError& e) {
    EXPECT_TRUE(e.Text().contains(QStringLiteral("进程号 %1").arg(holder.Pid()))) << e.Text().toStdString();
  }
  EXPECT_FALSE(port->IsOpen());
}

// ModemManager and brltty grab USB-serial adapters; the box says what to do.
TEST(PortDiagnosis, AKnownGrabberIsNamedWithWhatToDo) {
  QTemporaryDir dir;
  const QString sleep = QStandardPaths::findExecutable(QStringLiteral("sleep"));
  ASSERT_FALSE(sleep.isEmpty());
  const QString grabber = dir.filePath(QStringLiteral("ModemManager"));
  ASSERT_TRUE(QFile::copy(sleep, grabber));
  TPty pty;
  THolder holder(pty.Path(), grabber);
  ASSERT_TRUE(WaitForHolder(pty.Path(), holder.Pid()));
  const QString text = CheckPort(pty.Path()).Explanation();
  EXPECT_TRUE(text.contains(QStringLiteral("程序 ModemManager"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("systemctl stop ModemManager"))) << text.toStdString();
}

TEST(PortDiagnosis, AFreeDeviceOpensAndIsThenHeldAlone) {
  TPty pty;
  EXPECT_EQ(CheckPort(pty.Path()).state, TPortState::Free);
  auto first = CreateSerialPort();
  first->SetPort(QStringLiteral("COM3"));
  first->SetDeviceResolver([&](const QString&) { return pty.Path(); });
  ASSERT_NO_THROW(first->Open());
  auto second = CreateSerialPort();
  second->SetPort(QStringLiteral("COM4"));
  second->SetDeviceResolver([&](const QString&) { return pty.Path(); });
  EXPECT_THROW(second->Open(), EAppError);
  EXPECT_FALSE(second->IsOpen());
  first->Close();
  EXPECT_NO_THROW(second->Open());
}

// The simulator keeps the slave of its own pty open: it is the other end of
// the line, not a program in the way.
TEST(PortDiagnosis, TheOtherEndOfAPseudoTerminalIsNoHolder) {
  TSimProcess sim;
  ASSERT_TRUE(sim.Started()) << sim.Output().toStdString();
  EXPECT_TRUE(PortHolders(sim.LinkPath()).empty());
  EXPECT_EQ(CheckPort(sim.LinkPath()).state, TPortState::Free);
}

// A stable name under /dev/serial/by-id whose device the system's list
// lacks is listed by that name.
TEST(SerialDeviceList, AStableNameIsListedEvenWhenTheSystemListLacksItsDevice) {
  TPty pty;
  ASSERT_FALSE(pty.Path().isEmpty());
  QTemporaryDir byId;
  const QString link = byId.filePath(QStringLiteral("usb-QK_4820_A1-if00-port0"));
  ASSERT_TRUE(QFile::link(pty.Path(), link));
  bool found = false;
  for (const TSerialDevice& d : SystemSerialDevices(byId.path())) {
    if (d.stableName == link) {
      found = true;
      EXPECT_EQ(d.path, QFileInfo(pty.Path()).canonicalFilePath());
      EXPECT_EQ(d.MappingName(), link);
    }
  }
  EXPECT_TRUE(found);
}

}  // namespace
