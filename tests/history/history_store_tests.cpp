// The results history: value texts in ohms, the assessment as a table of
// cases; on SQLite files, schema versions and a store that cannot be used.
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

#include <algorithm>
#include <cmath>
#include <memory>

#include <sys/stat.h>

#include "history/Assessment.h"
#include "history/HistoryService.h"
#include "history/Judged.h"
#include "data/TestSeries.h"
#include "history/ResultStore.h"
#include "history/ResultValues.h"
#include "platform/FileIo.h"
#include "platform/IniFile.h"
#include "platform/MessageService.h"
#include "support/FileSizeLimit.h"

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
                                           TValueCase{"", -1}, TValueCase{"--", -1}, TValueCase{"30.5 μV", -1},
                                           // A prefix counts by its case: M is mega, m milli.
                                           TValueCase{"2 MΩ", 2e6}, TValueCase{"2 mΩ", 2e-3},
                                           TValueCase{"2 kΩ", 2e3}, TValueCase{"2 KΩ", -1},
                                           TValueCase{"3.5 Ohm", 3.5}, TValueCase{"3.5 \u2126", 3.5}));

// A measured value shows as the instrument writes it: cut after one decimal,
// whether it came from a frame's single or from a text.
struct TShownCase {
  double microOhm;
  const char* text;
};

class ShownValues : public ::testing::TestWithParam<TShownCase> {};

TEST_P(ShownValues, AreCutAfterOneDecimal) {
  EXPECT_EQ(MicroOhmText(GetParam().microOhm), QString::fromUtf8(GetParam().text)) << GetParam().microOhm;
}

INSTANTIATE_TEST_SUITE_P(Values, ShownValues,
                         ::testing::Values(TShownCase{double(141.2f), "141.1 μΩ"},  // 141.19999...
                                           TShownCase{52.37525, "52.3 μΩ"},
                                           TShownCase{*OhmsOfText(QStringLiteral("45.5 μΩ")) * 1e6, "45.5 μΩ"},
                                           TShownCase{0, "0.0 μΩ"}, TShownCase{1250, "1250.0 μΩ"}));

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
        TJudgeCase{"NoValueIsNotJudged", {-1, -1, -1}, 55, -1, TVerdictKind::NotJudged, ""},
        // Just over a limit: as many decimals as it takes to show it over.
        TJudgeCase{"JustOverTheMaximum", {72.034, -1, -1}, 72, 72.034, TVerdictKind::Fail,
                   "A相 72.03 μΩ 超过上限 72.0 μΩ"},
        TJudgeCase{"JustOverTheRise", {54.018, 46.0, 44.0}, -1, -1, TVerdictKind::Fail, "较基准上升 20.04 %"},
        TJudgeCase{"ATypedMaximumShowsAsTyped", {61.6, -1, -1}, 55.05, 61.6, TVerdictKind::Fail,
                   "A相 61.6 μΩ 超过上限 55.05 μΩ"}),
    [](const ::testing::TestParamInfo<TJudgeCase>& i) { return std::string(i.param.name); });

// A device whose first result read 0.0 μΩ has no reference to rise from: a
// later result is not judged against it (no rise of an infinite percent).
// The frame's value behind "0.0 μΩ" may be a few hundredths above zero.
TEST(Judge, AFirstResultOfZeroIsNoReference) {
  for (const double first : {0.0, 0.04}) {
    const TVerdict v = Assess({45.0, 46.0, 44.0}, TCriteria{}, {first, first, first});
    EXPECT_EQ(v.kind, TVerdictKind::Pass) << first;
    EXPECT_FALSE(v.risePercent) << first;
    EXPECT_TRUE(v.reasons.isEmpty()) << v.reasons.join(QStringLiteral("；")).toStdString();
    // The trend draws no reference line from it either.
    const TTrendSeries s = TrendSeries({TTrendPoint{QDateTime(QDate(2025, 1, 2), QTime(9, 0)), {45e-6, 46e-6, 44e-6}}},
                                       TJudge{TCriteria{}, {first, first, first}});
    for (int p = 0; p < 3; ++p) EXPECT_FALSE(s.referenceLine[p]) << first;
  }
}

