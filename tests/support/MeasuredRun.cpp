#include "support/MeasuredRun.h"

#include <QElapsedTimer>
#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

TMeasuredRun RunMeasured(const QString& program, const QStringList& args, int timeoutMs) {
  TMeasuredRun run;
  std::vector<QByteArray> argBytes{QFile::encodeName(program)};
  for (const QString& a : args) argBytes.push_back(QFile::encodeName(a));
  std::vector<char*> argv;
  for (QByteArray& a : argBytes) argv.push_back(a.data());
  argv.push_back(nullptr);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return run;
  QElapsedTimer clock;
  clock.start();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 2);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("QT_QPA_PLATFORM");
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  if (pid < 0) {
    ::close(pipeFds[0]);
    return run;
  }
  QByteArray err;
  bool killed = false;
  for (;;) {
    const qint64 left = timeoutMs - clock.elapsed();
    if (left <= 0 && !killed) {
      ::kill(pid, SIGKILL);
      killed = true;
    }
    pollfd p{pipeFds[0], POLLIN, 0};
    if (::poll(&p, 1, killed ? 1000 : int(std::min<qint64>(left, 1000))) > 0) {
      char buf[4096];
      const ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
      if (n > 0) {
        err.append(buf, n);
        continue;
      }
      if (n == 0 || errno != EINTR) break;
    }
  }
  ::close(pipeFds[0]);
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  run.seconds = double(clock.nsecsElapsed()) / 1e9;
  run.finished = !killed;
  run.peakKiB = usage.ru_maxrss;
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  run.err = QString::fromUtf8(err);
  return run;
}
