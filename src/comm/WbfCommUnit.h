#pragma once
// The serial channel of the blocking command transaction: one port, opened
// exclusively, 8 data bits, one stop bit, the given parity and baud rate.
// Every transfer waits with a time limit of its own; nothing here pumps
// window messages.
//
// The port number n names the port "COMn"; it is clamped to 1..16 and
// resolved to a device through the [Ports] section of the settings file, the
// same mapping the main serial link uses (without an entry COMn is
// /dev/ttyS(n-1)).
#include <QString>

#include <cstdint>

class TWBFCOM {
 public:
  TWBFCOM() = default;
  ~TWBFCOM();
  TWBFCOM(const TWBFCOM&) = delete;
  TWBFCOM& operator=(const TWBFCOM&) = delete;

  // Device handle (file descriptor), -1 while closed.
  int Handle = -1;
  // The baud rate given to the last successful Open.
  std::int32_t BaudRate = 0;

  // Parity codes of Open.
  static constexpr std::uint8_t kParityNone = 0;
  static constexpr std::uint8_t kParityOdd = 1;
  static constexpr std::uint8_t kParityEven = 2;
  static constexpr std::uint8_t kParityMark = 3;
  static constexpr std::uint8_t kParitySpace = 4;

  // Opens the port exclusively and sets the line format. Fails when the
  // device does not exist, is no terminal, is in use, or refuses the line
  // settings (a baud rate the driver does not take, an unknown parity code).
  // Both queues are empty after a successful open.
  bool Open(std::uint8_t port, std::int32_t baud, std::uint8_t parity);
  // Writes count bytes and waits until they have left the driver. Ends with
  // false when the port takes no byte within 5 ms per remaining byte plus
  // 50 ms, or when the bytes do not drain in time.
  bool Write(const std::uint8_t* bytes, std::int32_t count);
  // Reads exactly count bytes within ReadAllowance(count, BaudRate)
  // milliseconds of a monotonic clock; surplus bytes are dropped. A count of
  // 0 or less, a read error or a hang-up give false.
  bool Read(std::uint8_t* bytes, std::int32_t count);
  // Clears the receive queue, then the transmit queue.
  void Purge();
  void Close();

  bool IsOpen() const { return Handle >= 0; }

  // count x 20 / (baud / 1000) ms, rounded half to even; 0 becomes 10; plus
  // 100 ms.
  static std::uint32_t ReadAllowance(std::int32_t count, std::int32_t baud);
  // 0 becomes 1, anything above 16 becomes 16.
  static std::uint8_t ClampPort(std::uint8_t port);
  // The device the (clamped) port number resolves to.
  static QString DevicePath(std::uint8_t port);

 private:
  void ReleaseHandle();

  bool FExclusive = false;  // this channel set the terminal's exclusive mode
};
