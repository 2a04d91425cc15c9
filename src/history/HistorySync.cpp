#include "history/HistorySync.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "history/ResultStore.h"
#include "platform/MessageService.h"

namespace {

constexpr int kPushBatch = 500;
constexpr int kPullBatch = 2000;
// Between passes when nothing is stored here: what other PCs store comes
// down within this time.
constexpr std::chrono::seconds kIdlePass{30};
constexpr std::chrono::seconds kFirstBackOff{1};
constexpr std::chrono::seconds kLastBackOff{60};

const QString kDatabaseKey = QStringLiteral("team_database");
const QString kCursorKey = QStringLiteral("team_cursor");

bool Stopped(const std::atomic<bool>* stop) { return stop && stop->load(); }

}  // namespace

QString TSyncState::Text() const {
  switch (kind) {
    case Off: return {};
    case Synced: return QStringLiteral("团队数据库：已同步");
    case Pending: return QStringLiteral("团队数据库：待同步 %1 条").arg(pending);
    case Unreachable: {
      QString t = QStringLiteral("团队数据库：无法连接（%1），本机结果照常保存").arg(why);
      if (pending > 0) t += QStringLiteral("（待同步 %1 条）").arg(pending);
      return t;
    }
  }
  return {};
}

TSyncReport SyncOnce(TResultStore& local, TTeamLink& team, const std::atomic<bool>* stop) {
  TSyncReport report;
  team.Connect();
  // Another team database (or the same one made anew): it has none of ours.
  if (local.Meta(kDatabaseKey) != team.DatabaseId()) {
    local.ResetSync();
    local.SetMeta(kCursorKey, QStringLiteral("0"));
    local.SetMeta(kDatabaseKey, team.DatabaseId());
  }
  for (;;) {
    if (Stopped(stop)) throw EAppError(QStringLiteral("已停止"));
    const std::vector<TStoredResult> batch = local.Pending(kPushBatch);
    if (batch.empty()) break;
    report.pushed += team.Push(batch);
    local.MarkSynced(batch);
    // A batch changed here while it was sent stays pending for the next
    // pass rather than keeping this one going.
    if (int(batch.size()) < kPushBatch) break;
  }
  const auto criteria = local.PendingCriteria();
  if (!criteria.empty()) {
    team.PushCriteria(criteria);
    local.MarkCriteriaSynced(criteria);
  }
  local.MergeCriteria(team.PullCriteria());
  qint64 cursor = local.Meta(kCursorKey).toLongLong();
  for (;;) {
    if (Stopped(stop)) throw EAppError(QStringLiteral("已停止"));
    const std::vector<TStoredResult> rows = team.Pull(cursor, kPullBatch);
    if (rows.empty()) break;
    report.pulled += local.Merge(rows);
    local.SetMeta(kCursorKey, QString::number(cursor));
  }
  report.pending = local.PendingCount();
  return report;
}

THistorySync::THistorySync(const QString& localFile, const TTeamConfig& config, TOnState onState, TOnPulled onPulled)
    : FLocalFile(localFile), FConfig(config), FOnState(std::move(onState)), FOnPulled(std::move(onPulled)) {
  FThread = std::thread([this] { Run(); });
}

THistorySync::~THistorySync() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FStop = true;
  }
  FWake.notify_all();
  if (FThread.joinable()) FThread.join();
}

void THistorySync::Kick() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FKicked = true;
  }
  FWake.notify_all();
}

TSyncState THistorySync::State() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FState;
}

void THistorySync::Publish(const TSyncState& state) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FState = state;
  }
  if (FOnState) FOnState(state);
}

void THistorySync::Run() {
  std::unique_ptr<TResultStore> local;
  TTeamLink team(FConfig, &FStop);
  auto backOff = std::chrono::duration_cast<std::chrono::steady_clock::duration>(kFirstBackOff);
  auto nextTry = std::chrono::steady_clock::now();
  bool reachable = true;
  const QString refused = FConfig.OptionsError();
  while (!FStop) {
    TSyncState state;
    try {
      if (!local) local = std::make_unique<TResultStore>(FLocalFile);
      state.pending = local->PendingCount();
    } catch (const EAppError& e) {
      local.reset();
      state.kind = TSyncState::Unreachable;
      state.why = e.Text();
    }
    const auto now = std::chrono::steady_clock::now();
    if (local && !refused.isEmpty()) {
      state.kind = TSyncState::Unreachable;
      state.why = refused;
    } else if (local && (reachable || now >= nextTry)) {
      try {
        const TSyncReport report = SyncOnce(*local, team, &FStop);
        state.kind = report.pending == 0 ? TSyncState::Synced : TSyncState::Pending;
        state.pending = report.pending;
        reachable = true;
        backOff = kFirstBackOff;
        if (report.pulled > 0 && FOnPulled) FOnPulled(report.pulled);
      } catch (const EAppError& e) {
        if (FStop) break;
        team.Close();
        reachable = false;
        nextTry = std::chrono::steady_clock::now() + backOff;
        backOff = std::min<std::chrono::steady_clock::duration>(backOff * 2, kLastBackOff);
        state.kind = TSyncState::Unreachable;
        state.why = e.Text();
        try {
          state.pending = local->PendingCount();
        } catch (const EAppError&) {
        }
      }
    } else {
      // Waiting out the back-off: the count of what waits is still news.
      state.kind = TSyncState::Unreachable;
      state.why = State().why;
    }
    ++FPasses;
    Publish(state);
    std::unique_lock<std::mutex> lock(FLock);
    const auto until = reachable && refused.isEmpty() ? std::chrono::steady_clock::now() + kIdlePass
                       : refused.isEmpty()            ? nextTry
                                                      : std::chrono::steady_clock::now() + kLastBackOff;
    FWake.wait_until(lock, until, [this] { return FStop.load() || FKicked; });
    FKicked = false;
  }
}
