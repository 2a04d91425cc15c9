#pragma once
// The serial port of the main window.
//
// The port keeps its "COMn" name; the device behind it comes from a resolver
// (on Linux the [Ports] section of the settings file, see PortNames.h).
// Line settings apply at the next Open. Received data are announced through
// OnRxChar on the user-interface thread, also while that thread waits inside
// an event pump. A line that fails while open (device unplugged, the other end
// hung up) stops the notifications, closes the port and is reported through
// OnLineError and LineError(); the waiting code turns that into an error of
// its operation.
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

#include "protocol/uProtocol.h"

class QObject;

enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { One, OnePointFive, Two };

class ISerialPort {
 public:
  virtual ~ISerialPort() = default;

  // "COM3"; the device is looked up at Open.
  virtual void SetPort(const QString& name) = 0;
  virtual QString Port() const = 0;
  virtual void SetBaudRate(int baud) = 0;
  virtual void SetDataBits(int bits) = 0;
  virtual void SetParity(TParity parity) = 0;
  virtual void SetStopBits(TStopBits stopBits) = 0;
  // Maps the port name to a device path; without one the name is the device.
  virtual void SetDeviceResolver(std::function<QString(const QString&)> resolver) = 0;

  // Opens with the current settings, DTR and RTS on, no flow control.
  // Throws EAppError when the port cannot be opened.
  virtual void Open() = 0;
  // Closes the port; does nothing when it is closed.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // Writes count bytes as one write and returns when all of them have been
  // handed to the driver. Throws EAppError when the port is not open, the
  // line has failed or the write fails or does not finish in time.
  virtual void Write(const std::uint8_t* data, int count) = 0;
  // Reads up to count waiting bytes; returns what was read.
  virtual TBuffer Read(int count) = 0;
  // Bytes received and not yet read.
  virtual int InputCount() const = 0;

  // Text of the failure of the line since the last Open, or empty.
  virtual QString LineError() const = 0;

  // Received data are waiting: the number of waiting bytes.
  std::function<void(int count)> OnRxChar;
  // The open line failed; the port has been closed.
  std::function<void(const QString& text)> OnLineError;
};

// The port on QSerialPort, created on the calling (user-interface) thread.
// context is handed to a replacement factory only.
std::unique_ptr<ISerialPort> CreateSerialPort(QObject* context = nullptr);

// Replaces what CreateSerialPort makes (tests install a scripted port);
// an empty function restores the QSerialPort one.
void SetSerialPortFactory(std::function<std::unique_ptr<ISerialPort>(QObject*)> factory);
