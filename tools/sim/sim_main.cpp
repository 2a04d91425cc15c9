// qk4820-sim: the instrument on a pseudo-terminal.
//
// Creates a pty, links PATH to its slave device and serves the simulator core
// until SIGTERM or SIGINT. The simulator keeps one slave descriptor open for
// its whole life, so the master never sees a hang-up while the program under
// test has the port closed between its operations.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <deque>
#include <string>
#include <vector>

#include "sim/SimCore.h"
#include "sim/SimOptions.h"

namespace {

volatile sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

// Step mode: live frames released by SIGUSR1 and not yet handed to the core.
volatile sig_atomic_t gReleases = 0;
void OnRelease(int) { gReleases = gReleases + 1; }

std::uint64_t MonoUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::uint64_t(ts.tv_sec) * 1000000ull + std::uint64_t(ts.tv_nsec) / 1000;
}

void SleepMs(long ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// A text file that gets one line per event, written through at once.
class TLineFile {
 public:
  bool Open(const std::string& path) {
    if (path.empty()) return true;
    FFile = fopen(path.c_str(), "a");
    return FFile != nullptr;
  }
  ~TLineFile() {
    if (FFile) fclose(FFile);
  }
  void Line(const std::string& text) {
    if (!FFile) return;
    fputs(text.c_str(), FFile);
    fputc('\n', FFile);
    fflush(FFile);
  }

 private:
  FILE* FFile = nullptr;
};

struct TPendingWrite {
  std::vector<std::uint8_t> Bytes;
  std::size_t Offset = 0;
  bool EndOfReply = false;
  bool Hangup = false;
};

class TServer {
 public:
  explicit TServer(const TSimOptions& o) : FOptions(o), FCore(o.Config) {}
  ~TServer() { Shutdown(); }

  int Run();

 private:
  bool OpenPty();
  bool MakeLink();
  void RemoveLink();
  void Shutdown();
  // Writes what the line takes now. Returns false on a write error.
  bool Flush();
  bool ReadInput();
  void WaitUntilRead();

  const TSimOptions& FOptions;
  TSimCore FCore;
  TLineFile FLog;
  TLineFile FTrace;
  int FMaster = -1;
  int FSlave = -1;
  std::string FSlaveName;
  bool FLinked = false;
  bool FHungUp = false;
  std::deque<TPendingWrite> FBacklog;
};

bool TServer::OpenPty() {
  FMaster = posix_openpt(O_RDWR | O_NOCTTY);
  if (FMaster < 0 || grantpt(FMaster) != 0 || unlockpt(FMaster) != 0) {
    fprintf(stderr, "qk4820-sim: cannot create a pty: %s\n", strerror(errno));
    return false;
  }
  char name[256];
  if (ptsname_r(FMaster, name, sizeof name) != 0) {
    fprintf(stderr, "qk4820-sim: ptsname: %s\n", strerror(errno));
    return false;
  }
  FSlaveName = name;
  FSlave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (FSlave < 0) {
    fprintf(stderr, "qk4820-sim: cannot open %s: %s\n", name, strerror(errno));
    return false;
  }
  termios tio{};
  if (tcgetattr(FSlave, &tio) == 0) {
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(FSlave, TCSANOW, &tio);
  }
  fcntl(FMaster, F_SETFL, fcntl(FMaster, F_GETFL) | O_NONBLOCK);
  fcntl(FMaster, F_SETFD, FD_CLOEXEC);
  return true;
}

bool TServer::MakeLink() {
  const std::string& link = FOptions.Link;
  struct stat st{};
  if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    fprintf(stderr, "qk4820-sim: %s exists and is not a symbolic link\n", link.c_str());
    return false;
  }
  // Link under a scratch name, then rename: a stale link is replaced in one
  // step, and the path never points anywhere half-ready.
  const std::string scratch = link + ".new" + std::to_string(getpid());
  unlink(scratch.c_str());
  if (symlink(FSlaveName.c_str(), scratch.c_str()) != 0 || rename(scratch.c_str(), link.c_str()) != 0) {
    fprintf(stderr, "qk4820-sim: cannot link %s: %s\n", link.c_str(), strerror(errno));
    unlink(scratch.c_str());
    return false;
  }
  FLinked = true;
  return true;
}

void TServer::RemoveLink() {
  if (!FLinked) return;
  FLinked = false;
  char target[512];
  const ssize_t n = readlink(FOptions.Link.c_str(), target, sizeof target - 1);
  if (n < 0) return;
  target[n] = 0;
  // Leave a link alone that someone else has pointed elsewhere meanwhile.
  if (FSlaveName == target) unlink(FOptions.Link.c_str());
}

void TServer::Shutdown() {
  RemoveLink();
  if (FMaster >= 0) close(FMaster);
  if (FSlave >= 0) close(FSlave);
  FMaster = FSlave = -1;
}

