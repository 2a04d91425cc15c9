#pragma once
// A USB bridge for tests: records every call the transaction makes, answers
// from scripts, and otherwise behaves like the instrument for the serial
// number (0xF6 answers F6 and the 8 stored bytes, 0xF7 stores 8 bytes).
// Installed while it lives.
#include <QList>

#include <cstdint>
#include <string>
#include <vector>

#include "comm/SIUSBXP.h"
#include "protocol/uProtocol.h"

class TFakeUsbBridge : public ISiUsbBackend {
 public:
  struct TCall {
    std::string op;  // "open", "close", "write", "read"
    std::uint32_t count = 0;
    std::uint32_t timeoutMs = 0;
    TBuffer data;  // bytes written
  };
  struct TOpenAnswer {
    SI_STATUS status = SI_SUCCESS;
    SI_HANDLE handle = 7;
  };
  struct TWriteAnswer {
    SI_STATUS status = SI_SUCCESS;
    std::int64_t accepted = -1;  // bytes taken; -1 = all
  };
  struct TReadAnswer {
    SI_STATUS status = SI_SUCCESS;
    TBuffer bytes;
  };

  TFakeUsbBridge() { SetSiUsbBackend(this); }
  ~TFakeUsbBridge() override { SetSiUsbBackend(nullptr); }

  SI_STATUS Open(std::uint32_t device, SI_HANDLE* handle) override;
  SI_STATUS Close(SI_HANDLE handle) override;
  SI_STATUS Read(SI_HANDLE handle, std::uint8_t* buffer, std::uint32_t count,
                 std::uint32_t* bytesRead, std::uint32_t timeoutMs) override;
  SI_STATUS Write(SI_HANDLE handle, const std::uint8_t* buffer, std::uint32_t count,
                  std::uint32_t* bytesWritten, std::uint32_t timeoutMs) override;

  // Answers taken from the front; when a list is empty the default applies:
  // open succeeds with handle 7, a write takes everything, a read returns the
  // instrument's reply to the last frame (or times out when there is none).
  QList<TOpenAnswer> OpenAnswers;
  QList<TWriteAnswer> WriteAnswers;
  QList<TReadAnswer> ReadAnswers;
  // When set, every read without a scripted answer returns these bytes.
  bool RepeatRead = false;
  TReadAnswer Repeated;

  TBuffer Serial{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  std::vector<TCall> Calls;
  int Count(const std::string& op) const;
  // Calls as "open close write:9@10 read:64@100 ...".
  std::string Trace() const;

 private:
  TBuffer FPending;  // instrument reply not yet read
};
