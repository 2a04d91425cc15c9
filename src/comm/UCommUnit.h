#pragma once
// The blocking command transaction: one complete exchange with the
// instrument on a channel of its own, over the USB bridge (commStyle 0) or
// the serial line (any other value). It blocks the calling thread, pumps no
// window messages and does not touch the main window's serial link or the
// reply assembler. Up to four attempts are made.
//
// The caller's buffer holds the frame in its first writeLen bytes (byte 0 is
// the command code); the reply is read into the same buffer from byte 0,
// overwriting the frame. The buffer grows when the reply would not fit (the
// USB path always reads 64 bytes); a frame longer than the buffer is refused.
#include <cstdint>

#include "comm/SIUSBXP.h"
#include "protocol/uProtocol.h"
#include "protocol/uProtocol.h"

// Outcome of the last serial transaction: 0 success, 2 opening or
// configuring the port failed, 8 a write failed, 9 the reply did not arrive
// in full.
extern std::int32_t giCommError;

constexpr std::int32_t kCommOk = 0;
constexpr std::int32_t kCommOpenFailed = 2;
constexpr std::int32_t kCommWriteFailed = 8;
constexpr std::int32_t kCommReadFailed = 9;

constexpr int kCommAttempts = 4;

// The channel of the transaction, from the working parameters giCommStyle,
// giCommPort and giBaudRate.
struct TCommSettings {
  std::int32_t commStyle = 1;  // 0 = USB bridge, other = serial line
  std::int32_t commPort = 3;   // n of COMn
  std::int32_t baudRate = 6;   // index 1..13 of the baud-rate list
  // Where the USB bridge's handle of the last attempt is kept
  // (giUsbHandle); none: not kept.
  std::intptr_t* usbHandle = nullptr;
};
// Reply length the USB path always asks for.
constexpr std::int32_t kUsbReadLen = 64;


// The transaction on the transport commStyle selects. The USB path reads
// 64 bytes and succeeds only when at least readLen of them arrived.
bool SendCommand(const TCommSettings& settings, std::uint8_t command, TBuffer& buffer, std::int32_t readLen,
                 std::int32_t writeLen);
// Serial line: port commPort (low byte), BaudRateOf(baudRate), no parity.
// 200 ms pause between attempts; also a success returns only after the
// 100 ms pause that follows closing the port.
bool SerialTransact(const TCommSettings& settings, std::uint8_t command, TBuffer& buffer, std::int32_t readLen,
                    std::int32_t writeLen);
// USB bridge device 0, opened for each attempt. A device that cannot be opened
// ends the transaction at once. A write-and-read attempt succeeds only when
// at least minReply reply bytes arrived (never fewer than 1) and the first of
// them is the command code; a reply with another first byte is read again, a
// bounded number of times.
bool UsbTransact(std::uint8_t command, TBuffer& buffer, std::int32_t readLen, std::int32_t writeLen,
                 std::int32_t minReply = 1, std::intptr_t* usbHandle = nullptr);
// One transfer with the given time-out; the bridge's time-outs are restored
// afterwards. True when the bridge reports success.
bool UsbRead(SI_HANDLE handle, std::uint8_t* bytes, std::uint32_t count, std::uint32_t timeoutMs,
             std::uint32_t& bytesRead);
bool UsbWrite(SI_HANDLE handle, const std::uint8_t* bytes, std::uint32_t count,
              std::uint32_t timeoutMs, std::uint32_t& bytesWritten);

// Attempts the last SerialTransact or UsbTransact made (1..4).
int LastTransactAttempts();