// Each phase's reference line is the phase's own first value, as its
// verdict uses; a typed reference stands for all three.
TEST(Judge, TheTrendDrawsEachPhasesOwnReference) {
  const std::vector<TTrendPoint> points = {TTrendPoint{QDateTime(QDate(2025, 1, 2), QTime(9, 0)), {40e-6, 50e-6, 60e-6}}};
  const TTrendSeries own = TrendSeries(points, TJudge{TCriteria{}, {40.0, 50.0, 60.0}});
  for (int p = 0; p < 3; ++p) {
    ASSERT_TRUE(own.referenceLine[p]);
    EXPECT_DOUBLE_EQ(*own.referenceLine[p], 40.0 + 10 * p);
  }
  TCriteria typed;
  typed.referenceMicroOhm = 45;
  const TTrendSeries one = TrendSeries(points, TJudge{typed, {40.0, 50.0, 60.0}});
  for (int p = 0; p < 3; ++p) EXPECT_EQ(one.referenceLine[p], 45.0);
}

// A trend of ten thousand results draws at most what a chart can tell
// apart, keeping the first and last results and every extreme.
TEST(Judge, ALongTrendKeepsItsExtremesInFewerPoints) {
  std::vector<TTrendPoint> points;
  for (int i = 0; i < 10000; ++i) {
    const double v = 50 + 5 * std::sin(i / 50.0) + (i == 7777 ? 40 : 0) - (i == 1234 ? 30 : 0);
    points.push_back(TTrendPoint{qint64(i) * 3600000, {v * 1e-6, std::nullopt, std::nullopt}});
  }
  const TTrendSeries s = TrendSeries(points, TJudge{});
  const QList<QPointF>& a = s.phase[0];
  EXPECT_LE(a.size(), 1600);
  EXPECT_GE(a.size(), 400);
  EXPECT_EQ(a.front().x(), 0.0);
  EXPECT_EQ(a.back().x(), 9999.0 * 3600000);
  auto has = [&](int i) {
    return std::any_of(a.begin(), a.end(), [&](const QPointF& p) { return p.x() == double(i) * 3600000; });
  };
  EXPECT_TRUE(has(7777));  // the spike
  EXPECT_TRUE(has(1234));  // the dip
  for (int i = 1; i < a.size(); ++i) EXPECT_LT(a[i - 1].x(), a[i].x()) << i;
  EXPECT_NEAR(s.high, 95 + 1.0, 5);  // the axis still reaches the spike (with its margin)
}

QStringList Row(int seq, const char* time, const char* device, const char* a) {
  return {QString::asprintf("%2d", seq), QString::fromUtf8(time), QString::fromUtf8(device), QStringLiteral("张三"),
          QStringLiteral("开关站"), QStringLiteral("200A"), QStringLiteral("30 秒"), QStringLiteral("单相"),
          QString::fromUtf8(a), QString(), QString()};
}

class HistoryStore : public ::testing::Test {
 protected:
  QString File() const { return FDir.filePath(QStringLiteral("results.sqlite")); }
  QTemporaryDir FDir;
};

// The frame's value is kept where the program has it (the text shows it
// cut after its last digit); a phase without one, or with no finite one, is read from its text.
TEST_F(HistoryStore, TheFramesValuesAreKeptOverTheirShortenedTexts) {
  TResultStore store(File());
  QStringList three = Row(1, "24-05-02 09:07", "QK-1", "45.5 μΩ");
  three[7] = QStringLiteral("三相");
  three[9] = QStringLiteral("46.1 μΩ");
  three[10] = QStringLiteral("47.0 μΩ");
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(store.AddUploaded({three, Row(2, "24-05-02 09:08", "QK-1", "30.5 μΩ")},
                              {TOhms{45.5487e-6, nan, std::nullopt}, TOhms{30.5123e-6, std::nullopt, std::nullopt}}),
            2);
  store.AddArchived(Row(1, "24-05-03 09:00", "QK-1", "12.3 μΩ"), TStartParams{}, TOhms{12.3456e-6, {}, {}});
  const std::vector<TStoredResult> kept = store.Results();
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_DOUBLE_EQ(*kept[0].ohms[0], 12.3456e-6);
  EXPECT_DOUBLE_EQ(*kept[1].ohms[0], 30.5123e-6);
  EXPECT_FALSE(kept[1].ohms[1]);
  EXPECT_DOUBLE_EQ(*kept[2].ohms[0], 45.5487e-6);
  EXPECT_DOUBLE_EQ(*kept[2].ohms[1], 46.1e-6);  // NaN: the text's value
  EXPECT_DOUBLE_EQ(*kept[2].ohms[2], 47.0e-6);
}

