#pragma once
// Profile (INI) files as the settings file uses them.
//
// Sections and keys compare without regard to case. A missing file, section
// or key reads as the default given; an integer that is not a number reads as
// the default. Writing a key keeps every other line of the file as it stood
// (order, unknown sections and keys, comments) and creates the file, the
// section and the key when missing. The file is GBK on disk. Every write
// stores the whole file through a temporary file that is renamed over the
// old one, so a crash or a full disk never leaves a truncated file.
#include <QString>
#include <QStringList>

class TIniFile {
 public:
  explicit TIniFile(const QString& fileName);

  const QString& FileName() const { return FFileName; }

  QString ReadString(const QString& section, const QString& key, const QString& def) const;
  int ReadInteger(const QString& section, const QString& key, int def) const;
  // Throw EAppError naming the file when it cannot be written. A line break
  // in a value is written as a blank, so a value always stays on its line.
  void WriteString(const QString& section, const QString& key, const QString& value);
  void WriteInteger(const QString& section, const QString& key, int value);

 private:
  QStringList Load() const;
  void Store(const QStringList& lines) const;

  QString FFileName;
};
