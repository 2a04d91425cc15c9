#pragma once
// Why a serial device cannot be opened, in words an operator can act on: it
// does not exist (and which serial devices do), this user may not open it
// (its group and the command that admits the user), or another program holds
// it (that program's name and process id, found through /proc).
#include <QString>
#include <QStringList>

#include <vector>

// The user a check is made for: the running process, or in a test another one.
struct TUserIdentity {
  unsigned uid = 0;
  std::vector<unsigned> gids;
  static TUserIdentity Current();
};

struct TPortHolder {
  long long pid = 0;
  QString name;  // the process's command name
};

enum class TPortState { Free, Missing, NotPermitted, Held, NotADevice };

struct TPortCheck {
  QString device;  // the path that was tried
  TPortState state = TPortState::Free;
  QString owner;   // user and group owning the device, and its mode
  QString group;
  QString mode;
  unsigned gid = 0;
  bool groupMayReadWrite = false;  // members of the group may read and write it
  bool permitted = true;  // the user may read and write it
  std::vector<TPortHolder> holders;
  QStringList present;    // the serial devices the system has (when missing)

  // The lines shown under the open failure: the device and the cause.
  QString Explanation() const;
};

// Where the installed package keeps the udev rule example, and the one
// command that puts it in place.
QString UdevRuleExample();
QString UdevRuleCommand();

// Checks the device for the user; holders exclude this process.
TPortCheck CheckPort(const QString& device, const TUserIdentity& who = TUserIdentity::Current());
// The processes other than this one that have the device open.
std::vector<TPortHolder> PortHolders(const QString& device);
// The serial devices the system has, by their paths ("/dev/ttyUSB0").
QStringList SerialDevicesPresent();
// Advice for a known program that grabs USB-serial adapters (ModemManager,
// brltty); empty for any other.
QString GrabberAdvice(const QString& processName);