// A live test's course is kept with its result and comes back when the
// store is opened again; the same test arriving later without one keeps it.
TEST_F(HistoryStore, ALiveTestsCourseComesBackAfterARestart) {
  TTestSeries course;
  for (int i = 1; i <= 3600; ++i) {
    TSeriesFrame f;
    f.seconds = i;
    f.ohms = {52.3e-6 + i * 1e-12, 61.8e-6, 47.3e-6};
    f.current = 200.0;
    course.push_back(f);
  }
  course[7].fault = true;
  const QStringList row = Row(1, "24-05-03 09:00", "QK-1", "52.3 μΩ");
  {
    TResultStore store(File());
    TNewResult r{TResultKind::Archived, row, TOhms{52.3e-6, {}, {}}, TStartParams{}, QDateTime(), SeriesText(course)};
    EXPECT_EQ(store.Add({r}).added, 1);
  }
  TResultStore again(File());
  EXPECT_EQ(again.AddUploaded({row}, {TOhms{52.3e-6, {}, {}}}), 0);
  const std::vector<TStoredResult> kept = again.Results();
  ASSERT_EQ(kept.size(), 1u);
  const TTestSeries back = SeriesOfText(kept[0].series);
  ASSERT_EQ(back.size(), course.size());
  EXPECT_TRUE(back[7].fault);
  EXPECT_EQ(back[3599].ohms, course[3599].ohms);
  EXPECT_EQ(back[3599].current, course[3599].current);
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
  EXPECT_EQ(store.SchemaVersion(), TResultStore::kSchemaVersion);
  ASSERT_EQ(store.Results().size(), 1u);
  EXPECT_NEAR(*store.FirstValues(QStringLiteral("QK-1"))[0], 45.5, 1e-9);
  TCriteria c;
  c.maxMicroOhm = 55;
  store.SetCriteria(QStringLiteral("QK-1"), c);
  EXPECT_EQ(store.Criteria(QStringLiteral("QK-1")).maxMicroOhm, 55.0);
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

namespace {

// A store of the version before: an upload and the import of its export
// (its time re-dated to the import's moment, as that version did) become
// one result, the upload's; an import whose time text can be read is put
// back at its own time.
TEST_F(HistoryStore, AStoreOfTheVersionBeforeMergesItsCopiesOfOneTest) {
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("version-2"));
    db.setDatabaseName(File());
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    for (const char* sql :
         {"CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
          "INSERT INTO meta VALUES ('schema_version', '2')",
          "CREATE TABLE results (id INTEGER PRIMARY KEY, kind TEXT NOT NULL, source_key TEXT NOT NULL UNIQUE,"
          " device_no TEXT NOT NULL, test_time TEXT NOT NULL, stored_at TEXT NOT NULL, t0 TEXT, t1 TEXT, t2 TEXT,"
          " t3 TEXT, t4 TEXT, t5 TEXT, t6 TEXT, t7 TEXT, t8 TEXT, t9 TEXT, t10 TEXT, ohm_a REAL, ohm_b REAL,"
          " ohm_c REAL, start_range INTEGER, start_time INTEGER, start_phase INTEGER)",
          "CREATE INDEX results_device_time ON results (device_no, test_time)",
          "CREATE INDEX results_time ON results (test_time)",
          "CREATE TABLE criteria (device_no TEXT PRIMARY KEY, max_uohm REAL, reference_uohm REAL, rise_factor REAL,"
          " imbalance_pct REAL)",
          "INSERT INTO results (kind, source_key, device_no, test_time, stored_at, t0, t1, t2, t5, t6, t7, t8, ohm_a)"
          " VALUES ('imported', 'imported|a', 'QK-1', '2026-12-01T10:00:00', '2026-12-01T10:00:00', ' 1',"
          " '2024-05-02 09:07:00', 'QK-1', '200A', '30秒', '单相', '45.50 μΩ', 0.0000455)",
          "INSERT INTO results (kind, source_key, device_no, test_time, stored_at, t0, t1, t2, t5, t6, t7, t8, ohm_a)"
          " VALUES ('uploaded', 'uploaded|a', 'QK-1', '2024-05-02T09:07:00', '2024-05-02T10:00:00', ' 3',"
          " '24-05-02 09:07', 'QK-1', '200A', '30 秒', '单相', '45.5 μΩ', 0.0000455123)",
          "INSERT INTO results (kind, source_key, device_no, test_time, stored_at, t0, t1, t2, t5, t6, t7, t8, ohm_a)"
          " VALUES ('imported', 'imported|b', 'QK-1', '2026-12-01T10:00:00', '2026-12-01T10:00:00', ' 2',"
          " '2025-06-04 10:00', 'QK-1', '200A', '30 秒', '单相', '47.0 μΩ', 0.000047)"}) {
      ASSERT_TRUE(q.exec(QString::fromUtf8(sql))) << sql;
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("version-2"));
  TResultStore store(File());
  EXPECT_EQ(store.SchemaVersion(), TResultStore::kSchemaVersion);
  const std::vector<TStoredResult> kept = store.Results();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].time, QDateTime(QDate(2025, 6, 4), QTime(10, 0)));  // no longer "now"
  EXPECT_EQ(kept[1].kind, TResultKind::Uploaded);
  EXPECT_DOUBLE_EQ(*kept[1].ohms[0], 0.0000455123);
  EXPECT_FALSE(store.StoreId().isEmpty());
}

