// Imports into the history keep the truth: every form of a test time the
// program's files and office programs write is read as the stated moment,
// cells are read as the sheet shows them (units through number formats),
// and one test has one identity whatever path brought it, so a file
// exported and imported again, or an upload saved and imported, adds
// nothing.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "data/FileFormats.h"
#include "data/RecordTable.h"
#include "history/HistoryImport.h"
#include "history/Judged.h"
#include "history/ResultIdentity.h"
#include "history/ResultStore.h"
#include "platform/MessageService.h"
#include "platform/TextTable.h"
#include "spreadsheet/NumberFormat.h"
#include "spreadsheet/SheetReaders.h"

namespace {

const QString kFixtures = QStringLiteral(QT_TESTCASE_SOURCEDIR "/history/fixtures/");

struct TTimeCase {
  const char* text;
  const char* moment;  // "yyyy-MM-dd HH:mm:ss"; empty: not a time
};

class ImportTimes : public ::testing::TestWithParam<TTimeCase> {};

TEST_P(ImportTimes, AreTheStatedMoment) {
  const QDateTime t = ImportTimeOfText(QString::fromUtf8(GetParam().text));
  if (!*GetParam().moment) {
    EXPECT_FALSE(t.isValid()) << GetParam().text << " gave " << t.toString().toStdString();
  } else {
    EXPECT_EQ(t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), QString::fromUtf8(GetParam().moment)) << GetParam().text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ImportTimes,
    ::testing::Values(TTimeCase{"25-01-12 09:20", "2025-01-12 09:20:00"},  // the program's own
                      TTimeCase{"2025-01-12 09:20:00", "2025-01-12 09:20:00"},  // LibreOffice's CSV
                      TTimeCase{"2025-06-04 10:00", "2025-06-04 10:00:00"},     // typed
                      TTimeCase{"2025/6/4 9:05", "2025-06-04 09:05:00"}, TTimeCase{"2025.06.04 10:00", "2025-06-04 10:00:00"},
                      TTimeCase{"2025-01-12T09:20:00", "2025-01-12 09:20:00"},
                      TTimeCase{"2025年1月12日 9:20", "2025-01-12 09:20:00"},
                      TTimeCase{"2025-06-04", "2025-06-04 00:00:00"},            // a date alone
                      TTimeCase{" 25-06-04 ", "2025-06-04 00:00:00"},
                      TTimeCase{"45669.38888888889", "2025-01-12 09:20:00"},     // a date number
                      TTimeCase{"25-02-30 10:00", ""},                           // no such day
                      TTimeCase{"2025-01-12 24:10", ""}, TTimeCase{"not a time", ""}, TTimeCase{"", ""},
                      TTimeCase{"12/01/2025 09:20", ""},                         // day or month first?
                      TTimeCase{"20250112", ""}, TTimeCase{"17", ""},            // a number, no date
                      TTimeCase{"0024/5-02", ""}, TTimeCase{"1989-12-31", ""}));  // before any such test

QStringList Row(const QString& time, const QString& a, const QString& load = QStringLiteral("60 秒"),
                const QString& device = QStringLiteral("QK355")) {
  return {QStringLiteral(" 1"), time, device, QStringLiteral("张三"), QStringLiteral("东郊变"), QStringLiteral("200A"), load,
          QStringLiteral("单相"), a, QString(), QString()};
}

// One test, one identity: the forms its texts take on other paths (another
// time form, the value's digits or unit, the load time's spacing, another
// sequence number or operator) are the same test; another value, minute or
// device is another test.
TEST(ResultIdentities, AreTheTestWhateverPathBroughtIt) {
  const QString id = ResultIdentity(Row(QStringLiteral("25-01-12 09:20"), QStringLiteral("61.6 μΩ")));
  QStringList renumbered = Row(QStringLiteral("2025-01-12 09:20:00"), QStringLiteral("61.60 μΩ"), QStringLiteral("60秒"));
  renumbered[0] = QStringLiteral("17");
  renumbered[3] = QStringLiteral("李四");
  for (const QStringList& same : {renumbered, Row(QStringLiteral("2025/1/12 9:20"), QStringLiteral("0.0616 mΩ")),
                                  Row(QStringLiteral("25-01-12 09:20"), QStringLiteral("61.6µΩ"), QStringLiteral("60"))}) {
    EXPECT_EQ(ResultIdentity(same), id) << same.join('|').toStdString();
  }
  for (const QStringList& other : {Row(QStringLiteral("25-01-12 09:21"), QStringLiteral("61.6 μΩ")),
                                   Row(QStringLiteral("25-01-12 09:20"), QStringLiteral("61.7 μΩ")),
                                   Row(QStringLiteral("25-01-12 09:20"), QStringLiteral("61.6 mΩ")),
                                   Row(QStringLiteral("25-01-12 09:20"), QStringLiteral("61.6 μΩ"), QStringLiteral("30 秒")),
                                   Row(QStringLiteral("25-01-12 09:20"), QStringLiteral("61.6 μΩ"), QStringLiteral("60 秒"),
                                       QStringLiteral("QK356"))}) {
    EXPECT_NE(ResultIdentity(other), id) << other.join('|').toStdString();
  }
}

struct TShownCase {
  const char* code;
  double value;
  const char* shown;
};

class ShownNumbers : public ::testing::TestWithParam<TShownCase> {};

// A number under its format code as a spreadsheet shows it.
TEST_P(ShownNumbers, AreWhatTheSheetShows) {
  EXPECT_EQ(FormattedNumberText(GetParam().value, QString::fromUtf8(GetParam().code)), QString::fromUtf8(GetParam().shown))
      << GetParam().code;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ShownNumbers,
    ::testing::Values(TShownCase{"0.0 \"μΩ\"", 52.4, "52.4 μΩ"}, TShownCase{"0.0\" μΩ\"", 52.44, "52.4 μΩ"},
                      TShownCase{"0.0 μΩ", 52.46, "52.5 μΩ"}, TShownCase{"0\"秒\"", 60, "60秒"},
                      TShownCase{"0.0%", 0.125, "12.5%"}, TShownCase{"0%", 0.125, "13%"},
                      TShownCase{"#,##0.00", 1234.5, "1,234.50"}, TShownCase{"0.00", -3.14159, "-3.14"},
                      TShownCase{"0.00;(0.00)", -3.14159, "(3.14)"}, TShownCase{"0.0000\" mΩ\"", 0.0621, "0.0621 mΩ"},
                      TShownCase{"#.##", 0.5, ".5"}, TShownCase{"0.###", 2, "2."},
                      TShownCase{"0.00E+00", 12345, "1.23E+04"}, TShownCase{"[Red]0.0", 7, "7.0"},
                      TShownCase{"[$€-407]0.00", 7, "€7.00"}, TShownCase{"#,##0,\"k\"", 12345, "12k"},
                      TShownCase{"\\$0", 5, "$5"}, TShownCase{"General", 0.75, "0.75"},
                      TShownCase{"# ?/?", 0.75, "0.75"}));  // a fraction: the general number

// Workbooks formatted by their producers (openpyxl, then LibreOffice's
// .ods and .xls of the same sheet): the history reads what each cell shows.
class FormattedWorkbooks : public ::testing::TestWithParam<const char*> {};

TEST_P(FormattedWorkbooks, AreReadAsTheySHowTheirCells) {
  const TImportCheck check = CheckImportRows(ReadImportFile(kFixtures + QString::fromUtf8(GetParam())));
  ASSERT_EQ(check.results.size(), 2u) << check.refused.join('|').toStdString();
  const QStringList& first = check.results[0].texts;
  EXPECT_EQ(first[Record::kTime], QStringLiteral("25-01-12 09:20"));
  EXPECT_EQ(first[Record::kLoadTime], QStringLiteral("60 秒"));
  EXPECT_EQ(first[Record::kOhmA], QStringLiteral("52.4 μΩ"));
  EXPECT_EQ(first[Record::kOhmC], QStringLiteral("0.0621 mΩ"));
  EXPECT_EQ(check.results[0].time, QDateTime(QDate(2025, 1, 12), QTime(9, 20)));
  const QStringList& second = check.results[1].texts;
  EXPECT_EQ(second[Record::kOhmA], QStringLiteral("48.95 μΩ"));
  EXPECT_EQ(check.results[1].time, QDateTime(QDate(2025, 6, 4), QTime(0, 0)));  // a date alone: its midnight
  ASSERT_EQ(check.refusedCount, 1);
  EXPECT_EQ(check.refused[0], QStringLiteral("第 4 行：时间\"25-02-30 10:00\"无法识别"));
}

INSTANTIATE_TEST_SUITE_P(Producers, FormattedWorkbooks,
                         ::testing::Values("formatted.xlsx", "formatted.ods", "formatted.xls"),
                         [](const ::testing::TestParamInfo<const char*>& i) {
                           return QString::fromUtf8(i.param).replace(QLatin1Char('.'), QLatin1Char('_')).toStdString();
                         });

// XML Spreadsheet 2003 names its formats or gives codes.
TEST(FormattedWorkbooks, XmlSpreadsheetShowsItsNamedAndCodedFormats) {
  const QByteArray xml =
      "<?xml version=\"1.0\"?><Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\""
      " xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"><Styles>"
      "<Style ss:ID=\"u\"><NumberFormat ss:Format=\"0.0&quot; μΩ&quot;\"/></Style>"
      "<Style ss:ID=\"p\"><NumberFormat ss:Format=\"Percent\"/></Style></Styles>"
      "<Worksheet ss:Name=\"S\"><Table><Row><Cell ss:StyleID=\"u\"><Data ss:Type=\"Number\">52.4</Data></Cell>"
      "<Cell ss:StyleID=\"p\"><Data ss:Type=\"Number\">0.125</Data></Cell><Cell><Data ss:Type=\"Number\">7</Data></Cell>"
      "</Row></Table></Worksheet></Workbook>";
  const auto shown = ReadXmlSpreadsheetBytes(xml, TReadOptions{true});
  const TSheet& s = shown->sheets[0];
  EXPECT_EQ(s.CellText(0, 0), QStringLiteral("52.4 μΩ"));
  EXPECT_EQ(s.CellText(0, 1), QStringLiteral("12.50%"));
  EXPECT_EQ(s.CellText(0, 2), QStringLiteral("7"));
  // The archive reads the values themselves, as before.
  const auto values = ReadXmlSpreadsheetBytes(xml);
  EXPECT_EQ(values->sheets[0].CellText(0, 0), QStringLiteral("52.4"));
}

// Rows checked one by one: a bare number takes the unit its caption names;
// without one, or with a time or value that cannot be read, the row is
// refused and named.
TEST(ImportRows, ABareNumberTakesItsCaptionsUnitOrIsRefused) {
  TImportFile file;
  file.captions = QStringList{"序号", "时间", "设备编号", "测试人员", "测试地点", "测试档位", "载流时间", "测试相",
                              "A相电阻(μΩ)", "B相电阻（mΩ）", "测试电阻(C)"};
  file.rows = {TImportRow{2, {" 1", "2025-01-12 09:20", "QK355", "张三", "站", "200A", "60", "三相", "52.4", "0.053", "62.1"}},
               TImportRow{3, {" 2", "2025-01-12 09:21", "QK355", "张三", "站", "200A", "60", "三相", "52.4", "0.053", "62.1 μΩ"}},
               TImportRow{4, {" 3", "not a time", "QK355", "张三", "站", "200A", "60", "三相", "52.4", "", ""}},
               TImportRow{5, {" 4", "2025-01-12 09:22", "QK355", "张三", "站", "200A", "60", "三相", "超量程", "", ""}},
               TImportRow{6, {}}};
  const TImportCheck check = CheckImportRows(file);
  ASSERT_EQ(check.results.size(), 1u);
  EXPECT_EQ(check.results[0].texts[Record::kOhmA], QStringLiteral("52.4 μΩ"));
  EXPECT_EQ(check.results[0].texts[Record::kOhmB], QStringLiteral("0.053 mΩ"));
  EXPECT_EQ(check.results[0].texts[Record::kLoadTime], QStringLiteral("60 秒"));
  EXPECT_EQ(check.refusedCount, 3);
  EXPECT_EQ(check.refused, (QStringList{"第 2 行：测试电阻(C)\"62.1\"没有单位", "第 4 行：时间\"not a time\"无法识别",
                                        "第 5 行：测试电阻(A)\"超量程\"无法识别"}));
  TAddCount count;
  count.added = 1;
  EXPECT_EQ(ImportSummary(count, check),
            QStringLiteral("已导入 1 条结果，0 条已在历史记录中，3 条未导入（第 2 行：测试电阻(C)\"62.1\"没有单位；"
                           "第 4 行：时间\"not a time\"无法识别；第 5 行：测试电阻(A)\"超量程\"无法识别）"));
}

class ImportRoundTrip : public ::testing::Test {
 protected:
  QString File() const { return FDir.filePath(QStringLiteral("results.sqlite")); }
  // Rows of an upload: the instrument's texts and the frame's values.
  static std::vector<QStringList> Upload(int count) {
    std::vector<QStringList> rows;
    for (int i = 0; i < count; ++i) {
      const QDateTime t = QDateTime(QDate(2025, 1, 12), QTime(8, 0)).addSecs(60LL * i);
      rows.push_back({QString::asprintf("%2d", i + 1), t.toString(QStringLiteral("yy-MM-dd hh:mm")), QStringLiteral("QK355"),
                      QStringLiteral("张三"), QStringLiteral("东郊变"), QStringLiteral("200A"), QStringLiteral("60 秒"),
                      QStringLiteral("三相"), QStringLiteral("%1.%2 μΩ").arg(50 + i % 7).arg(i % 10),
                      QStringLiteral("%1.4 μΩ").arg(51 + i % 5), QStringLiteral("1.%1 mΩ").arg(200 + i % 50)});
    }
    return rows;
  }
  TAddCount Import(TResultStore& store, const QString& file) {
    const TImportCheck check = CheckImportRows(ReadImportFile(file));
    EXPECT_EQ(check.refusedCount, 0) << check.refused.join('|').toStdString();
    return store.Add(check.results);
  }
  QTemporaryDir FDir;
};

class RowsOf : public ITextRows {
 public:
  explicit RowsOf(std::vector<QStringList> rows) : FRows(std::move(rows)) {}
  int RowCount() const override { return int(FRows.size()); }
  int ColCount() const override { return FRows.empty() ? 0 : int(FRows[0].size()); }
  QString Cell(int row, int col) const override { return FRows[size_t(row)].value(col); }

