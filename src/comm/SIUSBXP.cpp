#include "comm/SIUSBXP.h"

namespace {

// No bridge driver on this system: no device is ever found.
class TNoDeviceBackend : public ISiUsbBackend {
 public:
  SI_STATUS Open(std::uint32_t, SI_HANDLE* handle) override {
    *handle = SI_INVALID_HANDLE_VALUE;
    return SI_DEVICE_NOT_FOUND;
  }
  SI_STATUS Close(SI_HANDLE) override { return SI_INVALID_HANDLE; }
  SI_STATUS Read(SI_HANDLE, std::uint8_t*, std::uint32_t, std::uint32_t* bytesRead,
                 std::uint32_t) override {
    *bytesRead = 0;
    return SI_INVALID_HANDLE;
  }
  SI_STATUS Write(SI_HANDLE, const std::uint8_t*, std::uint32_t, std::uint32_t* bytesWritten,
                  std::uint32_t) override {
    *bytesWritten = 0;
    return SI_INVALID_HANDLE;
  }
};

TNoDeviceBackend gNoDevice;
ISiUsbBackend* gBackend = &gNoDevice;
std::uint32_t gReadTimeout = kSiDefaultReadTimeout;
std::uint32_t gWriteTimeout = kSiDefaultWriteTimeout;

}  // namespace

ISiUsbBackend& SiUsbBackend() { return *gBackend; }

void SetSiUsbBackend(ISiUsbBackend* backend) {
  gBackend = backend ? backend : &gNoDevice;
  gReadTimeout = kSiDefaultReadTimeout;
  gWriteTimeout = kSiDefaultWriteTimeout;
}

SI_STATUS SI_Open(std::uint32_t device, SI_HANDLE* handle) {
  if (!handle) return SI_INVALID_PARAMETER;
  *handle = SI_INVALID_HANDLE_VALUE;
  const SI_STATUS status = gBackend->Open(device, handle);
  if (status != SI_SUCCESS) *handle = SI_INVALID_HANDLE_VALUE;
  return status;
}

SI_STATUS SI_Close(SI_HANDLE handle) { return gBackend->Close(handle); }

SI_STATUS SI_Read(SI_HANDLE handle, void* buffer, std::uint32_t count, std::uint32_t* bytesRead,
                  void* overlapped) {
  if (!bytesRead) return SI_INVALID_PARAMETER;
  *bytesRead = 0;
  if (overlapped || (!buffer && count > 0)) return SI_INVALID_PARAMETER;
  std::uint32_t got = 0;
  const SI_STATUS status =
      gBackend->Read(handle, static_cast<std::uint8_t*>(buffer), count, &got, gReadTimeout);
  *bytesRead = got > count ? count : got;
  return status;
}

SI_STATUS SI_Write(SI_HANDLE handle, const void* buffer, std::uint32_t count,
                   std::uint32_t* bytesWritten, void* overlapped) {
  if (!bytesWritten) return SI_INVALID_PARAMETER;
  *bytesWritten = 0;
  if (overlapped || (!buffer && count > 0)) return SI_INVALID_PARAMETER;
  std::uint32_t put = 0;
  const SI_STATUS status = gBackend->Write(handle, static_cast<const std::uint8_t*>(buffer), count,
                                           &put, gWriteTimeout);
  *bytesWritten = put > count ? count : put;
  return status;
}

SI_STATUS SI_GetTimeouts(std::uint32_t* readTimeout, std::uint32_t* writeTimeout) {
  if (!readTimeout || !writeTimeout) return SI_INVALID_PARAMETER;
  *readTimeout = gReadTimeout;
  *writeTimeout = gWriteTimeout;
  return SI_SUCCESS;
}

SI_STATUS SI_SetTimeouts(std::uint32_t readTimeout, std::uint32_t writeTimeout) {
  gReadTimeout = readTimeout;
  gWriteTimeout = writeTimeout;
  return SI_SUCCESS;
}