// 4 KB of a store of 400 results overwritten: the check finds it, the
// store is kept for reading only, and new results go to a fresh store
// beside it; a read never gives a shortened page as if it were whole.
TEST_F(HistoryStore, ADamagedStoreIsReadOnlyAndResultsGoBesideIt) {
  {
    TResultStore store(File());
    std::vector<QStringList> rows;
    for (int i = 0; i < 400; ++i) {
      QStringList r = Row(i % 255 + 1, "", "QK-1", "45.5 μΩ");
      r[1] = QDateTime(QDate(2024, 1, 1), QTime(8, 0)).addSecs(60LL * i).toString(QStringLiteral("yy-MM-dd hh:mm"));
      r[3] = QStringLiteral("测试员%1").arg(i).repeated(8);
      rows.push_back(r);
    }
    ASSERT_EQ(store.AddUploaded(rows), 400);
  }
  {
    QFile f(File());
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_GT(f.size(), 40960);
    f.seek(f.size() / 2 / 4096 * 4096);
    f.write(QByteArray(4096, '\x5A'));
  }
  EXPECT_FALSE(TResultStore::QuickCheck(File()).isEmpty());

  THistoryService service(FDir.path(), [] { return TTeamConfig{}; });
  TResultStore* reading = service.Reading();
  ASSERT_NE(reading, nullptr);
  const TAddCount added = service.Store({TNewResult{TResultKind::Archived, Row(1, "25-01-02 09:00", "QK-2", "40.0 μΩ"),
                                                    {}, TStartParams{}, {}}});
  EXPECT_EQ(added.added, 1);
  EXPECT_TRUE(service.Damage().startsWith(QStringLiteral("历史记录数据库已损坏（"))) << service.Damage().toStdString();
  EXPECT_TRUE(service.Damage().endsWith(QStringLiteral("），只读打开；请从备份恢复或导出可读部分")));
  ASSERT_FALSE(service.FreshFile().isEmpty());
  EXPECT_EQ(TResultStore(service.FreshFile()).Results().size(), 1u);
  TResultStore* damaged = service.Reading();
  ASSERT_NE(damaged, nullptr);
  EXPECT_TRUE(damaged->ReadOnly());
  try {
    const std::vector<TStoredResult> all = damaged->Results();
    EXPECT_EQ(all.size(), 400u) << "a shortened page was given as whole";
  } catch (const EAppError& e) {
    EXPECT_FALSE(e.Text().isEmpty());
  }
}

