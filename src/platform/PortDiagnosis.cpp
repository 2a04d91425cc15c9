#include "platform/PortDiagnosis.h"

#include "platform/SerialDevices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

TUserIdentity TUserIdentity::Current() {
  TUserIdentity who;
  who.uid = geteuid();
  who.gids.push_back(getegid());
  const int n = getgroups(0, nullptr);
  if (n > 0) {
    std::vector<gid_t> groups(static_cast<size_t>(n));
    const int got = getgroups(n, groups.data());
    for (int i = 0; i < got; ++i) who.gids.push_back(groups[static_cast<size_t>(i)]);
  }
  return who;
}

namespace {

QString GroupName(gid_t gid) {
  if (const group* g = getgrgid(gid)) return QString::fromLocal8Bit(g->gr_name);
  return QString::number(gid);
}

QString UserName(uid_t uid) {
  if (const passwd* p = getpwuid(uid)) return QString::fromLocal8Bit(p->pw_name);
  return QString::number(uid);
}

QString ModeText(mode_t m) {
  QString s = S_ISCHR(m) ? QStringLiteral("c") : QStringLiteral("-");
  const char* rwx = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i) s += (m & (0400 >> i)) ? QChar::fromLatin1(rwx[i]) : QChar(u'-');
  return s;
}

bool MayReadWrite(const struct stat& st, const TUserIdentity& who) {
  if (who.uid == 0) return true;
  if (who.uid == st.st_uid) return (st.st_mode & (S_IRUSR | S_IWUSR)) == (S_IRUSR | S_IWUSR);
  for (const unsigned g : who.gids) {
    if (g == st.st_gid) return (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  }
  return (st.st_mode & (S_IROTH | S_IWOTH)) == (S_IROTH | S_IWOTH);
}

// Whether the process holds the master side of pseudo-terminal index: it is
// the other end of the line (the instrument's simulator, a serial bridge),
// which keeps the slave open so that the line does not hang up.
bool HoldsPtyMaster(const QString& fdDir, const QStringList& fds, const QString& index) {
  for (const QString& fd : fds) {
    const QString link = QFile::symLinkTarget(fdDir + u'/' + fd);
    if (link != QLatin1String("/dev/ptmx") && link != QLatin1String("/dev/pts/ptmx")) continue;
    QFile info(QString(fdDir).replace(QLatin1String("/fd"), QLatin1String("/fdinfo")) + u'/' + fd);
    if (!info.open(QIODevice::ReadOnly)) continue;
    for (const QByteArray& line : info.readAll().split('\n')) {
      if (line.startsWith("tty-index:") && QString::fromLatin1(line.mid(10).trimmed()) == index) return true;
    }
  }
  return false;
}

}  // namespace

std::vector<TPortHolder> PortHolders(const QString& device) {
  std::vector<TPortHolder> out;
  struct stat target {};
  if (stat(QFile::encodeName(device).constData(), &target) != 0) return out;
  const QString self = QString::number(getpid());
  const QString real = QFileInfo(device).canonicalFilePath();
  const QString ptyIndex = real.startsWith(QLatin1String("/dev/pts/")) ? real.mid(9) : QString();
  const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  for (const QString& pid : pids) {
    bool ok = false;
    const long long n = pid.toLongLong(&ok);
    if (!ok || pid == self) continue;
    const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
    // Another user's processes cannot be looked into; they are not listed.
    const QStringList fds = QDir(fdDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& fd : fds) {
      struct stat st {};
      if (stat(QFile::encodeName(fdDir + u'/' + fd).constData(), &st) != 0) continue;
      if (st.st_dev == target.st_dev && st.st_ino == target.st_ino) {
        if (!ptyIndex.isEmpty() && HoldsPtyMaster(fdDir, fds, ptyIndex)) break;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        QString name;
        if (comm.open(QIODevice::ReadOnly)) name = QString::fromLocal8Bit(comm.readAll()).trimmed();
        out.push_back(TPortHolder{n, name});
        break;
      }
    }
  }
  return out;
}

QStringList SerialDevicesPresent() {
  QStringList out;
  for (const TSerialDevice& d : SerialDevices()) out << d.path;
  return out;
}

