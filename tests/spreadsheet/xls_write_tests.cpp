// Excel 97-2003 workbooks written by the program: read back by the program's
// reader (FreeXL) and, where it is installed, by LibreOffice.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <freexl.h>
#include <gtest/gtest.h>

#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"
#include "spreadsheet/XlsWrite.h"
#include "spreadsheet/XlsxWrite.h"
#include "support/SpreadsheetFixtures.h"

namespace {

// A sheet laid out as the program stores its tables: text cells, "@",
// centred, 9.5 wide and column B 17.5.
TWorkbook Book(int rows, const QString& longText = QString()) {
  TWorkbook book;
  book.sheets.emplace_back();
  TSheet& s = book.sheets.back();
  s.defaultWidth = 9.5;
  s.widths[1] = 17.5;
  s.align = kAlignCenter;
  s.numberFormat = QStringLiteral("@");
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < 11; ++c) {
      s.SetText(r, c, r == 0 ? QStringLiteral("列%1").arg(c) : QStringLiteral("第%1行%2 μΩ").arg(r).arg(c));
    }
  }
  if (!longText.isEmpty()) {
    s.SetText(rows, 0, longText);
  }
  return book;
}

void Write(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

// Thousands of distinct texts fill the shared strings over many CONTINUE
// records, one text is split across records; every cell reads back.
TEST(XlsWrite, EveryTextReadsBackThroughTheProgramsReader) {
  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("big.xls"));
  // A text split over three records.
  const QString longText = QString(12000, QChar(0x6D4B));
  Write(name, XlsFileBytes(Book(1500, longText)));
  auto app = std::make_unique<TReadBack>(name);
  ASSERT_EQ(app->UsedRangeRowsCount(), 1501);
  EXPECT_EQ(app->CellValue(1, 1), QStringLiteral("列0"));
  EXPECT_EQ(app->CellValue(2, 11), QStringLiteral("第1行10 μΩ"));
  EXPECT_EQ(app->CellValue(1500, 3), QStringLiteral("第1499行2 μΩ"));
  const QString back = app->CellValue(1501, 1);
  EXPECT_EQ(back.size(), longText.size());
  EXPECT_TRUE(back == longText) << "the text split across records differs";
}

// FreeXL, a reader written by others, sees the same sheet: its dimensions,
// the texts and the shared strings over several CONTINUE records.
TEST(XlsWrite, FreeXlReadsTheSameCells) {
  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("other.xls"));
  Write(name, XlsFileBytes(Book(3000, QString())));
  const void* handle = nullptr;
  ASSERT_EQ(freexl_open(QFile::encodeName(name).constData(), &handle), FREEXL_OK);
  unsigned int sheets = 0;
  EXPECT_EQ(freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &sheets), FREEXL_OK);
  EXPECT_EQ(sheets, 1u);
  ASSERT_EQ(freexl_select_active_worksheet(handle, 0), FREEXL_OK);
  unsigned int rows = 0;
  unsigned short cols = 0;
  ASSERT_EQ(freexl_worksheet_dimensions(handle, &rows, &cols), FREEXL_OK);
  EXPECT_EQ(rows, 3000u);
  EXPECT_EQ(cols, 11);
  for (const auto& [r, c, text] : {std::tuple{0u, 0, "列0"}, {1u, 10, "第1行10 μΩ"}, {2999u, 5, "第2999行5 μΩ"}}) {
    FreeXL_CellValue v;
    ASSERT_EQ(freexl_get_cell_value(handle, r, static_cast<unsigned short>(c), &v), FREEXL_OK);
    ASSERT_EQ(v.type, FREEXL_CELL_SST_TEXT);
    EXPECT_STREQ(v.value.text_value, text);
  }
  freexl_close(handle);
}

TEST(XlsWrite, MoreRowsThanTheFormatHoldsAreRefused) {
  TWorkbook book;
  book.sheets.emplace_back();
  book.sheets.back().SetText(65536, 0, QStringLiteral("x"));
  try {
    XlsFileBytes(book);
    FAIL() << "no error";
  } catch (const ESpreadsheetError& e) {
    EXPECT_TRUE(e.Text().contains(QStringLiteral(".xlsx"))) << e.Text().toStdString();
  }
}

// LibreOffice opens the file as Excel 97-2003 and sees every cell as text.
struct TWrittenKind {
  const char* suffix;
  QByteArray (*bytes)(const TWorkbook&);
};

class WrittenByTheProgram : public ::testing::TestWithParam<TWrittenKind> {};

// LibreOffice opens the file (Excel 97-2003 or Office Open XML) and sees every
// cell as the program wrote it.
TEST_P(WrittenByTheProgram, LibreOfficeReadsEveryCell) {
  const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
  if (soffice.isEmpty()) GTEST_SKIP() << "LibreOffice is not installed";
  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("table.") + QLatin1String(GetParam().suffix));
  // In .xls the last text is split over three records of the shared strings.
  Write(name, GetParam().bytes(Book(4, QString(9000, QChar(0x6D4B)))));
  QProcess p;
  p.setWorkingDirectory(dir.path());
  p.start(soffice, {QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("profile")),
                    QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                    QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76"), QStringLiteral("--outdir"), dir.path(),
                    name});
  ASSERT_TRUE(p.waitForFinished(120000));
  QFile csv(dir.filePath(QStringLiteral("table.csv")));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly)) << p.readAllStandardError().toStdString();
  const QStringList lines = QString::fromUtf8(csv.readAll()).split(QStringLiteral("\n"), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 5);
  EXPECT_EQ(lines[4].trimmed(), QString(9000, QChar(0x6D4B)) + QStringLiteral(",,,,,,,,,,"));
  EXPECT_EQ(lines[0].trimmed(), QStringLiteral("列0,列1,列2,列3,列4,列5,列6,列7,列8,列9,列10"));
  EXPECT_TRUE(lines[3].startsWith(QStringLiteral("第3行0 μΩ,第3行1 μΩ"))) << lines[3].toStdString();
}

INSTANTIATE_TEST_SUITE_P(Formats, WrittenByTheProgram,
                         ::testing::Values(TWrittenKind{"xls", &XlsFileBytes}, TWrittenKind{"xlsx", &XlsxFileBytes}),
                         [](const ::testing::TestParamInfo<TWrittenKind>& i) { return std::string(i.param.suffix); });

}  // namespace
