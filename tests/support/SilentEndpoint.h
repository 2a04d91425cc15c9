#pragma once
// A TCP endpoint on the loopback that takes connections and never says a
// word: the kernel completes the handshake, nothing reads or answers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class TSilentEndpoint {
 public:
  TSilentEndpoint() {
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (FFd < 0 || ::bind(FFd, reinterpret_cast<sockaddr*>(&a), n) != 0 || ::listen(FFd, 16) != 0 ||
        ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &n) != 0) {
      return;
    }
    FPort = ntohs(a.sin_port);
  }
  ~TSilentEndpoint() {
    if (FFd >= 0) ::close(FFd);
  }
  TSilentEndpoint(const TSilentEndpoint&) = delete;
  TSilentEndpoint& operator=(const TSilentEndpoint&) = delete;
  // 0 when no endpoint could be made.
  int Port() const { return FPort; }

 private:
  int FFd = -1;
  int FPort = 0;
};
