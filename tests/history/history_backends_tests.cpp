// The results history on this PC: rows as shown with their values, each test
// once, pages, trends and criteria.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <memory>

#include "history/ResultStore.h"
#include "platform/MessageService.h"

namespace {

QStringList Row(int seq, const char* time, const char* device, const char* a, const char* b = "", const char* c = "") {
  return {QString::asprintf("%2d", seq), QString::fromUtf8(time), QString::fromUtf8(device), QStringLiteral("张三"),
          QStringLiteral("开关站"), QStringLiteral("200A"), QStringLiteral("30 秒"),
          QString::fromUtf8(*b ? "三相" : "单相"), QString::fromUtf8(a), QString::fromUtf8(b), QString::fromUtf8(c)};
}

class StoreOn : public ::testing::Test {
 protected:
  QString File() const { return FDir.filePath(QStringLiteral("results.sqlite")); }
  QTemporaryDir FDir;
};

TEST_F(StoreOn, KeepsRowsAsShownWithTheirValuesNewestFirst) {
  TResultStore store(File());
  EXPECT_EQ(store.SchemaVersion(), TResultStore::kSchemaVersion);
  EXPECT_EQ(store.AddUploaded({Row(1, "24-05-02 09:07", "QK-1", "45.5 μΩ", "46.1 μΩ", "1.250 mΩ"),
                               Row(2, "24-05-03 10:00", "QK-2", "30.5 μΩ")}),
            2);
  store.AddArchived(Row(1, "24-06-01 08:00", "QK-1", "47.0 μΩ", "47.2 μΩ", "46.8 μΩ"), TStartParams{1, 30, 0});
  const std::vector<TStoredResult> all = store.Results();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].kind, TResultKind::Archived);
  EXPECT_EQ(all[0].texts[1], QStringLiteral("24-06-01 08:00"));
  ASSERT_TRUE(all[0].start);
  EXPECT_EQ(all[0].start->testTime, 30);
  EXPECT_EQ(all[1].device, QStringLiteral("QK-2"));
  EXPECT_EQ(all[1].texts[8], QStringLiteral("30.5 μΩ"));
  EXPECT_FALSE(all[1].ohms[1]);
  EXPECT_EQ(all[2].texts, Row(1, "24-05-02 09:07", "QK-1", "45.5 μΩ", "46.1 μΩ", "1.250 mΩ"));
  ASSERT_TRUE(all[2].ohms[2]);
  EXPECT_DOUBLE_EQ(*all[2].ohms[2], 1.25e-3);
  EXPECT_FALSE(all[2].start);

  EXPECT_EQ(store.Results(QStringLiteral("QK-1")).size(), 2u);
  EXPECT_EQ(store.Results(QString(), QDateTime(QDate(2024, 5, 3), QTime(0, 0))).size(), 2u);

  // A row whose texts are missing (a table's untouched cells are null texts)
  // is kept with empty texts.
  QStringList bare = Row(3, "24-04-01 08:00", "", "40.0 μΩ");
  bare[2] = QString();
  bare[3] = QString();
  store.AddArchived(bare, TStartParams{});
  const std::vector<TStoredResult> kept = store.Results(QString(), {}, QDateTime(QDate(2024, 4, 30), QTime(0, 0)));
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_TRUE(kept[0].device.isEmpty());
  EXPECT_TRUE(kept[0].texts[3].isEmpty());
  EXPECT_EQ(store.Devices(), (QStringList{"QK-1", "QK-2"}));
  EXPECT_NEAR(*store.FirstValues(QStringLiteral("QK-1"))[1], 46.1, 1e-9);
}

// The same records uploaded again, also in other places of the table and
// through a second connection to the same file, are kept once.
TEST_F(StoreOn, AnUploadOfTheSameRecordsAddsNothingTwice) {
  TResultStore first(File());
  TResultStore second(File());
  const std::vector<QStringList> upload = {Row(1, "24-05-02 09:07", "QK-1", "45.5 μΩ"),
                                           Row(2, "24-05-02 09:09", "QK-1", "45.7 μΩ")};
  EXPECT_EQ(first.AddUploaded(upload), 2);
  EXPECT_EQ(second.AddUploaded({Row(7, "24-05-02 09:09", "QK-1", "45.7 μΩ")}), 0);
  EXPECT_EQ(first.AddUploaded(upload), 0);
  EXPECT_EQ(second.Results().size(), 2u);
  // Opening again finds the schema in place.
  TResultStore third(File());
  EXPECT_EQ(third.SchemaVersion(), TResultStore::kSchemaVersion);
}

