// Workbook files of the embedded engine: what it writes, as another reader
// sees it, and the formats it reads, told apart by content.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <ixion/address.hpp>
#include <ixion/cell_access.hpp>
#include <ixion/model_context.hpp>
#include <orcus/orcus_xlsx.hpp>
#include <orcus/spreadsheet/document.hpp>
#include <orcus/spreadsheet/factory.hpp>
#include <orcus/spreadsheet/sheet.hpp>
#include <orcus/spreadsheet/styles.hpp>
#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>

#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"
#include "support/SpreadsheetFixtures.h"

namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

QString ZipEntry(const QString& path, const char* entry) {
  orcus::zip_archive_stream_fd stream(QFile::encodeName(path).constData());
  orcus::zip_archive zip(&stream);
  zip.load();
  std::vector<unsigned char> buf;
  if (!zip.read_file_entry(entry, buf)) return {};
  return QString::fromUtf8(reinterpret_cast<const char*>(buf.data()), static_cast<int>(buf.size()));
}

// The workbook the exchange writes: captions and data as text, formatted.
void WriteTableLikeTheExchange(const QString& name, int dataRows) {
  TWorkbook book;
  book.sheets.emplace_back();
  TSheet& s = book.sheets.back();
  s.defaultWidth = 9.5;
  s.align = kAlignCenter;
  s.widths[1] = 17.5;
  s.numberFormat = QStringLiteral("@");
  for (int c = 0; c < 11; ++c) s.SetText(0, c, QStringLiteral("标题%1").arg(c + 1));
  for (int r = 1; r <= dataRows; ++r) {
    s.SetText(r, 0, QString::number(r));
    s.SetText(r, 1, QStringLiteral("08-03-05 09:07"));
    for (int c = 2; c < 11; ++c) s.SetText(r, c, QStringLiteral("%1.%2").arg(r + 1).arg(c + 1));
  }
  WriteWorkbookFile(book, name);
}

TEST(SpreadsheetFiles, SheetXmlCarriesWidthsAndTextFormat) {
  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("table.xlsx"));
  WriteTableLikeTheExchange(name, 1);
  const QString sheetXml = ZipEntry(name, "xl/worksheets/sheet1.xml");
  const QString styles = ZipEntry(name, "xl/styles.xml");
  ASSERT_FALSE(sheetXml.isEmpty());
  // column A, column B, then C to the last column of the sheet
  EXPECT_TRUE(sheetXml.contains(QStringLiteral("<col min=\"1\" max=\"1\" width=\"10.28515625\"")));
  EXPECT_TRUE(sheetXml.contains(QStringLiteral("<col min=\"2\" max=\"2\" width=\"18.28515625\"")));
  EXPECT_TRUE(sheetXml.contains(QStringLiteral("<col min=\"3\" max=\"16384\" width=\"10.28515625\"")));
  EXPECT_TRUE(styles.contains(QStringLiteral("numFmtId=\"49\"")));
  EXPECT_TRUE(styles.contains(QStringLiteral("horizontal=\"center\"")));
}

TEST(SpreadsheetFiles, SaveAsReplacesAtomically) {
  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("old.xlsx"));
  WriteFixtureFile(name, "old contents");
  TWorkbook book;
  book.sheets.emplace_back();
  // A text longer than a cell can hold makes the store fail part-way.
  book.sheets.back().SetText(0, 0, QString(40000, QLatin1Char('x')));
  EXPECT_THROW(WriteWorkbookFile(book, name), ESpreadsheetError);
  EXPECT_EQ(ReadAll(name), QByteArray("old contents"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("old.xlsx")});

  book.sheets.back().SetText(0, 0, QStringLiteral("new"));
  WriteWorkbookFile(book, name);
  EXPECT_TRUE(ReadAll(name).startsWith("PK"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("old.xlsx")});
}

// The same sheet in every format the engine reads, each under a name that
// does not tell its format.
const TFixtureRows& SampleRows() {
  static const TFixtureRows rows = {
      {},  // row 1 unused: the used range starts at row 2
      {"序号", "时间", "设备编号"},
      {7, "08-03-05 09:07", "QK-01"},
      {1.5, TFixtureCell{}, "测试"},
  };
  return rows;
}

