// The results history with 100,000 stored results, on SQLite and on a
// PostgreSQL server over its Unix socket: storing an upload of 255 records,
// opening the history tab, filtering it to one device, drawing the trend of
// a device with 1,000 results. Prints the time of each step.
#include <QApplication>
#include <QChartView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "forms/UHistory.h"
#include "forms/UQRAssessment.h"
#include "history/ResultStore.h"
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

void Measure(const char* name, const TStoreConfig& config) {
  std::printf("%s\n", name);
  TResultStore store(config);
  Time("fill 100,000 results (100 devices x 1,000)", [&] {
    for (int batch = 0; batch < 10; ++batch) {
      std::vector<QStringList> rows;
      for (int i = 0; i < 10000; ++i) {
        const int n = batch * 10000 + i;
        rows.push_back(Row(n, n % 100, n / 100));
      }
      store.AddUploaded(rows);
    }
  });
  std::vector<QStringList> upload;
  for (int i = 0; i < 255; ++i) upload.push_back(Row(200000 + i, 7, 3000 + i));
  Time("store an upload of 255 records", [&] { store.AddUploaded(upload); });
  Time("store the same upload again (all known)", [&] { store.AddUploaded(upload); });

  THistoryPage page([&] { return &store; }, [] { return QString(); });
  page.resize(1100, 700);
  page.show();
  Time("open the tab (every device, 100,255 rows)", [&] { page.Refresh(); });
  std::printf("  rows read: %d of %d\n", page.Model->rowCount(), page.Model->Total());
  Time("  of which: the device list", [&] { store.Devices(); });
  Time("  of which: counting the results", [&] { store.Count({}); });
  Time("  of which: the first page", [&] { store.Page({}, nullptr, THistoryModel::kPage); });
  Time("next page as the table scrolls to its end", [&] { page.Model->fetchMore({}); });
  page.cbDevice->setEditText(QStringLiteral("QK-42"));
  Time("filter to one device (1,000 rows) with its trend", [&] { page.Refresh(); });
  std::printf("  rows read: %d of %d\n", page.Model->rowCount(), page.Model->Total());
  Time("  of which: the trend's values", [&] { store.Trend({QStringLiteral("QK-42"), {}, {}}); });
  Time("draw the trend of 1,000 results", [&] { page.cvTrend->grab(); });
  TQRAssessment report;
  TAssessmentData data;
  data.device = QStringLiteral("QK-42");
  Time("assessment report of 1,000 results: read and judge", [&] {
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

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as it comes
  TRecordingMessages messages;
  QTemporaryDir dir;
  TStoreConfig sqlite;
  sqlite.file = dir.filePath(QStringLiteral("results.sqlite"));
  Measure("SQLite (results.sqlite)", sqlite);

  TPgCluster cluster;
  if (!cluster.Why().isEmpty() || !cluster.CreateDatabase(QStringLiteral("bench"))) {
    std::printf("PostgreSQL: not measured (%s)\n", cluster.Why().toUtf8().constData());
    return 0;
  }
  TStoreConfig pg;
  pg.driver = QStringLiteral("QPSQL");
  pg.host = cluster.SocketDir();
  pg.port = cluster.Port();
  pg.name = QStringLiteral("bench");
  pg.user = cluster.User();
  Measure("PostgreSQL (Unix socket)", pg);
  return 0;
}
