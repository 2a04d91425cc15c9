// libFuzzer target: SystemFile.ini as another program (or a damaged disk)
// may have left it. The file is read, a key written and read back; every
// other line stays as it stood.
#include <QByteArray>
#include <QFile>
#include <QString>

#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "platform/IniFile.h"
#include "platform/MessageService.h"

namespace {
// On a memory file system: the settings file is stored with a flush to disk.
QString ScratchFile() {
  static const QString name = QStringLiteral("/dev/shm/qk-fuzz-ini-%1.ini").arg(::getpid());
  return name;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString name = ScratchFile();
  {
    QFile f(name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
    f.write(reinterpret_cast<const char*>(data), qint64(size));
  }
  TIniFile ini(name);
  (void)ini.ReadString(QStringLiteral("SetParam"), QStringLiteral("strPhase"), QString());
  (void)ini.ReadInteger(QStringLiteral("Communication"), QStringLiteral("giCommPort"), 3);
  (void)ini.ReadBytes(QStringLiteral("Ports"), QStringLiteral("COM3"));
  for (const QString& key : ini.ReadSectionKeys(QStringLiteral("Ports"))) (void)ini.ReadBytes(QStringLiteral("Ports"), key);
  try {
    ini.WriteString(QStringLiteral("RestParam"), QStringLiteral("strDevice"), QStringLiteral("QK355 设备"));
    ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("left"), 17);
  } catch (const EAppError&) {
    return 0;
  }
  // What was written reads back, from the document and from the file.
  TIniFile again(name);
  for (const TIniFile* doc : {&ini, &again}) {
    if (doc->ReadString(QStringLiteral("RestParam"), QStringLiteral("strDevice"), QString()) != QStringLiteral("QK355 设备")) {
      __builtin_trap();
    }
    if (doc->ReadInteger(QStringLiteral("Screen"), QStringLiteral("left"), 0) != 17) __builtin_trap();
  }
  return 0;
}
