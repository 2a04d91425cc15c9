#include "platform/FileIo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/MessageService.h"

namespace {

QByteArray Native(const QString& name) { return QFile::encodeName(name); }

// The process's umask, read without changing it where the system tells it.
mode_t CurrentUmask() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (f) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      if (std::strncmp(line, "Umask:", 6) == 0) {
        std::fclose(f);
        return static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8));
      }
    }
    std::fclose(f);
  }
  const mode_t m = ::umask(022);
  ::umask(m);
  return m;
}

// Writes all of bytes; false with errno set on a failure (a short write is
// followed by one that reports the cause).
bool WriteAll(int fd, const char* data, qint64 size) {
  qint64 done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, static_cast<size_t>(size - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += n;
  }
  return true;
}

}  // namespace

QString ErrnoCause(int err) {
  switch (err) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return QStringLiteral("磁盘已满，请删除不需要的文件或换一个位置");
    case EACCES:
    case EPERM:
      return QStringLiteral("权限不足，请换一个位置或请管理员开放权限");
    case EROFS:
      return QStringLiteral("磁盘为只读，请换一个位置");
    case ENOENT:
      return QStringLiteral("文件或文件夹不存在");
    case ENOTDIR:
      return QStringLiteral("路径中有一项不是文件夹");
    case EISDIR:
      return QStringLiteral("这是一个文件夹");
    case EBUSY:
    case ETXTBSY:
    case EAGAIN:
      return QStringLiteral("文件被占用，请关闭使用它的程序后再试");
    case EFBIG:
      return QStringLiteral("文件过大");
    case ENAMETOOLONG:
      return QStringLiteral("文件名过长");
    case EMFILE:
    case ENFILE:
      return QStringLiteral("打开的文件过多，请关闭一些程序后再试");
    case EIO:
      return QStringLiteral("磁盘读写出错，磁盘或U盘可能已拔出");
    case ENODEV:
    case ENXIO:
    case ENOTTY:
      return QStringLiteral("设备已拔出或断开");
    default:
      return QStringLiteral("系统错误");
  }
}

QString ErrnoText(int err) {
  return QStringLiteral("%1（%2）").arg(ErrnoCause(err), QString::fromLocal8Bit(std::strerror(err)));
}

QString CannotWriteText(const QString& fileName, int err) {
  return QStringLiteral("无法写入文件'%1'：%2").arg(fileName, ErrnoText(err));
}

QString CannotReadText(const QString& fileName, int err) {
  return QStringLiteral("无法读取文件'%1'：%2").arg(fileName, ErrnoText(err));
}

bool ReadWholeFile(const QString& fileName, QByteArray& bytes, int& err) {
  bytes.clear();
  const int fd = ::open(Native(fileName).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    return false;
  }
  // Read straight into a buffer of the file's size (a file that grows
  // meanwhile is read to its end all the same).
  struct stat st {};
  qsizetype size = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? qsizetype(st.st_size) : 0;
  qsizetype used = 0;
  bytes.resize(std::max<qsizetype>(size, 65536));
  for (;;) {
    if (used == bytes.size()) bytes.resize(bytes.size() * 2);
    const ssize_t n = ::read(fd, bytes.data() + used, size_t(bytes.size() - used));
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      ::close(fd);
      bytes.clear();
      return false;
    }
    if (n == 0) break;
    used += qsizetype(n);
  }
  ::close(fd);
  bytes.resize(used);
  if (bytes.capacity() > used + 65536) bytes.squeeze();
  return true;
}

