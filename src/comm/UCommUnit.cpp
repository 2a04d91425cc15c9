#include "comm/UCommUnit.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "comm/WbfCommUnit.h"
#include "data/UDataCenter.h"
#include "platform/Tick.h"

std::int32_t giCommError = 0;

namespace {

int gAttempts = 0;

constexpr std::uint32_t kUsbWriteChunk = 512;
constexpr std::uint32_t kUsbReadChunk = 4096;
constexpr std::uint32_t kUsbWriteOnlyTimeout = 10;
constexpr std::uint32_t kUsbWriteReadTimeout = 100;
constexpr std::uint32_t kUsbReadTimeout = 100;
// Replies whose first byte is not the command are read again at most this
// many times per attempt; a device that keeps sending such bytes must not
// hold the program forever.
constexpr int kUsbMaxRereads = 8;

// A plain pause: the transaction deliberately handles no window messages.
void Pause(int ms) { SleepMs(static_cast<std::uint32_t>(ms)); }

// Frame length as used: negative means nothing to send.
std::int32_t FrameLength(std::int32_t writeLen) { return std::max<std::int32_t>(writeLen, 0); }

// Makes room for a reply of readLen bytes from position 0.
void RoomForReply(TBuffer& buffer, std::int32_t readLen) {
  if (readLen > 0 && buffer.size() < static_cast<std::size_t>(readLen))
    buffer.resize(static_cast<std::size_t>(readLen), 0);
}

// One serial attempt; sets giCommError on failure.
bool SerialAttempt(const TCommSettings& settings, TCommandClass cls, TBuffer& buffer, std::int32_t readLen,
                   std::int32_t writeLen) {
  TWBFCOM com;
  bool ok = false;
  try {
    if (!com.Open(static_cast<std::uint8_t>(settings.commPort & 0xFF),
                  BaudRateOf(static_cast<std::uint32_t>(settings.baudRate)), TWBFCOM::kParityNone)) {
      giCommError = kCommOpenFailed;
    } else {
      switch (cls) {
        case TCommandClass::WriteOnly:
          if (com.Write(buffer.data(), writeLen))
            ok = true;
          else
            giCommError = kCommWriteFailed;
          break;
        case TCommandClass::WriteRead:
          if (!com.Write(buffer.data(), writeLen)) {
            giCommError = kCommWriteFailed;
          } else {
            Pause(100);
            if (com.Read(buffer.data(), readLen))
              ok = true;
            else
              giCommError = kCommReadFailed;
          }
          break;
        case TCommandClass::NoTransfer:
          ok = true;
          break;
      }
    }
  } catch (...) {
    com.Purge();
    ok = false;
  }
  com.Close();
  return ok;
}

// The write phase of a USB attempt: chunks of at most 512 bytes, at least
// one chunk. A chunk counts only when the bridge took all of its bytes.
bool UsbWritePhase(SI_HANDLE handle, const TBuffer& buffer, std::int32_t writeLen, std::uint32_t timeoutMs) {
  const std::uint32_t total = static_cast<std::uint32_t>(writeLen);
  const std::uint32_t chunks = total == 0 ? 1 : (total - 1) / kUsbWriteChunk + 1;
  std::uint32_t written = 0;
  for (std::uint32_t c = 0; c < chunks; ++c) {
    const std::uint32_t n = std::min(kUsbWriteChunk, total - written);
    std::uint32_t put = 0;
    if (!UsbWrite(handle, buffer.data() + written, n, timeoutMs, put) || put != n) return false;
    written += put;
  }
  return true;
}

// The read phase: chunks of at most 4096 bytes, each after the bytes already
// read. The first chunk is accepted only when it brought bytes and its first
// byte is the command code; otherwise it is read again.
bool UsbReadPhase(SI_HANDLE handle, std::uint8_t command, TBuffer& buffer, std::int32_t readLen,
                  std::int32_t minReply) {
  if (readLen <= 0) return false;
  const std::uint32_t total = static_cast<std::uint32_t>(readLen);
  const std::uint32_t chunks = (total - 1) / kUsbReadChunk + 1;
  std::uint32_t got = 0;
  int rereads = 0;
  for (std::uint32_t c = 0; c < chunks && got < total;) {
    const std::uint32_t n = std::min(kUsbReadChunk, total - got);
    std::uint32_t in = 0;
    if (!UsbRead(handle, buffer.data() + got, n, kUsbReadTimeout, in)) return false;
    if (c == 0 && (in == 0 || buffer[0] != command)) {
      if (++rereads > kUsbMaxRereads) return false;
      continue;
    }
    got += in;
    ++c;
  }
  return got >= static_cast<std::uint32_t>(std::max<std::int32_t>(minReply, 1));
}

}  // namespace

