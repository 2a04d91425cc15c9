#include "platform/IniFile.h"

#include <QFile>

#include <sys/stat.h>

#include <cerrno>

#include "platform/FileIo.h"
#include "platform/Gbk.h"
#include "platform/MessageService.h"
#include "platform/Numbers.h"

namespace {

using TLine = TIniFile::TLine;

const QByteArray kLineEnd("\r\n");

// Splits the file at CR LF, LF and lone CR; each line keeps its own end.
std::vector<TLine> SplitLines(const QByteArray& bytes) {
  std::vector<TLine> lines;
  qsizetype start = 0;
  const qsizetype n = bytes.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char c = bytes[i];
    if (c != '\n' && c != '\r') continue;
    const qsizetype endLen = (c == '\r' && i + 1 < n && bytes[i + 1] == '\n') ? 2 : 1;
    lines.push_back(TLine{bytes.mid(start, i - start), bytes.mid(i, endLen)});
    i += endLen - 1;
    start = i + 1;
  }
  if (start < n) lines.push_back(TLine{bytes.mid(start), QByteArray()});
  return lines;
}

// "[name]" or "[name] comment" -> name, or a null text when the line is not a
// section line. Names are compared as text, so the line is decoded first (a
// GBK trail byte may have the value of ']').
QString SectionName(const TLine& line) {
  const QString t = FromGbk(line.bytes).trimmed();
  if (!t.startsWith(QLatin1Char('['))) return {};
  const qsizetype close = t.indexOf(QLatin1Char(']'));
  if (close < 0) return {};
  return t.mid(1, close - 1).trimmed();
}

bool IsComment(const QByteArray& bytes) {
  const QByteArray t = bytes.trimmed();
  return t.startsWith(';') || t.startsWith('#');
}

// Position of the '=' of a "key=value" line, or -1. '=' is never the second
// byte of a GBK character, so it can be looked for in the bytes.
qsizetype EqualsAt(const TLine& line) {
  if (IsComment(line.bytes)) return -1;
  return line.bytes.indexOf('=');
}

QString KeyOf(const TLine& line) {
  const qsizetype eq = EqualsAt(line);
  if (eq < 0) return {};
  return FromGbk(line.bytes.left(eq)).trimmed();
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// [header, end) of the section's lines; header = -1 when it is missing.
void FindSection(const std::vector<TLine>& lines, const QString& section, int& header, int& end) {
  header = -1;
  end = -1;
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    const QString name = SectionName(lines[static_cast<size_t>(i)]);
    if (name.isNull()) continue;
    if (header >= 0) {
      end = i;
      return;
    }
    if (SameName(name, section)) header = i;
  }
  if (header >= 0) end = static_cast<int>(lines.size());
}

int FindKey(const std::vector<TLine>& lines, int header, int end, const QString& key) {
  for (int i = header + 1; i < end; ++i) {
    const QString k = KeyOf(lines[static_cast<size_t>(i)]);
    if (!k.isNull() && SameName(k, key)) return i;
  }
  return -1;
}

bool IsBlank(const TLine& line) { return line.bytes.trimmed().isEmpty(); }

}  // namespace

namespace {
int gFileReads = 0;
int gFileStores = 0;
}  // namespace

int TIniFile::FileReads() { return gFileReads; }
int TIniFile::FileStores() { return gFileStores; }

TIniFile::TIniFile(const QString& fileName) : FFileName(fileName) {}

TIniFile::TStamp TIniFile::CurrentStamp() const {
  TStamp st;
  struct stat sb {};
  if (::stat(QFile::encodeName(FFileName).constData(), &sb) != 0) return st;
  st.exists = true;
  st.size = sb.st_size;
  st.mtimeNs = qint64(sb.st_mtim.tv_sec) * 1000000000 + sb.st_mtim.tv_nsec;
  st.inode = sb.st_ino;
  return st;
}

void TIniFile::Load() const {
  FLines.clear();
  FLoadError = 0;
  FStamp = CurrentStamp();
  QByteArray bytes;
  int err = 0;
  ++gFileReads;
  if (ReadWholeFile(FFileName, bytes, err)) {
    FLines = SplitLines(bytes);
  } else if (err != ENOENT) {
    FLoadError = err;
  }
  FLoaded = true;
}

void TIniFile::EnsureLoaded() const {
  if (!FLoaded) {
    Load();
    return;
  }
  // Someone else stored the file since it was read (a look at its state,
  // not a read): take their version, with this document's unstored changes
  // on top, so nothing written meanwhile is lost or overlooked.
  if (!(CurrentStamp() == FStamp)) {
    Load();
    for (const TChange& c : FChanges) Apply(FLines, c);
  }
}

void TIniFile::Reload() {
  Load();
  FChanges.clear();
  FDirty = false;
}

