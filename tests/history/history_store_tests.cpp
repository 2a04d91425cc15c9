// The results history: value texts in ohms, the assessment as a table of
// cases; on SQLite files, schema versions and a store that cannot be used.
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

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
TEST(Judge, AFirstResultOfZeroIsNoReference) {
  const TVerdict v = Assess({45.0, 46.0, 44.0}, TCriteria{}, {0.0, 0.0, 0.0});
  EXPECT_EQ(v.kind, TVerdictKind::Pass);
  EXPECT_FALSE(v.risePercent);
  EXPECT_TRUE(v.reasons.isEmpty()) << v.reasons.join(QStringLiteral("；")).toStdString();
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