QByteArray XlsxSample(const QString& dir) {
  const QString tmp = dir + QStringLiteral("/sample-source.xlsx");
  TWorkbook book;
  book.sheets.emplace_back();
  TSheet& sheet = book.sheets.back();
  const auto& rows = SampleRows();
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < rows[r].size(); ++c) {
      const auto& v = rows[r][c].value;
      if (const QString* s = std::get_if<QString>(&v)) sheet.SetText(int(r), int(c), *s);
      if (const double* d = std::get_if<double>(&v)) sheet.SetNumber(int(r), int(c), *d);
    }
  }
  WriteWorkbookFile(book, tmp);
  const QByteArray bytes = ReadAll(tmp);
  QFile::remove(tmp);
  return bytes;
}

struct TFormatCase {
  const char* name;
  std::function<QByteArray(const QString& dir)> make;
};

class SpreadsheetReadsByContent : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(SpreadsheetReadsByContent, FirstSheetCellsAndUsedRange) {
  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("data.dat"));
  WriteFixtureFile(name, GetParam().make(dir.path()));
  auto app = std::make_unique<TReadBack>(name);
  EXPECT_EQ(app->UsedRangeRowsCount(), 3);
  EXPECT_EQ(app->CellValue(2, 1), QStringLiteral("序号"));
  EXPECT_EQ(app->CellValue(2, 3), QStringLiteral("设备编号"));
  EXPECT_EQ(app->CellValue(3, 1), QStringLiteral("7"));
  EXPECT_EQ(app->CellValue(3, 2), QStringLiteral("08-03-05 09:07"));
  EXPECT_EQ(app->CellValue(4, 1), QStringLiteral("1.5"));
  EXPECT_EQ(app->CellValue(4, 2), QString());
  EXPECT_EQ(app->CellValue(4, 3), QStringLiteral("测试"));
  EXPECT_EQ(app->CellValue(9, 9), QString());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SpreadsheetReadsByContent,
    ::testing::Values(TFormatCase{"OfficeOpenXml", XlsxSample},
                      TFormatCase{"OpenDocument", [](const QString&) { return MakeOdsWorkbook(SampleRows()); }},
                      TFormatCase{"XmlSpreadsheet2003",
                                  [](const QString&) { return MakeXmlSpreadsheet(SampleRows()); }},
                      TFormatCase{"Excel97Binary", [](const QString&) { return MakeXlsWorkbook(SampleRows()); }}),
    [](const ::testing::TestParamInfo<TFormatCase>& i) { return std::string(i.param.name); });

TEST(SpreadsheetFiles, BinaryWorkbookFixtureIsACompoundFile) {
  const QByteArray xls = MakeXlsWorkbook(SampleRows());
  EXPECT_TRUE(xls.startsWith(QByteArray::fromHex("D0CF11E0A1B11AE1")));
  EXPECT_EQ(xls.size() % 512, 0);
}

TEST(SpreadsheetFiles, FilesThatAreNoWorkbookAreRefused) {
  QTemporaryDir dir;
  const QString text = dir.filePath(QStringLiteral("plain.xls"));
  WriteFixtureFile(text, "序号=1\r\n");
  const QString zip = dir.filePath(QStringLiteral("other.xlsx"));
  WriteFixtureFile(zip, MakeStoredZip({{QStringLiteral("readme.txt"), QByteArray("hello")}}));
  const QString broken = dir.filePath(QStringLiteral("broken.xls"));
  QByteArray xls = MakeXlsWorkbook(SampleRows());
  xls.truncate(700);
  WriteFixtureFile(broken, xls);
  const QString empty = dir.filePath(QStringLiteral("empty.xls"));
  WriteFixtureFile(empty, QByteArray());

  for (const QString& name : {text, zip, broken, empty}) {
    EXPECT_THROW(ReadWorkbookFile(name), ESpreadsheetError) << name.toStdString();
  }
}

}  // namespace
