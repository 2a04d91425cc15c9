#pragma once
// Profile (INI) files as the settings file uses them.
//
// Sections and keys compare without regard to case. A section line is "[name]",
// possibly followed by a comment ("[SetParam] ; test parameters"). A missing
// file, section or key reads as the default given; an integer that is not a
// number reads as the default. Writing a key keeps every other line of the
// file byte for byte as it stood (order, unknown sections and keys, comments,
// bytes that are not GBK, line ends) and creates the file, the section and the
// key when missing. The program's own lines are GBK with CR LF. Every write
// stores the whole file through a temporary file that is renamed over the old
// one, so a crash or a full disk never leaves a truncated file; a file that
// exists but cannot be read is never written over.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

class TIniFile {
 public:
  explicit TIniFile(const QString& fileName);

  const QString& FileName() const { return FFileName; }

  QString ReadString(const QString& section, const QString& key, const QString& def) const;
  int ReadInteger(const QString& section, const QString& key, int def) const;
  // The value's bytes as they stand in the file (for device paths, which are
  // used by their bytes whatever the file's encoding); empty when missing.
  QByteArray ReadBytes(const QString& section, const QString& key) const;
  // Throw EAppError naming the file and the cause when it cannot be read or
  // written. A line break in a value is written as a blank, so a value always
  // stays on its line.
  void WriteString(const QString& section, const QString& key, const QString& value);
  void WriteInteger(const QString& section, const QString& key, int value);

  // One line of the file: its bytes without the line end, and the line end
  // as it stood ("\r\n", "\n", "\r", or empty for a last line without one).
  struct TLine {
    QByteArray bytes;
    QByteArray end;
  };

 private:
  // The file's lines; false with the error number when it exists but cannot
  // be read (a missing file is an empty one).
  bool Load(std::vector<TLine>& lines, int& err) const;
  // The raw value of key in section, or false when missing.
  bool FindValue(const QString& section, const QString& key, QByteArray& value) const;

  QString FFileName;
};