void TServer::WaitUntilRead() {
  // The bytes before a hang-up are meant to reach the program: a hung-up tty
  // drops its unread input, so give the reader a moment to take them.
  SleepMs(20);
  int quiet = 0;
  for (int waited = 0; waited < 2000 && quiet < 2; waited += 10) {
    int inq = 0;
    if (ioctl(FSlave, FIONREAD, &inq) != 0) break;
    quiet = inq == 0 ? quiet + 1 : 0;
    SleepMs(10);
  }
}

bool TServer::Flush() {
  while (!FBacklog.empty()) {
    TPendingWrite& w = FBacklog.front();
    while (w.Offset < w.Bytes.size()) {
      const ssize_t n = write(FMaster, w.Bytes.data() + w.Offset, w.Bytes.size() - w.Offset);
      if (n > 0) {
        w.Offset += std::size_t(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;  // line full: wait for POLLOUT
      fprintf(stderr, "qk4820-sim: write: %s\n", strerror(errno));
      return false;
    }
    if (w.EndOfReply) FTrace.Line("tx " + std::to_string(MonoUs()));
    const bool hangup = w.Hangup;
    FBacklog.pop_front();
    if (hangup) {
      WaitUntilRead();
      FHungUp = true;
      return true;
    }
  }
  return true;
}

bool TServer::ReadInput() {
  std::uint8_t buf[512];
  for (;;) {
    const ssize_t n = read(FMaster, buf, sizeof buf);
    if (n > 0) {
      const std::uint64_t now = MonoUs();
      for (const TSimFrame& f : FCore.Receive(buf, std::size_t(n), now)) {
        const std::string hex = TSimCore::HexLine(f.Bytes.data(), f.Bytes.size());
        FLog.Line(hex);
        FTrace.Line("rx " + std::to_string(now) + " " + hex);
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    // EIO would mean no slave is open; ours always is, so treat it as fatal.
    fprintf(stderr, "qk4820-sim: read: %s\n", n < 0 ? strerror(errno) : "end of file");
    return false;
  }
}

int TServer::Run() {
  if (!FLog.Open(FOptions.Log)) {
    fprintf(stderr, "qk4820-sim: cannot open log %s: %s\n", FOptions.Log.c_str(), strerror(errno));
    return 1;
  }
  if (!FTrace.Open(FOptions.Trace)) {
    fprintf(stderr, "qk4820-sim: cannot open trace %s: %s\n", FOptions.Trace.c_str(), strerror(errno));
    return 1;
  }

  // SIGTERM and SIGINT are only let through inside ppoll, so a stop request
  // can never slip in between the flag test and the wait.
  sigset_t block, waitMask;
  sigemptyset(&block);
  sigaddset(&block, SIGTERM);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGUSR1);
  sigprocmask(SIG_BLOCK, &block, &waitMask);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGUSR1);
  struct sigaction sa{};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  struct sigaction release{};
  release.sa_handler = OnRelease;
  sigemptyset(&release.sa_mask);
  sigaction(SIGUSR1, &release, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!OpenPty() || !MakeLink()) return 1;

  while (!gStop) {
    // Signals arrive only inside ppoll, so the count cannot change here.
    for (; gReleases > 0; gReleases = gReleases - 1) FCore.ReleaseLiveFrame(MonoUs());
    for (TimedChunk& c : FCore.Poll(MonoUs())) {
      TPendingWrite w;
      w.Bytes = std::move(c.Bytes);
      w.EndOfReply = c.EndOfReply;
      w.Hangup = c.Hangup;
      FBacklog.push_back(std::move(w));
    }
    if (!Flush()) return 1;
    if (FHungUp) break;

    pollfd pfd{FMaster, short(POLLIN | (FBacklog.empty() ? 0 : POLLOUT)), 0};
    timespec ts{};
    timespec* timeout = nullptr;
    if (const auto due = FCore.NextDueUs()) {
      const std::uint64_t now = MonoUs();
      const std::uint64_t wait = *due > now ? *due - now : 0;
      ts.tv_sec = time_t(wait / 1000000);
      ts.tv_nsec = long(wait % 1000000) * 1000;
      timeout = &ts;
    }
    const int r = ppoll(&pfd, 1, timeout, &waitMask);
    if (r < 0) {
      if (errno == EINTR) continue;
      fprintf(stderr, "qk4820-sim: poll: %s\n", strerror(errno));
      return 1;
    }
    if (pfd.revents & POLLIN) {
      if (!ReadInput()) return 1;
    } else if (pfd.revents & (POLLHUP | POLLERR)) {
      // Not expected while our own slave descriptor is open; never spin on it.
      SleepMs(10);
    }
  }
  Shutdown();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  TSimOptions options;
  std::string error;
  if (!ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    fprintf(stderr, "qk4820-sim: %s\n", error.c_str());
    return 2;
  }
  if (options.Help) {
    fputs(SimUsage().c_str(), stdout);
    return 0;
  }
  if (options.Link.empty()) {
    fprintf(stderr, "qk4820-sim: --link PATH is required (see --help)\n");
    return 2;
  }
  TServer server(options);
  return server.Run();
}
