#include "comm/WbfCommUnit.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "data/UDataCenter.h"
#include "platform/PortNames.h"

namespace {

using Clock = std::chrono::steady_clock;

// Bytes requested from the driver per read call.
constexpr std::int32_t kReadChunk = 4096;

#if defined(__linux__)
// The kernel's terminal settings with free input and output speeds (the
// arbitrary-rate interface). Declared here because the kernel's own header
// cannot be included together with <termios.h>.
struct TTermios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};
const unsigned long kGetTermios2 = _IOR('T', 0x2A, TTermios2);
const unsigned long kSetTermios2 = _IOW('T', 0x2B, TTermios2);
constexpr tcflag_t kBaudOther = 0010000;  // speed given in c_ispeed / c_ospeed
constexpr int kInputBaudShift = 16;       // CBAUD << 16 holds the input speed
#endif

// The rates with a speed constant of their own.
bool StandardSpeed(std::int32_t baud, speed_t* speed) {
  struct Entry {
    std::int32_t baud;
    speed_t speed;
  };
  static const Entry kSpeeds[] = {
      {50, B50},         {75, B75},         {110, B110},       {134, B134},
      {150, B150},       {200, B200},       {300, B300},       {600, B600},
      {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
      {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
      {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
  };
  for (const Entry& e : kSpeeds) {
    if (e.baud == baud) {
      *speed = e.speed;
      return true;
    }
  }
  return false;
}

// A rate the driver reports back more than 2 % away from the one asked for
// counts as refused: the line would not work at it.
bool RateAccepted(std::int32_t asked, speed_t got) {
  const double diff = std::fabs(static_cast<double>(got) - asked);
  return diff <= asked * 0.02;
}

// Raw binary line: no echo, no line editing, no character translation, no
// software flow control (its control bytes are data here). Hardware flow
// control and the modem lines stay as the driver had them.
void MakeRaw(termios& t, std::uint8_t parity) {
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                       IXON | IXOFF | IXANY | INPCK | IGNPAR);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  switch (parity) {
    case TWBFCOM::kParityOdd: t.c_cflag |= PARENB | PARODD; break;
    case TWBFCOM::kParityEven: t.c_cflag |= PARENB; break;
    case TWBFCOM::kParityMark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case TWBFCOM::kParitySpace: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

bool SetLine(int fd, std::int32_t baud, std::uint8_t parity) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  MakeRaw(t, parity);
  speed_t speed = 0;
  if (StandardSpeed(baud, &speed)) {
    if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return false;
    if (tcsetattr(fd, TCSANOW, &t) != 0) return false;
    termios back{};
    if (tcgetattr(fd, &back) != 0) return false;
    return cfgetospeed(&back) == speed && cfgetispeed(&back) == speed;
  }
#if defined(__linux__)
  if (tcsetattr(fd, TCSANOW, &t) != 0) return false;
  TTermios2 t2{};
  if (ioctl(fd, kGetTermios2, &t2) != 0) return false;
  t2.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << kInputBaudShift));
  t2.c_cflag |= kBaudOther | (kBaudOther << kInputBaudShift);
  t2.c_ispeed = static_cast<speed_t>(baud);
  t2.c_ospeed = static_cast<speed_t>(baud);
  if (ioctl(fd, kSetTermios2, &t2) != 0) return false;
  TTermios2 back{};
  if (ioctl(fd, kGetTermios2, &back) != 0) return false;
  return RateAccepted(baud, back.c_ospeed) && RateAccepted(baud, back.c_ispeed);
#else
  return false;
#endif
}

// Milliseconds from now to the deadline, rounded up, 0 when it has passed.
int MsUntil(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left + std::chrono::milliseconds(1) -
                                                                         Clock::duration(1));
  return static_cast<int>(std::min<std::int64_t>(ms.count(), 1 << 30));
}

// Waits for the given poll events; false on time-out or error. revents gets
// what poll reported.
bool WaitReady(int fd, short events, Clock::time_point deadline, short* revents) {
  for (;;) {
    const int ms = MsUntil(deadline);
    if (ms <= 0) return false;
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, ms);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) continue;  // the deadline is tested again
    *revents = p.revents;
    return true;
  }
}

}  // namespace

TWBFCOM::~TWBFCOM() { Close(); }

std::uint8_t TWBFCOM::ClampPort(std::uint8_t port) {
  if (port < 1) return 1;
  if (port > 16) return 16;
  return port;
}

QString TWBFCOM::DevicePath(std::uint8_t port) {
  return ResolvePortDevice(QStringLiteral("COM%1").arg(ClampPort(port)), SettingsFileName());
}