// Pages read one after the other give every result of the filter once, in
// order, also where many results share one minute; the count, the trend and
// an upload larger than one statement's batch agree with them.
TEST_F(StoreOn, PagesGiveEveryResultOnceInOrder) {
  TResultStore store(File());
  std::vector<QStringList> upload;
  for (int i = 0; i < 257; ++i) {
    // Three devices; results of one device come three to a minute.
    const QString time = QStringLiteral("24-05-%1 09:%2").arg(2 + i / 180, 2, 10, QLatin1Char('0')).arg(i / 3 % 60, 2, 10, QLatin1Char('0'));
    QStringList row = Row(i % 255 + 1, "", i % 3 == 0 ? "QK-1" : i % 3 == 1 ? "QK-2" : "QK-3",
                          QStringLiteral("%1.5 μΩ").arg(40 + i % 7).toUtf8().constData());
    row[1] = time;
    row[3] = QStringLiteral("测试员%1").arg(i);  // every record its own
    upload.push_back(row);
  }
  upload.push_back(upload[5]);  // the same record twice in one upload
  EXPECT_EQ(store.AddUploaded(upload), 257);
  EXPECT_EQ(store.AddUploaded(upload), 0);

  const std::vector<TStoredResult> all = store.Results();
  ASSERT_EQ(all.size(), 257u);
  for (const THistoryFilter& f : {THistoryFilter{}, THistoryFilter{QStringLiteral("QK-2"), {}, {}},
                                  THistoryFilter{QString(), QDateTime(QDate(2024, 5, 3), QTime(0, 0)), {}}}) {
    std::vector<TStoredResult> paged;
    for (;;) {
      const auto page = store.Page(f, paged.empty() ? nullptr : &paged.back(), 40);
      ASSERT_LE(page.size(), 40u);
      if (page.empty()) break;
      paged.insert(paged.end(), page.begin(), page.end());
    }
    std::vector<qint64> expected;
    for (const TStoredResult& r : all) {
      if ((f.device.isEmpty() || r.device == f.device) && (!f.from.isValid() || r.time >= f.from)) expected.push_back(r.id);
    }
    std::vector<qint64> got;
    for (const TStoredResult& r : paged) got.push_back(r.id);
    EXPECT_EQ(got, expected) << f.device.toStdString();
    EXPECT_EQ(store.Count(f), int(expected.size()));
  }
  const std::vector<TTrendPoint> trend = store.Trend(THistoryFilter{QStringLiteral("QK-1"), {}, {}});
  ASSERT_EQ(trend.size(), 86u);
  EXPECT_LE(trend.front().ms, trend.back().ms);  // oldest first
  // Each point at its result's own local time.
  EXPECT_EQ(trend.front().Time(), store.Results(QStringLiteral("QK-1")).back().time);
  EXPECT_EQ(trend.back().Time(), store.Results(QStringLiteral("QK-1")).front().time);
  EXPECT_EQ(store.Devices(), (QStringList{"QK-1", "QK-2", "QK-3"}));
}

