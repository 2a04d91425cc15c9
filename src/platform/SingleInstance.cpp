#include "platform/SingleInstance.h"

#include "platform/MessageService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
QString& DirOverride() {
  static QString d;
  return d;
}
}  // namespace

void SetSingleInstanceDir(const QString& dir) { DirOverride() = dir; }

QString SingleInstanceDir() {
  if (!DirOverride().isEmpty()) return DirOverride();
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable()) return runtime;
  return QDir::tempPath();
}

TSingleInstance::TSingleInstance(const QString& name) {
  const QString dir = SingleInstanceDir();
  // In the shared temporary folder the user id keeps users apart, like a
  // per-session name.
  const bool shared = DirOverride().isEmpty() && dir == QDir::tempPath();
  FFileName = dir + QLatin1Char('/') + name +
              (shared ? QStringLiteral("-%1").arg(static_cast<qulonglong>(getuid())) : QString()) +
              QStringLiteral(".lock");
  const QByteArray path = QFile::encodeName(FFileName);
  do {
    FFd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  } while (FFd < 0 && errno == EINTR);
  if (FFd < 0) return;  // no lock file possible: do not keep the program from running
  int r;
  do {
    r = ::flock(FFd, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    FFirst = !(errno == EWOULDBLOCK || errno == EAGAIN);
    ::close(FFd);
    FFd = -1;
  }
}

TSingleInstance::~TSingleInstance() {
  if (FFd >= 0) {
    ::flock(FFd, LOCK_UN);
    ::close(FFd);
  }
}

bool FirstInstanceOrNotice(const TSingleInstance& guard) {
  if (guard.IsFirst()) return true;
  MsgBox(nullptr, kAlreadyRunning, TMsgIcon::None);
  return false;
}
