#pragma once
// The USB bridge of the instrument: our own layer with the six calls the
// blocking command transaction uses. The calls keep no state of their own
// except the library-wide read and write time-outs; the device work is done
// by a backend. The default backend finds no device, so every SI_Open fails;
// tests install a backend of their own.
//
// Every call returns SI_SUCCESS (0) or one of the other statuses below; the
// callers rely only on the status, the handle and the byte counts.
#include <cstdint>

using SI_STATUS = std::int32_t;
using SI_HANDLE = std::intptr_t;

constexpr SI_STATUS SI_SUCCESS = 0;
constexpr SI_STATUS SI_DEVICE_NOT_FOUND = 1;   // no device with that number
constexpr SI_STATUS SI_INVALID_HANDLE = 2;     // handle not open
constexpr SI_STATUS SI_INVALID_PARAMETER = 3;  // missing out argument, overlapped I/O
constexpr SI_STATUS SI_READ_ERROR = 4;
constexpr SI_STATUS SI_WRITE_ERROR = 5;
constexpr SI_STATUS SI_READ_TIMED_OUT = 6;   // nothing arrived within the read time-out
constexpr SI_STATUS SI_WRITE_TIMED_OUT = 7;  // the device took nothing within the write time-out

// The handle value of a device that is not open (all bits set).
constexpr SI_HANDLE SI_INVALID_HANDLE_VALUE = -1;

// Time-outs in force before any SI_SetTimeouts, milliseconds.
constexpr std::uint32_t kSiDefaultReadTimeout = 1000;
constexpr std::uint32_t kSiDefaultWriteTimeout = 1000;

// Opens device number `device`; on failure *handle is SI_INVALID_HANDLE_VALUE.
SI_STATUS SI_Open(std::uint32_t device, SI_HANDLE* handle);
SI_STATUS SI_Close(SI_HANDLE handle);
// Reads up to count bytes, waiting at most the read time-out; *bytesRead never
// exceeds count. Overlapped operation is not offered: overlapped must be null.
SI_STATUS SI_Read(SI_HANDLE handle, void* buffer, std::uint32_t count, std::uint32_t* bytesRead,
                  void* overlapped = nullptr);
// Writes up to count bytes within the write time-out; *bytesWritten never
// exceeds count. overlapped must be null.
SI_STATUS SI_Write(SI_HANDLE handle, const void* buffer, std::uint32_t count,
                   std::uint32_t* bytesWritten, void* overlapped = nullptr);
SI_STATUS SI_GetTimeouts(std::uint32_t* readTimeout, std::uint32_t* writeTimeout);
SI_STATUS SI_SetTimeouts(std::uint32_t readTimeout, std::uint32_t writeTimeout);

// The device side of the bridge. Time-outs are passed with every transfer.
class ISiUsbBackend {
 public:
  virtual ~ISiUsbBackend() = default;
  virtual SI_STATUS Open(std::uint32_t device, SI_HANDLE* handle) = 0;
  virtual SI_STATUS Close(SI_HANDLE handle) = 0;
  virtual SI_STATUS Read(SI_HANDLE handle, std::uint8_t* buffer, std::uint32_t count,
                         std::uint32_t* bytesRead, std::uint32_t timeoutMs) = 0;
  virtual SI_STATUS Write(SI_HANDLE handle, const std::uint8_t* buffer, std::uint32_t count,
                          std::uint32_t* bytesWritten, std::uint32_t timeoutMs) = 0;
};

// The backend in force.
ISiUsbBackend& SiUsbBackend();
// Installs a backend (not owned); nullptr restores the default one. The
// time-outs go back to their defaults as well.
void SetSiUsbBackend(ISiUsbBackend* backend);
