#pragma once
// Profile (INI) files as the settings file uses them.
//
// Sections and keys compare without regard to case. A section line is "[name]",
// possibly followed by a comment ("[SetParam] ; test parameters"). A missing
// file, section or key reads as the default given; an integer that is not a
// number reads as the default. Writing a key keeps every other line of the
// file byte for byte as it stood (order, unknown sections and keys, comments,
// bytes that are not GBK, line ends) and creates the file, the section and the
// key when missing. The program's own lines are GBK with CR LF. Every store
// writes the whole file through a temporary file that is renamed over the old
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

  // The file is read once, at the first use, and kept as a document in
  // memory; it is read again only when someone else has stored it since
  // (its size, time or identity changed), or on Reload.
  void Reload();

  QString ReadString(const QString& section, const QString& key, const QString& def) const;
  int ReadInteger(const QString& section, const QString& key, int def) const;
  // The value's bytes as they stand in the file (for device paths, which are
  // used by their bytes whatever the file's encoding); empty when missing.
  QByteArray ReadBytes(const QString& section, const QString& key) const;
  // The keys of a section in file order; none when it is missing.
  QStringList ReadSectionKeys(const QString& section) const;
  // Each write changes the document and stores the file at once, unless an
  // update is open (BeginUpdate): then the file is stored once, at
  // EndUpdate. Throw EAppError naming the file and the cause when it cannot
  // be read or written. A line break in a value is written as a blank, so a
  // value always stays on its line.
  void WriteString(const QString& section, const QString& key, const QString& value);
  void WriteInteger(const QString& section, const QString& key, int value);
  // BeginUpdate throws, before anything changes, when the file exists but
  // cannot be read; the writes of an open update then cannot fail.
  void BeginUpdate();
  void EndUpdate();

  // Times any TIniFile read or stored a file since the program started.
  static int FileReads();
  static int FileStores();

  // One line of the file: its bytes without the line end, and the line end
  // as it stood ("\r\n", "\n", "\r", or empty for a last line without one).
  struct TLine {
    QByteArray bytes;
    QByteArray end;
  };

 private:
  struct TChange {
    QString section;
    QString key;
    QByteArray value;  // GBK
  };
  // What identifies the file's state on disk: a store of someone else
  // changes it.
  struct TStamp {
    bool exists = false;
    qint64 size = 0;
    qint64 mtimeNs = 0;
    quint64 inode = 0;
    bool operator==(const TStamp& o) const {
      return exists == o.exists && size == o.size && mtimeNs == o.mtimeNs && inode == o.inode;
    }
  };

  void EnsureLoaded() const;
  void Load() const;
  TStamp CurrentStamp() const;
  static void Apply(std::vector<TLine>& lines, const TChange& change);
  void Store();
  // The raw value of key in section, or false when missing.
  bool FindValue(const QString& section, const QString& key, QByteArray& value) const;

  QString FFileName;
  mutable bool FLoaded = false;
  mutable int FLoadError = 0;  // errno of a file that exists but cannot be read
  mutable std::vector<TLine> FLines;
  mutable TStamp FStamp;
  std::vector<TChange> FChanges;  // writes not stored yet
  int FUpdates = 0;
  bool FDirty = false;
};
