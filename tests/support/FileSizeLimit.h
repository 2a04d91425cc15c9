#pragma once
// Lets the process write files of at most `bytes` bytes while it lives; a
// longer write fails as on a full disk.
#include <sys/resource.h>

#include <csignal>

class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    FOldHandler = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &FOld);
    rlimit lim = FOld;
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FOld);
    signal(SIGXFSZ, FOldHandler);
  }

 private:
  rlimit FOld{};
  void (*FOldHandler)(int);
};

