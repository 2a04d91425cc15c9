#pragma once
// Whole-file reads and safe replacement of files, with failures told in words
// an operator can act on.
//
// A replaced file is written to a temporary file in the same folder, every
// write is checked for its full length, the data are flushed to disk and the
// temporary file is then renamed over the target: a full disk, a missing
// permission or a crash never leaves a cut or empty file where the old one
// stood. A replaced file keeps its permissions; a new one gets the user's
// usual ones (0666 less the umask).
#include <QByteArray>
#include <QString>

#include <functional>

// Chinese cause of a system error number, for example "磁盘已满" for ENOSPC.
QString ErrnoCause(int err);
// The cause followed by the system's own text as a detail:
// "磁盘已满（No space left on device）".
QString ErrnoText(int err);

// Reads the whole file. On failure returns false with the error number.
bool ReadWholeFile(const QString& fileName, QByteArray& bytes, int& err);

// "无法写入文件'name'：cause（detail）"
QString CannotWriteText(const QString& fileName, int err);
// "无法读取文件'name'：cause（detail）"
QString CannotReadText(const QString& fileName, int err);

// Makes the folder (and its parents) when it is not there; the folder
// itself is then its owner's alone (0700). An existing folder keeps its
// permissions. False when it cannot be made.
bool MakePrivateDir(const QString& path);

// Replaces the file's contents with bytes as described above. Throws EAppError
// with CannotWriteText when any step fails; the old file is then unchanged.
// A file that does not exist yet is made with newFileMode (-1: as the umask
// allows); an existing one keeps its own.
void ReplaceFileContents(const QString& fileName, const QByteArray& bytes, int newFileMode = -1);

// The same, the contents written a piece at a time as produce hands them to
// put: a large file never stands whole in memory.
using TPut = std::function<void(const char* data, qsizetype size)>;
void ReplaceFileContentsWith(const QString& fileName, const std::function<void(const TPut& put)>& produce,
                             int newFileMode = -1);

// The same protocol for a writer that creates the file under a name of its
// own: reserve a temporary name beside the target, let the writer fill it,
// then Commit. Until Commit succeeds the target is untouched; the temporary
// file is removed when the object goes without a commit.
class TFileReplacement {
 public:
  // Throws EAppError when no temporary file can be made beside the target.
  explicit TFileReplacement(const QString& fileName, int newFileMode = -1);
  ~TFileReplacement();
  TFileReplacement(const TFileReplacement&) = delete;
  TFileReplacement& operator=(const TFileReplacement&) = delete;

  const QString& TempName() const { return FTempName; }
  const QString& FileName() const { return FFileName; }
  // Flushes the temporary file to disk, gives it the permissions and renames
  // it over the target. Throws EAppError on failure.
  void Commit();

 private:
  QString FFileName;
  QString FTempName;
  bool FDone = false;
  int FNewFileMode = -1;
};
