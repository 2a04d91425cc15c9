// The results history on SQLite: value texts in ohms, the assessment as a
// table of cases, storing without duplicates, schema versions, a store that
// cannot be used.
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

#include "history/Assessment.h"
#include "history/ResultStore.h"
#include "history/ResultValues.h"
#include "platform/MessageService.h"

namespace {

struct TValueCase {
  const char* text;
  double ohms;  // < 0: no value
};

class ValueTexts : public ::testing::TestWithParam<TValueCase> {};

TEST_P(ValueTexts, GiveOhms) {
  const std::optional<double> v = OhmsOfText(QString::fromUtf8(GetParam().text));
  if (GetParam().ohms < 0) {
    EXPECT_FALSE(v) << GetParam().text;
  } else {
    ASSERT_TRUE(v) << GetParam().text;
    EXPECT_NEAR(*v, GetParam().ohms, GetParam().ohms * 1e-12) << GetParam().text;
  }
}

// Every unit the value texts use: the program's own (μ is the Greek mu), the
// micro sign and "u" of files typed elsewhere; what is no value.
INSTANTIATE_TEST_SUITE_P(Units, ValueTexts,
                         ::testing::Values(TValueCase{"30.5 μΩ", 30.5e-6}, TValueCase{"0.0 μΩ", 0},
                                           TValueCase{"488.2 μΩ", 488.2e-6}, TValueCase{"1.250 mΩ", 1.25e-3},
                                           TValueCase{"2.500 Ω", 2.5}, TValueCase{"61.6µΩ", 61.6e-6},
                                           TValueCase{" 7 uohm ", 7e-6}, TValueCase{"12.5", -1},
                                           TValueCase{"", -1}, TValueCase{"--", -1}, TValueCase{"30.5 μV", -1}));

struct TJudgeCase {
  const char* name;
  std::array<double, 3> microOhm;  // < 0: phase not measured
  double max;                      // < 0: no maximum
  double reference;                // < 0: the first result's values below
  TVerdictKind kind;
  const char* reasons;  // joined by "；"
};

class Judged : public ::testing::TestWithParam<TJudgeCase> {};

TEST_P(Judged, GiveTheVerdictAndTheReason) {
  const TJudgeCase& c = GetParam();
  std::array<std::optional<double>, 3> value;
  for (size_t p = 0; p < 3; ++p) {
    if (c.microOhm[p] >= 0) value[p] = c.microOhm[p];
  }
  TCriteria criteria;
  if (c.max >= 0) criteria.maxMicroOhm = c.max;
  if (c.reference >= 0) criteria.referenceMicroOhm = c.reference;
  const std::array<std::optional<double>, 3> first = {45.0, 46.0, 44.0};
  const TVerdict v = Assess(value, criteria, first);
  EXPECT_EQ(v.kind, c.kind) << c.name;
  EXPECT_EQ(v.reasons.join(QStringLiteral("；")), QString::fromUtf8(c.reasons)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Judged,
    ::testing::Values(
        TJudgeCase{"WithinEverything", {45.5, 46.1, 44.9}, 55, -1, TVerdictKind::Pass, ""},
        TJudgeCase{"OverTheMaximum", {45.5, 61.6, 44.9}, 55, -1, TVerdictKind::Fail,
                   "B相 61.6 μΩ 超过上限 55.0 μΩ；较基准上升 34 %"},
        TJudgeCase{"RiseOverTheFactor", {60.3, 46.0, 44.0}, -1, -1, TVerdictKind::Fail, "较基准上升 34 %"},
        TJudgeCase{"RiseOfExactly20PercentPasses", {54.0, 46.0, 44.0}, -1, -1, TVerdictKind::Pass, ""},
        TJudgeCase{"TypedReference", {50.0, 50.0, 50.0}, -1, 40, TVerdictKind::Fail, "较基准上升 25 %"},
        TJudgeCase{"PoleImbalance", {30.0, 47.4, 30.0}, -1, 47.4, TVerdictKind::Attention, "三相不平衡 58 %"},
        TJudgeCase{"SinglePhaseOnTheOneValue", {61.6, -1, -1}, 55, 61.6, TVerdictKind::Fail,
                   "A相 61.6 μΩ 超过上限 55.0 μΩ"},
        TJudgeCase{"NoValueIsNotJudged", {-1, -1, -1}, 55, -1, TVerdictKind::NotJudged, ""}),
    [](const ::testing::TestParamInfo<TJudgeCase>& i) { return std::string(i.param.name); });

QStringList Row(int seq, const char* time, const char* device, const char* a, const char* b = "", const char* c = "") {
  return {QString::asprintf("%2d", seq), QString::fromUtf8(time), QString::fromUtf8(device), QStringLiteral("张三"),
          QStringLiteral("开关站"), QStringLiteral("200A"), QStringLiteral("30 秒"),
          QString::fromUtf8(*b ? "三相" : "单相"), QString::fromUtf8(a), QString::fromUtf8(b), QString::fromUtf8(c)};
}

class HistoryStore : public ::testing::Test {
 protected:
  QString File() const { return FDir.filePath(QStringLiteral("results.sqlite")); }
  QTemporaryDir FDir;
};

TEST_F(HistoryStore, KeepsRowsAsShownWithTheirValuesNewestFirst) {
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
  EXPECT_EQ(store.Devices(), (QStringList{"QK-1", "QK-2"}));
}

// The same records uploaded again, also in other places of the table and
// from a second store on the same file (another PC on a shared store), are
// kept once.
TEST_F(HistoryStore, AnUploadOfTheSameRecordsAddsNothingTwice) {
  TResultStore first(File());
  TResultStore second(File());
  const std::vector<QStringList> upload = {Row(1, "24-05-02 09:07", "QK-1", "45.5 μΩ"),
                                           Row(2, "24-05-02 09:09", "QK-1", "45.7 μΩ")};
  EXPECT_EQ(first.AddUploaded(upload), 2);
  EXPECT_EQ(second.AddUploaded({Row(7, "24-05-02 09:09", "QK-1", "45.7 μΩ")}), 0);
  EXPECT_EQ(first.AddUploaded(upload), 0);
  EXPECT_EQ(second.Results().size(), 2u);
}

// A store as the first version wrote it (schema 1, no criteria) is brought
// to the current version with its results.
TEST_F(HistoryStore, AStoreOfTheFirstVersionIsMigrated) {
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("version-1"));
    db.setDatabaseName(File());
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    for (const char* sql :
         {"CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
          "INSERT INTO meta VALUES ('schema_version', '1')",
          "CREATE TABLE results (id INTEGER PRIMARY KEY, kind TEXT NOT NULL, source_key TEXT NOT NULL UNIQUE,"
          " device_no TEXT NOT NULL, test_time TEXT NOT NULL, stored_at TEXT NOT NULL, t0 TEXT, t1 TEXT, t2 TEXT,"
          " t3 TEXT, t4 TEXT, t5 TEXT, t6 TEXT, t7 TEXT, t8 TEXT, t9 TEXT, t10 TEXT, ohm_a REAL, ohm_b REAL,"
          " ohm_c REAL, start_range INTEGER, start_time INTEGER, start_phase INTEGER)",
          "INSERT INTO results (kind, source_key, device_no, test_time, stored_at, t1, t2, t8, ohm_a)"
          " VALUES ('uploaded', 'k', 'QK-1', '2024-05-02T09:07:00', '2024-05-02T10:00:00.000', '24-05-02 09:07',"
          " 'QK-1', '45.5 μΩ', 0.0000455)"}) {
      ASSERT_TRUE(q.exec(QString::fromUtf8(sql))) << sql;
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("version-1"));
  TResultStore store(File());
  EXPECT_EQ(store.SchemaVersion(), 2);
  ASSERT_EQ(store.Results().size(), 1u);
  EXPECT_NEAR(*store.FirstValues(QStringLiteral("QK-1"))[0], 45.5, 1e-9);
  TCriteria c;
  c.maxMicroOhm = 55;
  store.SetCriteria(QStringLiteral("QK-1"), c);
  EXPECT_EQ(store.Criteria(QStringLiteral("QK-1")).maxMicroOhm, 55.0);
}

// A device's own criteria, and the program-wide defaults where it has none.
TEST_F(HistoryStore, CriteriaOfADeviceFallBackOnTheDefaults) {
  TResultStore store(File());
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
}

TEST_F(HistoryStore, AStoreOfAFirstVersionOpensAndANewerOneIsRefused) {
  {
    TResultStore store(File());
    store.AddUploaded({Row(1, "24-05-02 09:07", "QK-1", "45.5 μΩ")});
  }
  {
    TResultStore again(File());
    EXPECT_EQ(again.Results().size(), 1u);
  }
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raise-version"));
    db.setDatabaseName(File());
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec(QStringLiteral("UPDATE meta SET value = '99' WHERE key = 'schema_version'")));
    db.close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("raise-version"));
  try {
    TResultStore newer(File());
    FAIL() << "a store of a newer program was opened";
  } catch (const EAppError& e) {
    EXPECT_TRUE(e.Text().contains(QStringLiteral("较新版本"))) << e.Text().toStdString();
  }
}

TEST_F(HistoryStore, AFileThatIsNoStoreIsRefusedWithItsReason) {
  QFile f(File());
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(4096, 'x'));
  f.close();
  try {
    TResultStore store(File());
    FAIL() << "opened";
  } catch (const EAppError& e) {
    EXPECT_TRUE(e.Text().contains(QStringLiteral("不是历史记录数据库"))) << e.Text().toStdString();
  }
  EXPECT_THROW(TResultStore(FDir.filePath(QStringLiteral("no/such/folder/results.sqlite"))), EAppError);
}

}  // namespace