 private:
  std::vector<QStringList> FRows;
};

// The history's export of an upload, in each file kind, imports as
// nothing new; so does the archive's own saved workbook of the upload; the
// frame's values stay (no copy is judged differently).
TEST_F(ImportRoundTrip, AnExportOrASavedUploadAddsNothing) {
  TResultStore store(File());
  const std::vector<QStringList> upload = Upload(255);
  std::vector<TOhms> values;
  for (size_t i = 0; i < upload.size(); ++i) values.push_back(TOhms{50.0123e-6 + double(i) * 1e-9, {}, {}});
  ASSERT_EQ(store.AddUploaded(upload, values), 255);
  std::vector<QStringList> judged;
  for (const TStoredResult& r : store.Results()) {
    const THistoryRow row = JudgedRow(r, TJudge{});
    judged.push_back(row.texts + QStringList{row.reasons.join(QStringLiteral("；"))});
  }
  for (const char* name : {"history.xlsx", "history.xls", "history.csv", "history.txt"}) {
    const QString file = FDir.filePath(QString::fromUtf8(name));
    FormatOf(file).write(file, Judged::Captions() + QStringList{QStringLiteral("原因")}, RowsOf(judged));
    const TAddCount count = Import(store, file);
    EXPECT_EQ(count.added, 0) << name;
    EXPECT_EQ(count.existing, 255) << name;
  }
  const QString saved = FDir.filePath(QStringLiteral("archive.xlsx"));
  FormatOf(saved).write(saved, Record::Captions(), RowsOf(upload));
  EXPECT_EQ(Import(store, saved).added, 0);
  EXPECT_EQ(store.Count({}), 255);
  for (const TStoredResult& r : store.Results()) {
    EXPECT_TRUE(r.exact) << r.texts.join('|').toStdString();
  }
}

// The program's CSV as LibreOffice saves it again (times with seconds) is
// the same tests, at their own times.
TEST_F(ImportRoundTrip, OurCsvSavedByLibreOfficeKeepsItsTimes) {
  TResultStore store(File());
  ASSERT_EQ(Import(store, kFixtures + QStringLiteral("ours.csv")).added, 2);
  const TAddCount again = Import(store, kFixtures + QStringLiteral("ours-libreoffice.csv"));
  EXPECT_EQ(again.added, 0);
  EXPECT_EQ(again.existing, 2);
  const std::vector<TStoredResult> kept = store.Results();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].time, QDateTime(QDate(2025, 1, 12), QTime(9, 31)));
  EXPECT_EQ(kept[1].time, QDateTime(QDate(2025, 1, 12), QTime(9, 20)));
}

