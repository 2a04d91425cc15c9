#include "platform/PortNames.h"

#include <QFile>
#include <QRegularExpression>

#include "platform/IniFile.h"

QString ResolvePortDevice(const QString& portName, const QString& settingsFile) {
  return ResolvePortDevice(portName, TIniFile(settingsFile));
}

QString ResolvePortDevice(const QString& portName, const TIniFile& settings) {
#ifdef Q_OS_WIN
  Q_UNUSED(settings);
  return portName;
#else
  // A device path is used by its bytes as they stand in the file, whatever
  // wrote it (the program, a script, a UTF-8 editor): file names are bytes.
  const QString mapped = QFile::decodeName(settings.ReadBytes(QStringLiteral("Ports"), portName));
  if (!mapped.isEmpty()) return mapped;
  static const QRegularExpression re(QStringLiteral("^COM(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
  const auto m = re.match(portName);
  if (m.hasMatch()) {
    bool ok = false;
    const int n = m.captured(1).toInt(&ok);
    if (ok && n >= 1) return QStringLiteral("/dev/ttyS%1").arg(n - 1);
  }
  // COM0 or a name of another form: no device of that name exists.
  return QStringLiteral("/dev/nonexistent-") + portName;
#endif
}