bool TIniFile::FindValue(const QString& section, const QString& key, QByteArray& value) const {
  EnsureLoaded();
  const std::vector<TLine>& lines = FLines;
  int header = 0, end = 0;
  FindSection(lines, section, header, end);
  if (header < 0) return false;
  const int i = FindKey(lines, header, end, key);
  if (i < 0) return false;
  const TLine& line = lines[static_cast<size_t>(i)];
  value = line.bytes.mid(EqualsAt(line) + 1).trimmed();
  // A value written in quotes reads without them.
  if (value.size() >= 2 && ((value.startsWith('"') && value.endsWith('"')) ||
                            (value.startsWith('\'') && value.endsWith('\'')))) {
    value = value.mid(1, value.size() - 2);
  }
  return true;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
  QByteArray value;
  if (!FindValue(section, key, value)) return def;
  return FromGbk(value);
}

QByteArray TIniFile::ReadBytes(const QString& section, const QString& key) const {
  QByteArray value;
  if (!FindValue(section, key, value)) return {};
  return value;
}

QStringList TIniFile::ReadSectionKeys(const QString& section) const {
  EnsureLoaded();
  int header = 0, end = 0;
  FindSection(FLines, section, header, end);
  QStringList keys;
  for (int i = header + 1; header >= 0 && i < end; ++i) {
    const QString k = KeyOf(FLines[static_cast<size_t>(i)]);
    if (!k.isNull()) keys << k;
  }
  return keys;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const {
  int v = def;
  return TryStrToInt(ReadString(section, key, QString()), v) ? v : def;
}

void TIniFile::Apply(std::vector<TLine>& lines, const TChange& change) {
  // A line that has none gets a line end before another line follows it.
  auto terminate = [&lines](int i) {
    if (i >= 0 && lines[static_cast<size_t>(i)].end.isEmpty()) lines[static_cast<size_t>(i)].end = kLineEnd;
  };
  int header = 0, end = 0;
  FindSection(lines, change.section, header, end);
  if (header < 0) {
    const int last = static_cast<int>(lines.size()) - 1;
    terminate(last);
    if (last >= 0 && !IsBlank(lines.back())) lines.push_back(TLine{QByteArray(), kLineEnd});
    lines.push_back(TLine{ToGbk(QStringLiteral("[%1]").arg(change.section)), kLineEnd});
    lines.push_back(TLine{ToGbk(change.key) + '=' + change.value, kLineEnd});
    return;
  }
  const int i = FindKey(lines, header, end, change.key);
  if (i >= 0) {
    TLine& line = lines[static_cast<size_t>(i)];
    line.bytes = line.bytes.left(EqualsAt(line)).trimmed() + '=' + change.value;
    return;
  }
  // After the section's last non-blank line, so blank separators stay below it.
  int at = end;
  while (at > header + 1 && IsBlank(lines[static_cast<size_t>(at - 1)])) --at;
  terminate(at - 1);
  lines.insert(lines.begin() + at, TLine{ToGbk(change.key) + '=' + change.value, kLineEnd});
}

namespace {
// Whatever a file that could not be read holds (the port mapping, every
// parameter) would be lost if it were replaced by the keys being written.
EAppError Unreadable(const QString& fileName, int err) {
  return EAppError(CannotReadText(fileName, err) + QStringLiteral("\n\n为免丢失其中的设置，未写入该文件。"));
}
}  // namespace

void TIniFile::BeginUpdate() {
  EnsureLoaded();
  if (FLoadError != 0) throw Unreadable(FFileName, FLoadError);
  ++FUpdates;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& text) {
  EnsureLoaded();
  if (FLoadError != 0) throw Unreadable(FFileName, FLoadError);
  // A value is one line: a line break inside it (a pasted text) would start
  // new lines that read as keys or sections of their own and break the file.
  QString value = text;
  value.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  const TChange change{section, key, ToGbk(value)};
  Apply(FLines, change);
  FChanges.push_back(change);
  FDirty = true;
  if (FUpdates == 0) Store();
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
  WriteString(section, key, QString::number(value));
}

void TIniFile::EndUpdate() {
  if (FUpdates > 0) --FUpdates;
  if (FUpdates == 0 && FDirty) Store();
}

void TIniFile::Store() {
  EnsureLoaded();
  if (FLoadError != 0) throw Unreadable(FFileName, FLoadError);
  QByteArray bytes;
  for (const TLine& l : FLines) bytes += l.bytes + l.end;
  ++gFileStores;
  // Settings are the user's own: a new file is readable by its owner only.
  ReplaceFileContents(FFileName, bytes, 0600);
  FStamp = CurrentStamp();
  FChanges.clear();
  FDirty = false;
}