std::uint32_t TWBFCOM::ReadAllowance(std::int32_t count, std::int32_t baud) {
  std::uint32_t t = 0;
  if (count > 0 && baud > 0) {
    const double q = static_cast<double>(count) * 20.0 / (static_cast<double>(baud) / 1000.0);
    double r = std::floor(q);
    const double frac = q - r;
    if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
    t = r > 4.0e9 ? 4000000000u : static_cast<std::uint32_t>(r);
  }
  if (t == 0) t = 10;
  return t + 100;
}

bool TWBFCOM::Open(std::uint8_t port, std::int32_t baud, std::uint8_t parity) {
  Close();
  if (baud <= 0 || parity > kParitySpace) return false;
  const QByteArray device = QFile::encodeName(DevicePath(port));
  const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  Handle = fd;
  // Exclusive use: no other open of the terminal, and no other user of the
  // device file that takes the same lock.
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    ReleaseHandle();
    return false;
  }
  FExclusive = true;
  if (!SetLine(fd, baud, parity)) {
    ReleaseHandle();
    return false;
  }
  // A freshly opened port starts with empty queues; a terminal keeps bytes
  // that arrived while nobody had it open, so they are dropped here.
  tcflush(fd, TCIOFLUSH);
  BaudRate = baud;
  return true;
}

bool TWBFCOM::Write(const std::uint8_t* bytes, std::int32_t count) {
  if (Handle < 0) return false;
  if (count <= 0) return true;
  if (!bytes) return false;
  std::int32_t sent = 0;
  while (sent < count) {
    // Write time-out of one round: 5 ms per remaining byte plus 50 ms. A
    // round that gets no byte out ends the write.
    const auto deadline = Clock::now() + std::chrono::milliseconds(5LL * (count - sent) + 50);
    for (;;) {
      const ssize_t n = ::write(Handle, bytes + sent, static_cast<size_t>(count - sent));
      if (n > 0) {
        sent += static_cast<std::int32_t>(n);
        break;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
      short revents = 0;
      if (!WaitReady(Handle, POLLOUT, deadline, &revents)) return false;
      if (revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    }
  }
  // Completion: the bytes have left the driver. The wait is bounded by the
  // time the line needs for them plus the write time-out.
  const std::int64_t lineMs = BaudRate > 0 ? (11LL * 1000 * count + BaudRate - 1) / BaudRate : 0;
  const auto drained = Clock::now() + std::chrono::milliseconds(lineMs + 5LL * count + 50);
  for (;;) {
    int queued = 0;
    if (ioctl(Handle, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
    const int left = MsUntil(drained);
    if (left <= 0) {
      tcflush(Handle, TCOFLUSH);
      return false;
    }
    const std::int64_t needMs = BaudRate > 0 ? (11LL * 1000 * queued) / BaudRate : 1;
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::clamp<std::int64_t>(needMs, 1, left)));
  }
}

bool TWBFCOM::Read(std::uint8_t* bytes, std::int32_t count) {
  if (Handle < 0) return false;
  if (count <= 0 || !bytes) {
    tcflush(Handle, TCIFLUSH);
    return false;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(ReadAllowance(count, BaudRate));
  std::int32_t received = 0;
  bool broken = false;
  while (received < count && !broken) {
    short revents = 0;
    if (!WaitReady(Handle, POLLIN, deadline, &revents)) break;
    if (revents & POLLIN) {
      const std::int32_t want = std::min(kReadChunk, count - received);
      const ssize_t n = ::read(Handle, bytes + received, static_cast<size_t>(want));
      if (n > 0) {
        received += static_cast<std::int32_t>(n);
      } else if (n == 0) {
        broken = true;  // end of file: the line hung up
      } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        broken = true;
      }
    } else if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
      broken = true;
    }
  }
  tcflush(Handle, TCIFLUSH);  // surplus bytes are dropped
  return received == count;
}

void TWBFCOM::Purge() {
  if (Handle < 0) return;
  tcflush(Handle, TCIFLUSH);
  tcflush(Handle, TCOFLUSH);
}

void TWBFCOM::Close() {
  if (Handle < 0) return;
  ReleaseHandle();
}

void TWBFCOM::ReleaseHandle() {
  // Exclusive mode belongs to the terminal, not to this descriptor: it is
  // lifted before closing, or the next open of the port would be refused
  // while another descriptor keeps the terminal alive.
  if (FExclusive) ioctl(Handle, TIOCNXCL);
  FExclusive = false;
  flock(Handle, LOCK_UN);
  ::close(Handle);
  Handle = -1;
}