// A device's own criteria, and the program-wide defaults where it has none;
// what the history tab reads at once for the devices of a page is what it
// would read device by device.
TEST_F(StoreOn, CriteriaOfADeviceFallBackOnTheDefaults) {
  TResultStore store(File());
  store.AddUploaded({Row(1, "24-05-02 09:07", "QK-1", "45.5 μΩ", "46.1 μΩ", "47.0 μΩ"),
                     Row(2, "24-05-01 09:07", "QK-1", "44.0 μΩ", "", ""), Row(3, "24-05-02 09:07", "QK-2", "30.5 μΩ")});
  TCriteria defaults;
  defaults.maxMicroOhm = 100;
  defaults.riseFactor = 1.3;
  store.SetCriteria(QString(), defaults);
  TCriteria own;
  own.referenceMicroOhm = 40;
  own.imbalancePercent = 30;
  own.riseFactor = 1.2;
  store.SetCriteria(QStringLiteral("QK-1"), own);
  const TCriteria one = store.Criteria(QStringLiteral("QK-1"));
  EXPECT_EQ(one.maxMicroOhm, 100.0);
  EXPECT_EQ(one.referenceMicroOhm, 40.0);
  EXPECT_DOUBLE_EQ(one.imbalancePercent, 30);
  EXPECT_DOUBLE_EQ(one.riseFactor, 1.2);
  const TCriteria other = store.Criteria(QStringLiteral("QK-9"));
  EXPECT_EQ(other.maxMicroOhm, 100.0);
  EXPECT_FALSE(other.referenceMicroOhm);
  EXPECT_DOUBLE_EQ(other.riseFactor, 1.3);
  EXPECT_FALSE(store.OwnCriteria(QStringLiteral("QK-9")).maxMicroOhm);

  const QStringList devices = {QStringLiteral("QK-1"), QStringLiteral("QK-2"), QStringLiteral("QK-9")};
  const auto criteria = store.CriteriaOf(devices);
  const auto first = store.FirstValuesOf(devices);
  for (const QString& d : devices) {
    const TCriteria each = store.Criteria(d);
    EXPECT_EQ(criteria.at(d).maxMicroOhm, each.maxMicroOhm) << d.toStdString();
    EXPECT_EQ(criteria.at(d).referenceMicroOhm, each.referenceMicroOhm) << d.toStdString();
    EXPECT_DOUBLE_EQ(criteria.at(d).riseFactor, each.riseFactor) << d.toStdString();
    EXPECT_DOUBLE_EQ(criteria.at(d).imbalancePercent, each.imbalancePercent) << d.toStdString();
    EXPECT_EQ(first.at(d), store.FirstValues(d)) << d.toStdString();
  }
  ASSERT_TRUE(first.at(QStringLiteral("QK-1"))[0]);
  EXPECT_NEAR(*first.at(QStringLiteral("QK-1"))[0], 44.0, 1e-9);  // the oldest, not the first stored
  EXPECT_FALSE(first.at(QStringLiteral("QK-9"))[0]);
}

// The trend's times are the results' own local times, also across the
// changes of summer time (in a zone that has them).
TEST_F(StoreOn, TrendTimesAreLocalTimesAcrossSummerTime) {
  const QByteArray oldTz = qgetenv("TZ");
  qputenv("TZ", "Europe/Berlin");
  tzset();
  // The zone is in force: summer time is two hours ahead of UTC.
  ASSERT_EQ(QDateTime(QDate(2025, 7, 1), QTime(12, 0)).offsetFromUtc(), 7200);
  {
    TResultStore store(File());
    const char* times[] = {"25-03-30 01:30", "25-03-30 03:30", "25-07-01 12:00", "25-10-26 01:30",
                           "25-10-26 03:30", "25-12-24 18:00"};
    std::vector<QStringList> rows;
    for (const char* t : times) rows.push_back(Row(1, t, "QK-DST", "45.5 μΩ"));
    ASSERT_EQ(store.AddUploaded(rows), 6);
    const std::vector<TTrendPoint> trend = store.Trend(THistoryFilter{QStringLiteral("QK-DST"), {}, {}});
    ASSERT_EQ(trend.size(), 6u);
    for (size_t i = 0; i < trend.size(); ++i) {
      const QDateTime local = QDateTime::fromString(QString::fromLatin1(times[i]), QStringLiteral("yy-MM-dd HH:mm"))
                                  .addYears(100);
      EXPECT_EQ(trend[i].ms, local.toMSecsSinceEpoch()) << times[i];
    }
  }
  if (oldTz.isEmpty()) {
    qunsetenv("TZ");
  } else {
    qputenv("TZ", oldTz);
  }
  tzset();
}

}  // namespace