TFileReplacement::TFileReplacement(const QString& fileName, int newFileMode)
    : FFileName(fileName), FNewFileMode(newFileMode) {
  const QFileInfo target(fileName);
  if (target.isDir()) throw EAppError(CannotWriteText(fileName, EISDIR));
  // Hidden, beside the target, with the target's suffix so that a writer
  // choosing its format by the name makes the same kind of file.
  const QString suffix = target.suffix().isEmpty() ? QString() : QStringLiteral(".") + target.suffix();
  QByteArray pattern = Native(target.absolutePath() + QStringLiteral("/.") + target.completeBaseName() +
                              QStringLiteral(".XXXXXX") + suffix);
  const int fd = ::mkostemps(pattern.data(), static_cast<int>(Native(suffix).size()), O_CLOEXEC);
  if (fd < 0) throw EAppError(CannotWriteText(fileName, errno));
  ::close(fd);
  FTempName = QFile::decodeName(pattern);
}

TFileReplacement::~TFileReplacement() {
  if (!FDone && !FTempName.isEmpty()) ::unlink(Native(FTempName).constData());
}

void TFileReplacement::Commit() {
  const QByteArray temp = Native(FTempName);
  const QByteArray target = Native(FFileName);
  const int fd = ::open(temp.constData(), O_RDWR | O_CLOEXEC);
  if (fd < 0) throw EAppError(CannotWriteText(FFileName, errno));
  struct stat old {};
  const mode_t mode = ::stat(target.constData(), &old) == 0 ? (old.st_mode & 07777)
                     : FNewFileMode >= 0                        ? mode_t(FNewFileMode)
                                                                : (0666 & ~CurrentUmask());
  if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
    const int e = errno;
    ::close(fd);
    throw EAppError(CannotWriteText(FFileName, e));
  }
  if (::close(fd) != 0) throw EAppError(CannotWriteText(FFileName, errno));
  if (::rename(temp.constData(), target.constData()) != 0) throw EAppError(CannotWriteText(FFileName, errno));
  FDone = true;
  // The rename itself reaches the disk with the folder.
  const QByteArray dir = Native(QFileInfo(FFileName).absolutePath());
  const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

bool MakePrivateDir(const QString& path) {
  if (QFileInfo(path).isDir()) return true;
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  return ::mkdir(Native(path).constData(), 0700) == 0 || QFileInfo(path).isDir();
}

void ReplaceFileContents(const QString& fileName, const QByteArray& bytes, int newFileMode) {
  TFileReplacement file(fileName, newFileMode);
  const int fd = ::open(Native(file.TempName()).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) throw EAppError(CannotWriteText(fileName, errno));
  if (!WriteAll(fd, bytes.constData(), bytes.size())) {
    const int e = errno;
    ::close(fd);
    throw EAppError(CannotWriteText(fileName, e));
  }
  if (::close(fd) != 0) throw EAppError(CannotWriteText(fileName, errno));
  file.Commit();
}

void ReplaceFileContentsWith(const QString& fileName, const std::function<void(const TPut& put)>& produce,
                             int newFileMode) {
  TFileReplacement file(fileName, newFileMode);
  int fd = ::open(Native(file.TempName()).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) throw EAppError(CannotWriteText(fileName, errno));
  // The descriptor goes on every way out; a failed close is told below.
  auto closeFd = qScopeGuard([&] {
    if (fd >= 0) ::close(fd);
  });
  auto write = [&](const char* data, qsizetype size) {
    if (!WriteAll(fd, data, size)) throw EAppError(CannotWriteText(fileName, errno));
  };
  // Pieces gather in a buffer of 1 MiB that goes to the file when full.
  constexpr qsizetype kBuffer = qsizetype(1) << 20;
  QByteArray buffer;
  buffer.reserve(kBuffer);
  produce([&](const char* data, qsizetype size) {
    if (buffer.size() + size > kBuffer) {
      write(buffer.constData(), buffer.size());
      buffer.resize(0);
    }
    if (size > kBuffer) {
      write(data, size);
    } else {
      buffer.append(data, size);
    }
  });
  write(buffer.constData(), buffer.size());
  const int closed = ::close(fd);
  fd = -1;
  if (closed != 0) throw EAppError(CannotWriteText(fileName, errno));
  file.Commit();
}
