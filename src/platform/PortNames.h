#pragma once
// Port names stay "COM" + number everywhere in the program. On Linux a name
// resolves to a device: the optional section [Ports] of the settings file maps
// it (COM3=/dev/ttyUSB0); without an entry COMn is /dev/ttyS(n-1). On Windows
// the name is the device.
#include <QString>

class TIniFile;

// Device path for portName ("COM3"), using [Ports] of settingsFile.
QString ResolvePortDevice(const QString& portName, const QString& settingsFile);
// The same from a settings document already read.
QString ResolvePortDevice(const QString& portName, const TIniFile& settings);