// An import first, the upload of the same tests after: one result each,
// with the frame's values.
TEST_F(ImportRoundTrip, AnUploadAfterItsImportGivesTheFramesValues) {
  TResultStore store(File());
  const std::vector<QStringList> upload = Upload(3);
  ASSERT_EQ(store.AddImported(upload), 3);
  const TAddCount count = store.Add({TNewResult{TResultKind::Uploaded, upload[0], TOhms{50.0123e-6, {}, {}}, {}, {}}});
  EXPECT_EQ(count.added, 0);
  EXPECT_EQ(count.upgraded, 1);
  const std::vector<TStoredResult> kept = store.Results();
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_DOUBLE_EQ(*kept[2].ohms[0], 50.0123e-6);
  EXPECT_TRUE(kept[2].exact);
}

// A NUL or another control character in a field is left out and counted;
// the row is stored, its other texts whole.
TEST_F(ImportRoundTrip, ControlCharactersAreLeftOutAndCounted) {
  const QString csv = FDir.filePath(QStringLiteral("nul.csv"));
  QFile f(csv);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  QByteArray bytes("序号,时间,设备编号,测试人员,测试地点,测试档位,载流时间,测试相,测试电阻(A),测试电阻(B),测试电阻(C)\r\n"
                   " 1,25-01-12 09:20,QK");
  bytes += '\0';
  bytes += "355,张";
  bytes += '\x01';
  bytes += "三,站,200A,60 秒,单相,52.4 μΩ,,\r\n";
  f.write(bytes);
  f.close();
  TResultStore store(File());
  const TImportCheck check = CheckImportRows(ReadImportFile(csv));
  ASSERT_EQ(check.results.size(), 1u);
  const TAddCount count = store.Add(check.results);
  EXPECT_EQ(count.added, 1);
  EXPECT_EQ(count.removedChars, 2);
  EXPECT_TRUE(ImportSummary(count, check).endsWith(QStringLiteral("；2 个无法保存的字符（如 NUL）已去除")));
  EXPECT_EQ(store.Devices(), QStringList{QStringLiteral("QK355")});
  EXPECT_EQ(store.Results()[0].texts[Record::kTester], QStringLiteral("张三"));
}

}  // namespace
