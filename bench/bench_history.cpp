// The results history: a local store of a million results (or the count
// given), storing an upload of 255 records, opening the history tab,
// filtering it to one device with its trend; a team database on a throwaway
// PostgreSQL cluster: an upload reaching it, and the full sync of a PC that
// starts empty. Prints the time of each step.
#include <QApplication>
#include <QChartView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>

#include "forms/UHistory.h"
#include "forms/UQRAssessment.h"
#include "history/HistorySync.h"
#include "history/ResultStore.h"
#include "history/TeamStore.h"
#include "support/PgCluster.h"
#include "support/TestServices.h"

namespace {

QStringList Row(int n, int device, int day) {
  const QDate d = QDate(2020, 1, 1).addDays(day);
  return {QString::asprintf("%2d", n % 255 + 1), QStringLiteral("%1 %2:%3")
                                                    .arg(d.toString(QStringLiteral("yy-MM-dd")))
                                                    .arg(n % 24, 2, 10, QLatin1Char('0'))
                                                    .arg(n % 60, 2, 10, QLatin1Char('0')),
          QStringLiteral("QK-%1").arg(device), QStringLiteral("张三"), QStringLiteral("变电站"), QStringLiteral("200A"),
          QStringLiteral("30 秒"), QStringLiteral("三相"), QStringLiteral("%1.5 μΩ").arg(40 + n % 17),
          QStringLiteral("%1.1 μΩ").arg(41 + n % 13), QStringLiteral("%1.7 μΩ").arg(42 + n % 11)};
}

double Time(const char* what, const std::function<void()>& run) {
  QElapsedTimer t;
  t.start();
  run();
  const double ms = double(t.nsecsElapsed()) / 1e6;
  std::printf("  %-44s %9.1f ms\n", what, ms);
  return ms;
}

// Fills a store with count results of 100 devices, in batches as uploads
// bring them.
void Fill(TResultStore& store, int count) {
  for (int begin = 0; begin < count; begin += 10000) {
    std::vector<QStringList> rows;
    for (int n = begin; n < std::min(count, begin + 10000); ++n) rows.push_back(Row(n, n % 100, n / 100));
    store.AddUploaded(rows);
  }
}

void MeasureLocal(const QString& file, int count) {
  std::printf("local store (SQLite), %d results\n", count);
  TResultStore store(file);
  if (store.Count({}) == 0) {
    Time("fill (100 devices)", [&] { Fill(store, count); });
  } else {
    std::printf("  (a store of %d results kept from an earlier run)\n", store.Count({}));
  }
  std::vector<QStringList> upload;
  for (int i = 0; i < 255; ++i) upload.push_back(Row(2000000 + i, 7, 9000 + i));
  Time("store an upload of 255 records", [&] { store.AddUploaded(upload); });
  Time("store the same upload again (all known)", [&] { store.AddUploaded(upload); });
  Time("quick check of the file (on its own thread)", [&] { TResultStore::QuickCheck(file); });

  THistoryPage page([&] { return &store; }, [] { return QString(); });
  page.resize(1100, 700);
  page.show();
  Time("open the tab (every device)", [&] { page.Refresh(); });
  std::printf("  rows read: %d of %d\n", page.Model->rowCount(), page.Model->Total());
  Time("  of which: the device list", [&] { store.Devices(); });
  Time("  of which: counting the results", [&] { store.Count({}); });
  Time("  of which: the first page", [&] { store.Page({}, nullptr, THistoryModel::kPage); });
  Time("next page as the table scrolls to its end", [&] { page.Model->fetchMore({}); });
  page.cbDevice->setEditText(QStringLiteral("QK-42"));
  Time("filter to one device with its trend", [&] { page.Refresh(); });
  std::printf("  rows read: %d of %d\n", page.Model->rowCount(), page.Model->Total());
  Time("  of which: the trend's values", [&] { store.Trend({QStringLiteral("QK-42"), {}, {}}); });
  Time("draw the trend", [&] { page.cvTrend->grab(); });
  TQRAssessment report;
  TAssessmentData data;
  data.device = QStringLiteral("QK-42");
  Time("assessment report of the device: read and judge", [&] {
    data.results = store.Results(data.device);
    std::reverse(data.results.begin(), data.results.end());
    data.criteria = store.Criteria(data.device);
    data.reference = store.FirstValues(data.device);
    report.Load(data);
  });
  int pages = 0;
  Time("  its pages composed", [&] { pages = int(report.Generate(report.Printer().pageLayout()).size()); });
  std::printf("  pages: %d\n", pages);
}

// The team database: an upload reaches it after it is stored locally; a PC
// that starts empty takes every result the team has.
void MeasureTeam(TPgCluster& cluster, const QString& folder) {
  const TTeamConfig c = cluster.TeamConfig(QStringLiteral("bench"));
  std::printf("team database (PostgreSQL over its Unix socket)\n");
  const QString first = QDir(folder).filePath(QStringLiteral("first.sqlite"));
  {
    TResultStore store(first);
    Time("fill the first PC with 100,000 results", [&] { Fill(store, 100000); });
    TTeamLink link(c);
    Time("send them to the team database", [&] { SyncOnce(store, link); });
  }
  {
    std::atomic<int> passes{0};
    std::atomic<bool> synced{false};
    THistorySync sync(first, c, [&](const TSyncState& s) {
      ++passes;
      synced = s.kind == TSyncState::Synced;
    });
    while (passes.load() == 0) QThread::msleep(1);
    TResultStore store(first);
    std::vector<QStringList> upload;
    for (int i = 0; i < 255; ++i) upload.push_back(Row(3000000 + i, 7, 9500 + i));
    QElapsedTimer t;
    t.start();
    store.AddUploaded(upload);
    const double local = double(t.nsecsElapsed()) / 1e6;
    synced = false;
    sync.Kick();
    while (!synced.load()) QThread::msleep(1);
    std::printf("  %-44s %9.1f ms\n", "upload of 255 records stored locally", local);
    std::printf("  %-44s %9.1f ms\n", "  and on the team database", double(t.nsecsElapsed()) / 1e6);
  }
  const QString fresh = QDir(folder).filePath(QStringLiteral("fresh.sqlite"));
  TResultStore store(fresh);
  TTeamLink link(c);
  TSyncReport report;
  Time("full sync of an empty PC", [&] { report = SyncOnce(store, link); });
  std::printf("  results taken: %d\n", report.pulled);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as it comes
  const int count = argc > 1 ? std::max(1000, atoi(argv[1])) : 1000000;
  TRecordingMessages messages;
  QTemporaryDir dir;
  // QK_BENCH_STORE names a store to keep between runs (filled once).
  const QString kept = qEnvironmentVariable("QK_BENCH_STORE");
  MeasureLocal(kept.isEmpty() ? dir.filePath(QStringLiteral("results.sqlite")) : kept, count);

  TPgCluster cluster;
  if (!cluster.Why().isEmpty() || !cluster.CreateDatabase(QStringLiteral("bench"))) {
    std::printf("team database: not measured (%s)\n", cluster.Why().toUtf8().constData());
    return 0;
  }
  MeasureTeam(cluster, dir.path());
  return 0;
}
