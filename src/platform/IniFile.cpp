#include "platform/IniFile.h"

#include <QFile>
#include <QSaveFile>

#include <climits>

#include "platform/Gbk.h"
#include "platform/MessageService.h"

namespace {

// "[name]" -> name, or a null text when the line is not a section line.
QString SectionName(const QString& line) {
  const QString t = line.trimmed();
  if (t.size() < 2 || !t.startsWith(QLatin1Char('[')) || !t.endsWith(QLatin1Char(']'))) return {};
  return t.mid(1, t.size() - 2).trimmed();
}

bool IsComment(const QString& line) {
  const QString t = line.trimmed();
  return t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#'));
}

// Key of a "key=value" line, or a null text.
QString KeyOf(const QString& line) {
  if (IsComment(line)) return {};
  const int eq = line.indexOf(QLatin1Char('='));
  if (eq < 0) return {};
  return line.left(eq).trimmed();
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// Index range [first, end) of the section's body lines; first = -1 when the
// section is missing.
void FindSection(const QStringList& lines, const QString& section, int& header, int& end) {
  header = -1;
  end = -1;
  for (int i = 0; i < lines.size(); ++i) {
    const QString name = SectionName(lines[i]);
    if (name.isNull()) continue;
    if (header >= 0) {
      end = i;
      return;
    }
    if (SameName(name, section)) header = i;
  }
  if (header >= 0) end = static_cast<int>(lines.size());
}

int FindKey(const QStringList& lines, int header, int end, const QString& key) {
  for (int i = header + 1; i < end; ++i) {
    const QString k = KeyOf(lines[i]);
    if (!k.isNull() && SameName(k, key)) return i;
  }
  return -1;
}

// Whole-text integer: optional sign and decimal digits, or 0x / $ hexadecimal.
bool ParseInteger(const QString& text, int& out) {
  QString t = text.trimmed();
  if (t.isEmpty()) return false;
  bool ok = false;
  qlonglong v = 0;
  if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) && t.size() > 2) {
    v = t.mid(2).toLongLong(&ok, 16);
  } else if (t.startsWith(QLatin1Char('$')) && t.size() > 1) {
    v = t.mid(1).toLongLong(&ok, 16);
  } else {
    for (int i = 0; i < t.size(); ++i) {
      const QChar c = t[i];
      if (c.isDigit() && c.unicode() < 128) continue;
      if (i == 0 && (c == QLatin1Char('-') || c == QLatin1Char('+')) && t.size() > 1) continue;
      return false;
    }
    v = t.toLongLong(&ok, 10);
  }
  if (!ok || v < INT_MIN || v > INT_MAX) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

TIniFile::TIniFile(const QString& fileName) : FFileName(fileName) {}

QStringList TIniFile::Load() const {
  QFile f(FFileName);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QString text = FromGbk(f.readAll());
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QStringList lines = text.split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

void TIniFile::Store(const QStringList& lines) const {
  QSaveFile f(FFileName);
  QByteArray bytes;
  for (const QString& l : lines) {
    bytes += ToGbk(l);
    bytes += "\r\n";
  }
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
    throw EAppError(QStringLiteral("无法写入文件“%1”：%2").arg(FFileName, f.errorString()));
  }
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
  const QStringList lines = Load();
  int header = 0, end = 0;
  FindSection(lines, section, header, end);
  if (header < 0) return def;
  const int i = FindKey(lines, header, end, key);
  if (i < 0) return def;
  QString value = lines[i].mid(lines[i].indexOf(QLatin1Char('=')) + 1).trimmed();
  // A value written in quotes reads without them.
  if (value.size() >= 2 && ((value.startsWith('"') && value.endsWith('"')) ||
                            (value.startsWith('\'') && value.endsWith('\'')))) {
    value = value.mid(1, value.size() - 2);
  }
  return value;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const {
  int v = def;
  return ParseInteger(ReadString(section, key, QString()), v) ? v : def;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& text) {
  // A value is one line: a line break inside it (a pasted text) would start
  // new lines that read as keys or sections of their own and break the file.
  QString value = text;
  value.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  QStringList lines = Load();
  int header = 0, end = 0;
  FindSection(lines, section, header, end);
  if (header < 0) {
    if (!lines.isEmpty() && !lines.last().trimmed().isEmpty()) lines << QString();
    lines << QStringLiteral("[%1]").arg(section) << QStringLiteral("%1=%2").arg(key, value);
  } else {
    const int i = FindKey(lines, header, end, key);
    if (i >= 0) {
      lines[i] = QStringLiteral("%1=%2").arg(KeyOf(lines[i]), value);
    } else {
      // After the section's last non-blank line, so blank separators stay below it.
      int at = end;
      while (at > header + 1 && lines[at - 1].trimmed().isEmpty()) --at;
      lines.insert(at, QStringLiteral("%1=%2").arg(key, value));
    }
  }
  Store(lines);
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
  WriteString(section, key, QString::number(value));
}