int LastTransactAttempts() { return gAttempts; }

bool SendCommand(const TCommSettings& settings, std::uint8_t command, TBuffer& buffer, std::int32_t readLen,
                 std::int32_t writeLen) {
  if (settings.commStyle == 0) {
    return UsbTransact(command, buffer, kUsbReadLen, writeLen, readLen, settings.usbHandle);
  }
  return SerialTransact(settings, command, buffer, readLen, writeLen);
}

bool SerialTransact(const TCommSettings& settings, std::uint8_t command, TBuffer& buffer, std::int32_t readLen,
                    std::int32_t writeLen) {
  const TCommandClass cls = CommandClassOf(command);
  writeLen = FrameLength(writeLen);
  gAttempts = 0;
  if (static_cast<std::size_t>(writeLen) > buffer.size()) {
    // The frame is not in the buffer: nothing that could be sent.
    giCommError = kCommWriteFailed;
    return false;
  }
  if (cls == TCommandClass::WriteRead) RoomForReply(buffer, readLen);
  for (int attempt = 1; attempt <= kCommAttempts; ++attempt) {
    gAttempts = attempt;
    const bool ok = SerialAttempt(settings, cls, buffer, readLen, writeLen);
    Pause(100);
    if (ok) {
      giCommError = kCommOk;
      return true;
    }
    if (attempt == kCommAttempts) break;
    Pause(100);
  }
  return false;
}

bool UsbTransact(std::uint8_t command, TBuffer& buffer, std::int32_t readLen, std::int32_t writeLen,
                 std::int32_t minReply, std::intptr_t* usbHandle) {
  const TCommandClass cls = CommandClassOf(command);
  writeLen = FrameLength(writeLen);
  gAttempts = 0;
  if (static_cast<std::size_t>(writeLen) > buffer.size()) return false;
  if (cls == TCommandClass::WriteRead) RoomForReply(buffer, readLen);
  for (int attempt = 1; attempt <= kCommAttempts; ++attempt) {
    gAttempts = attempt;
    SI_HANDLE handle = SI_INVALID_HANDLE_VALUE;
    const SI_STATUS status = SI_Open(0, &handle);
    if (usbHandle) *usbHandle = handle;
    if (status != SI_SUCCESS || handle == SI_INVALID_HANDLE_VALUE) {
      SI_Close(handle);
      return false;
    }
    bool ok = false;
    if (cls == TCommandClass::WriteOnly) {
      ok = UsbWritePhase(handle, buffer, writeLen, kUsbWriteOnlyTimeout);
    } else if (cls == TCommandClass::WriteRead) {
      const bool written = UsbWritePhase(handle, buffer, writeLen, kUsbWriteReadTimeout);
      Pause(1);
      ok = written && UsbReadPhase(handle, command, buffer, readLen, minReply);
    }
    SI_Close(handle);
    if (ok) return true;
  }
  return false;
}

bool UsbWrite(SI_HANDLE handle, const std::uint8_t* bytes, std::uint32_t count,
              std::uint32_t timeoutMs, std::uint32_t& bytesWritten) {
  std::uint32_t oldRead = 0;
  std::uint32_t oldWrite = 0;
  const bool haveOld = SI_GetTimeouts(&oldRead, &oldWrite) == SI_SUCCESS;
  SI_SetTimeouts(0, timeoutMs);
  bytesWritten = 0;
  const SI_STATUS status = SI_Write(handle, bytes, count, &bytesWritten, nullptr);
  if (haveOld) SI_SetTimeouts(oldRead, oldWrite);
  return status == SI_SUCCESS;
}

bool UsbRead(SI_HANDLE handle, std::uint8_t* bytes, std::uint32_t count, std::uint32_t timeoutMs,
             std::uint32_t& bytesRead) {
  std::uint32_t oldRead = 0;
  std::uint32_t oldWrite = 0;
  const bool haveOld = SI_GetTimeouts(&oldRead, &oldWrite) == SI_SUCCESS;
  SI_SetTimeouts(timeoutMs, 0);
  bytesRead = 0;
  const SI_STATUS status = SI_Read(handle, bytes, count, &bytesRead, nullptr);
  if (haveOld) SI_SetTimeouts(oldRead, oldWrite);
  return status == SI_SUCCESS;
}