struct TStoreFault {
  const char* name;
  const char* reason;  // in the message
};

class StoreFaults : public ::testing::TestWithParam<TStoreFault> {
 protected:
  QString File() const { return FDir.filePath(QStringLiteral("results.sqlite")); }
  QTemporaryDir FDir;
};

// A store that cannot take a result says why in words, and keeps what it
// had: a read-only store, one another program holds locked, a full disk.
TEST_P(StoreFaults, AreToldWithTheirReasonAndLoseNothing) {
  {
    TResultStore store(File());
    ASSERT_EQ(store.AddUploaded({Row(1, "24-05-02 09:07", "QK-1", "45.5 μΩ")}), 1);
  }
  const QByteArray fault(GetParam().name);
  std::unique_ptr<TResultStore> store;
  std::unique_ptr<TFileSizeLimit> limit;
  QSqlDatabase holder;
  if (fault == "ReadOnly") {
    store = std::make_unique<TResultStore>(File(), TResultStore::TMode::ReadOnly);
  } else {
    store = std::make_unique<TResultStore>(File());
  }
  if (fault == "Locked") {
    holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
    holder.setDatabaseName(File());
    ASSERT_TRUE(holder.open());
    ASSERT_TRUE(QSqlQuery(holder).exec(QStringLiteral("BEGIN EXCLUSIVE")));
  }
  std::vector<QStringList> rows;
  for (int i = 0; i < 200; ++i) {
    QStringList r = Row(i + 2, "", "QK-1", "45.5 μΩ");
    r[1] = QDateTime(QDate(2024, 6, 1), QTime(8, 0)).addSecs(60LL * i).toString(QStringLiteral("yy-MM-dd hh:mm"));
    r[4] = QStringLiteral("地点").repeated(400);
    rows.push_back(r);
  }
  if (fault == "FullDisk") limit = std::make_unique<TFileSizeLimit>(QFileInfo(File()).size() + 8192);
  try {
    store->AddUploaded(rows);
    FAIL() << "stored";
  } catch (const EAppError& e) {
    EXPECT_TRUE(e.Text().contains(QString::fromUtf8(GetParam().reason))) << e.Text().toStdString();
  }
  limit.reset();
  if (holder.isValid()) {
    QSqlQuery(holder).exec(QStringLiteral("ROLLBACK"));
    holder.close();
    holder = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
  }
  store.reset();
  TResultStore again(File());
  EXPECT_EQ(again.Count({}), 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, StoreFaults,
                         ::testing::Values(TStoreFault{"ReadOnly", "数据库为只读"},
                                           TStoreFault{"Locked", "数据库被其他程序占用"},
                                           TStoreFault{"FullDisk", "已满"}),
                         [](const ::testing::TestParamInfo<TStoreFault>& i) { return std::string(i.param.name); });

// The user's results are the user's own: a new store and a new settings
// file are readable by their owner only, a new settings folder too.
TEST_F(HistoryStore, NewFilesAreTheOwnersOnly) {
  const mode_t old = umask(022);
  {
    TResultStore store(File());
  }
  const QString ini = FDir.filePath(QStringLiteral("SystemFile.ini"));
  {
    TIniFile settings(ini);
    settings.WriteString(QStringLiteral("Database"), QStringLiteral("Driver"), QStringLiteral("QSQLITE"));
  }
  const QString folder = FDir.filePath(QStringLiteral("config/qk4820"));
  MakePrivateDir(folder);
  umask(old);
  struct stat st {};
  ASSERT_EQ(stat(QFile::encodeName(File()).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(QFile::encodeName(ini).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(QFile::encodeName(folder).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

}  // namespace