QString GrabberAdvice(const QString& processName) {
  if (processName.compare(QLatin1String("ModemManager"), Qt::CaseInsensitive) == 0) {
    return QStringLiteral("ModemManager 把串口当作调制解调器探测，可执行 sudo systemctl stop ModemManager，"
                          "或按随附的 udev 规则示例让它忽略这个设备");
  }
  if (processName.compare(QLatin1String("brltty"), Qt::CaseInsensitive) == 0) {
    return QStringLiteral("盲文显示程序 brltty 占用了 USB 串口，不用盲文显示器时可执行 sudo apt remove brltty");
  }
  return {};
}

QString UdevRuleExample() {
  // Beside an installed program (bin/../share/doc/qk4820), else where the
  // package puts it.
  const QString rule = QStringLiteral("/" QK4820_DOC_DIR "/60-qk4820-serial.rules.example");
  const QString installed = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/..") + rule);
  return QFileInfo::exists(installed) ? installed : QStringLiteral("/usr") + rule;
}

QString UdevRuleCommand() {
  return QStringLiteral("sudo cp %1 /etc/udev/rules.d/60-qk4820-serial.rules && sudo udevadm control --reload && "
                        "sudo udevadm trigger")
      .arg(UdevRuleExample());
}

TPortCheck CheckPort(const QString& device, const TUserIdentity& who) {
  TPortCheck c;
  c.device = device;
  struct stat st {};
  if (stat(QFile::encodeName(device).constData(), &st) != 0) {
    c.state = TPortState::Missing;
    c.present = SerialDevicesPresent();
    return c;
  }
  c.owner = UserName(st.st_uid);
  c.group = GroupName(st.st_gid);
  c.mode = ModeText(st.st_mode);
  c.gid = st.st_gid;
  c.groupMayReadWrite = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  c.permitted = MayReadWrite(st, who);
  c.holders = PortHolders(device);
  if (!c.permitted) {
    c.state = TPortState::NotPermitted;
  } else if (!c.holders.empty()) {
    c.state = TPortState::Held;
  } else if (!S_ISCHR(st.st_mode)) {
    c.state = TPortState::NotADevice;
  }
  return c;
}

QString TPortCheck::Explanation() const {
  QStringList lines;
  lines << QStringLiteral("设备：%1").arg(device);
  switch (state) {
    case TPortState::Missing:
      lines << QStringLiteral("原因：设备不存在，请检查连线或在“通讯设置”中选择设备");
      lines << (present.isEmpty() ? QStringLiteral("本机现有的串口设备：无")
                                  : QStringLiteral("本机现有的串口设备：%1").arg(present.join(QStringLiteral("、"))));
      break;
    case TPortState::NotPermitted:
      // A group is advised only where its members may read and write the
      // device, and never the group of the superuser.
      if (groupMayReadWrite && gid != 0) {
        lines << QStringLiteral("原因：当前用户无权读写这个设备（属于用户组 %1，权限 %2）").arg(group, mode);
        lines << QStringLiteral("解决：执行 sudo usermod -aG %1 $USER，然后注销并重新登录").arg(group);
      } else {
        lines << QStringLiteral("原因：只有设备的所有者 %1 可以读写这个设备（用户组 %2，权限 %3）").arg(owner, group, mode);
        lines << QStringLiteral("解决：安装随附的 udev 规则（%1），填入线缆的厂商和产品编号后执行 %2，"
                                "设备重新插入后属于用户组 dialout；再执行 sudo usermod -aG dialout $USER，然后注销并重新登录")
                     .arg(UdevRuleExample(), UdevRuleCommand());
        lines << QStringLiteral("临时：执行 sudo chgrp dialout %1 && sudo chmod 0660 %1（设备重新插入或重启后失效）").arg(device);
      }
      break;
    case TPortState::Held:
      for (const TPortHolder& h : holders) {
        lines << QStringLiteral("原因：设备已被程序 %1（进程号 %2）占用，请先关闭该程序").arg(h.name).arg(h.pid);
        const QString advice = GrabberAdvice(h.name);
        if (!advice.isEmpty()) lines << advice;
      }
      break;
    case TPortState::NotADevice:
      lines << QStringLiteral("原因：这不是串口设备");
      break;
    case TPortState::Free:
      lines << QStringLiteral("原因：设备存在且可以打开，但打开失败");
      break;
  }
  return lines.join(u'\n');
}
