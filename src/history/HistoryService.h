#pragma once
// The history as the program uses it: the local store in the settings
// folder, checked for damage when it opens (in the background: a million
// results take a second) and after an error; a damaged store kept for
// reading only, with new results going to a fresh store beside it; the
// replication to a team database, when [Database] names one, on a worker of
// its own. No widget here: the main window shows what this says.
#include <QString>

#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include "history/HistorySync.h"
#include "history/ResultStore.h"
#include "history/TeamStore.h"

class THistoryService {
 public:
  // folder: where results.sqlite is kept; team: the team database the
  // settings name, read again on Reconfigure.
  THistoryService(const QString& folder, std::function<TTeamConfig()> team);
  ~THistoryService();
  THistoryService(const THistoryService&) = delete;
  THistoryService& operator=(const THistoryService&) = delete;

  // Called on another thread: the replication's state changed; the
  // background check of the file ended (call ApplyCheck on the window's
  // thread); results came from the team database.
  std::function<void(const TSyncState&)> OnSyncState;
  std::function<void()> OnChecked;
  std::function<void(int)> OnPulled;

  // Opens the store (once; later calls return it). Null when it cannot be
  // opened; Why() says why.
  TResultStore* Reading();
  // Stores results in the local store (the fresh one beside a damaged
  // store), then lets the replication know. Throws EAppError when they could
  // not be stored: they are kept in memory then, and go in with the next
  // results that can be stored.
  TAddCount Store(const std::vector<TNewResult>& results);
  // Results of this run that wait for a store that takes them.
  int Unsaved() const { return int(FUnsaved.size()); }

  // Why the history cannot be used, or why the last results could not be
  // stored; empty when they were.
  QString Why() const { return FWhy; }
  // "历史记录数据库已损坏（…），只读打开；请从备份恢复或导出可读部分" once
  // damage was found; empty before.
  QString Damage() const { return FDamage; }
  // Where new results go when the store is damaged.
  QString FreshFile() const { return FFreshFile; }
  TSyncState SyncState() const;

  // Takes the result of the background check, when it has ended: a
  // damaged store is reopened for reading only. Returns true when damage
  // was found just now.
  bool ApplyCheck();
  // Checks the file now (after a read error); true when damage was found.
  bool CheckNow();
  // The settings changed: the replication follows the team database they
  // name now.
  void Reconfigure();

 private:
  void Open();
  void Damaged(const QString& why);
  void StartSync();
  TResultStore* Writing();

  QString FFolder;
  QString FFile;
  std::function<TTeamConfig()> FTeam;
  bool FOpened = false;
  std::unique_ptr<TResultStore> FStore;  // the store read (read-only once damaged)
  std::unique_ptr<TResultStore> FFresh;  // new results beside a damaged store
  QString FFreshFile;
  QString FWhy;
  QString FDamage;
  std::future<QString> FCheck;
  std::vector<TNewResult> FUnsaved;
  std::unique_ptr<THistorySync> FSync;
};
