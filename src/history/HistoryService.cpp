#include "history/HistoryService.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>

#include "platform/MessageService.h"

THistoryService::THistoryService(const QString& folder, std::function<TTeamConfig()> team)
    : FFolder(folder), FFile(QDir(folder).filePath(QStringLiteral("results.sqlite"))), FTeam(std::move(team)) {}

THistoryService::~THistoryService() {
  FSync.reset();  // stops the worker before the stores go
  if (FCheck.valid()) FCheck.wait();
}

TResultStore* THistoryService::Reading() {
  if (!FOpened) Open();
  return FStore ? FStore.get() : FFresh.get();
}

void THistoryService::Open() {
  FOpened = true;
  try {
    FStore = std::make_unique<TResultStore>(FFile);
  } catch (const EAppError& e) {
    // A file SQLite cannot read as a database, or whose pages are broken,
    // is damaged; any other failure (a newer program's store, a folder
    // without rights) leaves the history unusable and says why.
    if (QFileInfo::exists(FFile) && !TResultStore::QuickCheck(FFile).isEmpty()) {
      Damaged(e.Text());
    } else {
      FWhy = e.Text();
    }
    return;
  }
  // The whole file is read for the check: not on the window's thread.
  const QString file = FFile;
  auto done = OnChecked;
  FCheck = std::async(std::launch::async, [file, done] {
    QString why = TResultStore::QuickCheck(file);
    if (done) done();
    return why;
  });
  StartSync();
}

void THistoryService::Damaged(const QString& why) {
  FDamage = QStringLiteral("历史记录数据库已损坏（%1），只读打开；请从备份恢复或导出可读部分").arg(why);
  FSync.reset();
  FStore.reset();
  try {
    FStore = std::make_unique<TResultStore>(FFile, TResultStore::TMode::ReadOnly);
  } catch (const EAppError&) {
    FStore.reset();  // nothing of it can be read: the fresh store is shown
  }
  FFreshFile = QDir(FFolder).filePath(QStringLiteral("results-%1.sqlite").arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
  try {
    FFresh = std::make_unique<TResultStore>(FFreshFile);
    FWhy = FDamage;
  } catch (const EAppError& e) {
    FFresh.reset();
    FWhy = FDamage + QStringLiteral("；") + e.Text();
  }
  StartSync();
}

bool THistoryService::ApplyCheck() {
  if (!FCheck.valid() || FCheck.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return false;
  const QString why = FCheck.get();
  if (why.isEmpty() || !FDamage.isEmpty()) return false;
  Damaged(why);
  return true;
}

bool THistoryService::CheckNow() {
  if (!FDamage.isEmpty() || !FStore) return false;
  if (FCheck.valid()) {
    FCheck.wait();
    if (ApplyCheck()) return true;
  }
  const QString why = TResultStore::QuickCheck(FFile);
  if (why.isEmpty()) return false;
  Damaged(why);
  return true;
}

TResultStore* THistoryService::Writing() {
  if (!FOpened) Open();
  // The first results wait for the check of the file they would go into.
  if (FCheck.valid()) {
    FCheck.wait();
    ApplyCheck();
  }
  return FDamage.isEmpty() ? FStore.get() : FFresh.get();
}

TAddCount THistoryService::Store(const std::vector<TNewResult>& results) {
  // Results an earlier failure left waiting go in first, in their order.
  std::vector<TNewResult> all = FUnsaved;
  all.insert(all.end(), results.begin(), results.end());
  auto fail = [&](const QString& why) {
    FUnsaved = std::move(all);
    const QString reason = why.startsWith(QStringLiteral("测试结果未能存入历史记录")) ? why.mid(13) : why;
    FWhy = QStringLiteral("最近的测试结果未能存入历史记录：%1（%2 条等待重试）").arg(reason).arg(FUnsaved.size());
    throw EAppError(why);
  };
  TResultStore* store = Writing();
  if (!store) fail(FWhy.isEmpty() ? QStringLiteral("历史记录无法打开") : FWhy);
  TAddCount count;
  try {
    count = store->Add(all);
  } catch (const EAppError& e) {
    // A damaged page met while storing: the results go to the fresh store.
    if (!store->DamageSeen() || !CheckNow() || !FFresh) fail(e.Text());
    try {
      count = FFresh->Add(all);
    } catch (const EAppError& again) {
      fail(again.Text());
    }
  }
  FUnsaved.clear();
  FWhy = FDamage;
  if (FSync) FSync->Kick();
  return count;
}

TSyncState THistoryService::SyncState() const { return FSync ? FSync->State() : TSyncState{}; }

void THistoryService::StartSync() {
  FSync.reset();
  const TTeamConfig config = FTeam ? FTeam() : TTeamConfig{};
  if (!config.enabled) {
    if (OnSyncState) OnSyncState(TSyncState{});
    return;
  }
  const QString file = FDamage.isEmpty() ? FFile : FFreshFile;
  if (!FDamage.isEmpty() && !FFresh) return;
  FSync = std::make_unique<THistorySync>(file, config, OnSyncState, OnPulled);
}

void THistoryService::Reconfigure() {
  if (!FOpened) return;  // opened with the settings of its first use
  StartSync();
}
