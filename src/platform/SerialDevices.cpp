#include "platform/SerialDevices.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>

#include <algorithm>

namespace {

std::function<std::vector<TSerialDevice>()> gSource;

}  // namespace

std::vector<TSerialDevice> SystemSerialDevices(const QString& byIdFolder) {
  // Stable names: the links under /dev/serial/by-id, by the device they name.
  QHash<QString, QString> stable;
  const QDir byId(byIdFolder);
  for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
    const QString target = link.canonicalFilePath();
    if (!target.isEmpty()) stable.insert(target, link.absoluteFilePath());
  }
  std::vector<TSerialDevice> out;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    const QString path = info.systemLocation();
    if (!QFileInfo::exists(path)) continue;
    TSerialDevice d;
    d.path = path;
    d.stableName = stable.value(QFileInfo(path).canonicalFilePath());
    d.description = info.description();
    d.manufacturer = info.manufacturer();
    d.serialNumber = info.serialNumber();
    out.push_back(d);
  }
  // A stable name whose device the list lacks (a driver the enumeration
  // does not know) is still a serial device.
  for (auto it = stable.cbegin(); it != stable.cend(); ++it) {
    bool listed = false;
    for (const TSerialDevice& d : out) listed = listed || QFileInfo(d.path).canonicalFilePath() == it.key();
    if (!listed) out.push_back(TSerialDevice{it.key(), it.value(), QString(), QString(), QString()});
  }
  std::sort(out.begin(), out.end(), [](const TSerialDevice& a, const TSerialDevice& b) { return a.path < b.path; });
  return out;
}

std::vector<TSerialDevice> SerialDevices() {
  return gSource ? gSource() : SystemSerialDevices(QStringLiteral("/dev/serial/by-id"));
}

void SetSerialDeviceSource(std::function<std::vector<TSerialDevice>()> source) { gSource = std::move(source); }
