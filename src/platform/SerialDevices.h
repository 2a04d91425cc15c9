#pragma once
// The serial devices the system has: /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS*
// that exist, each with its stable name under /dev/serial/by-id when it has
// one (the name survives replugging), and the USB description and serial
// number its adapter reports.
#include <QString>

#include <functional>
#include <vector>

struct TSerialDevice {
  QString path;          // "/dev/ttyUSB0"
  QString stableName;    // "/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0", or empty
  QString description;   // "FT232R USB UART"
  QString manufacturer;  // "FTDI"
  QString serialNumber;  // "A1B2C3"
  // The name a mapping should store: the stable one when there is one.
  QString MappingName() const { return stableName.isEmpty() ? path : stableName; }
};

// The devices from the source in force (the system's unless replaced).
std::vector<TSerialDevice> SerialDevices();
// The system's devices with the stable names of byIdFolder
// (/dev/serial/by-id): a link there whose device the system's list lacks is
// listed by that link too.
std::vector<TSerialDevice> SystemSerialDevices(const QString& byIdFolder);
// Replaces the source (tests list pseudo-terminals); an empty function
// restores the system's.
void SetSerialDeviceSource(std::function<std::vector<TSerialDevice>()> source);
