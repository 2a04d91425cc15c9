#pragma once
// Guard against a second running copy of the program.
//
// The guard is an exclusive lock (flock) on a file named after the guard in
// the user's runtime folder (XDG_RUNTIME_DIR, else the temporary folder with
// the user id in the name). The system releases the lock when the holding
// process ends in any way, so a copy that crashed never blocks the next start.
#include <QString>

class TSingleInstance {
 public:
  // Tries to take the guard of this name.
  explicit TSingleInstance(const QString& name);
  ~TSingleInstance();
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // True when no other running process holds the guard. When the lock file
  // cannot be created at all the program is not kept from running.
  bool IsFirst() const { return FFirst; }
  QString LockFileName() const { return FFileName; }

 private:
  QString FFileName;
  int FFd = -1;
  bool FFirst = true;
};

// Folder of the lock files; tests use a scratch folder. Empty restores the
// runtime folder.
void SetSingleInstanceDir(const QString& dir);
QString SingleInstanceDir();

// The start check of the program: true when this is the only running copy;
// otherwise shows the plain box "您已运行了本软件。" (no icon, caption
// "三通道回路电阻测试仪") and returns false.
bool FirstInstanceOrNotice(const TSingleInstance& guard);

// The program's guard name.
inline const QString kInstanceName = QStringLiteral("RunOnlyOn_QK4820Resistance");
// The notice of a second start.
inline const QString kAlreadyRunning = QStringLiteral("您已运行了本软件。");
