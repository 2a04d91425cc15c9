#include "support/FakeUsbBridge.h"

#include <algorithm>
#include <cstring>

SI_STATUS TFakeUsbBridge::Open(std::uint32_t device, SI_HANDLE* handle) {
  Calls.push_back({"open", device, 0, {}});
  const TOpenAnswer a = OpenAnswers.isEmpty() ? TOpenAnswer{} : OpenAnswers.takeFirst();
  *handle = a.handle;
  return a.status;
}

SI_STATUS TFakeUsbBridge::Close(SI_HANDLE) {
  Calls.push_back({"close", 0, 0, {}});
  FPending.clear();
  return SI_SUCCESS;
}

SI_STATUS TFakeUsbBridge::Write(SI_HANDLE, const std::uint8_t* buffer, std::uint32_t count,
                                std::uint32_t* bytesWritten, std::uint32_t timeoutMs) {
  TCall call{"write", count, timeoutMs, TBuffer(buffer, buffer + count)};
  Calls.push_back(call);
  const TWriteAnswer a = WriteAnswers.isEmpty() ? TWriteAnswer{} : WriteAnswers.takeFirst();
  *bytesWritten = a.accepted < 0 ? count : static_cast<std::uint32_t>(std::min<std::int64_t>(a.accepted, count));
  if (a.status != SI_SUCCESS || *bytesWritten == 0) return a.status;
  if (call.data[0] == 0xF6) {
    FPending = {0xF6};
    FPending.insert(FPending.end(), Serial.begin(), Serial.end());
  } else if (call.data[0] == 0xF7 && count >= 9) {
    Serial.assign(call.data.begin() + 1, call.data.begin() + 9);
  }
  return a.status;
}

SI_STATUS TFakeUsbBridge::Read(SI_HANDLE, std::uint8_t* buffer, std::uint32_t count,
                               std::uint32_t* bytesRead, std::uint32_t timeoutMs) {
  Calls.push_back({"read", count, timeoutMs, {}});
  TReadAnswer a;
  if (!ReadAnswers.isEmpty()) {
    a = ReadAnswers.takeFirst();
  } else if (RepeatRead) {
    a = Repeated;
  } else if (!FPending.empty()) {
    a.bytes = FPending;
    FPending.clear();
  } else {
    a.status = SI_READ_TIMED_OUT;
  }
  const std::uint32_t n = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(a.bytes.size()));
  if (n > 0) std::memcpy(buffer, a.bytes.data(), n);
  *bytesRead = n;
  return a.status;
}

int TFakeUsbBridge::Count(const std::string& op) const {
  return static_cast<int>(std::count_if(Calls.begin(), Calls.end(), [&](const TCall& c) { return c.op == op; }));
}

std::string TFakeUsbBridge::Trace() const {
  std::string out;
  for (const TCall& c : Calls) {
    if (!out.empty()) out += ' ';
    out += c.op;
    if (c.op == "write" || c.op == "read") out += ':' + std::to_string(c.count) + '@' + std::to_string(c.timeoutMs);
  }
  return out;
}
