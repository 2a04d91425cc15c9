#pragma once
// Replication of the local results history with a team's database, in both
// directions: results stored here and not yet on the team database go up
// (each test once, whatever PC sends it first), results other PCs stored
// come down, from the last place read on that database. A worker thread of
// its own does it, with its own connection to the local store; the window
// only stores locally and is told the state of the link.
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "history/TeamStore.h"

class TResultStore;

// The state of the link as the history tab shows it.
struct TSyncState {
  enum TKind { Off, Synced, Pending, Unreachable };
  TKind kind = Off;
  int pending = 0;  // results the team database does not have yet
  QString why;      // Unreachable: the reason
  // "团队数据库：已同步", "团队数据库：待同步 12 条",
  // "团队数据库：无法连接（原因），本机结果照常保存（待同步 12 条）"; empty when Off.
  QString Text() const;
};

// What one pass moved.
struct TSyncReport {
  int pushed = 0;   // results new to the team database
  int pulled = 0;   // results new to this store
  int pending = 0;  // left to send
};

// One pass over a connected link: what the team lacks goes up, what is new
// there comes down; the criteria too (the last one stored wins). A team
// database other than the one this store last met has every result sent
// again. Throws EAppError; what was done before stays done.
TSyncReport SyncOnce(TResultStore& local, TTeamLink& team, const std::atomic<bool>* stop = nullptr);

class THistorySync {
 public:
  // Called on the worker thread whenever the state changes.
  using TOnState = std::function<void(const TSyncState&)>;
  // Called on the worker thread after a pass brought results from the team.
  using TOnPulled = std::function<void(int count)>;

  THistorySync(const QString& localFile, const TTeamConfig& config, TOnState onState, TOnPulled onPulled = {});
  // Stops the worker: it ends within 100 ms of a wait on the network.
  ~THistorySync();
  THistorySync(const THistorySync&) = delete;
  THistorySync& operator=(const THistorySync&) = delete;

  // New results are in the local store: a pass soon (at once when the
  // team database was reachable, else when its back-off ends).
  void Kick();
  TSyncState State() const;
  // Passes completed since the start (for tests and benchmarks).
  int Passes() const { return FPasses.load(); }

 private:
  void Run();
  void Publish(const TSyncState& state);

  QString FLocalFile;
  TTeamConfig FConfig;
  TOnState FOnState;
  TOnPulled FOnPulled;
  mutable std::mutex FLock;
  std::condition_variable FWake;
  bool FKicked = false;
  std::atomic<bool> FStop{false};
  std::atomic<int> FPasses{0};
  TSyncState FState;
  std::thread FThread;
};
