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
  auto app = NewEmbeddedSpreadsheet();
  app->SetDisplayAlerts(false);
  app->SetVisible(false);
  app->WorkbooksAdd(1);
  app->ActiveWorkbookSaveAs(name);
  app->CellsSetColumnWidth(9.5);
  app->CellsSetHorizontalAlignment(kAlignCenter);
  app->ColumnsSetColumnWidth(2, 17.5);
  app->CellsSetNumberFormat(QStringLiteral("@"));
  for (int c = 1; c <= 11; ++c) app->SetCellValue(1, c, QStringLiteral("标题%1").arg(c));
  for (int r = 2; r <= dataRows + 1; ++r) {
    app->SetCellValue(r, 1, QString::number(r - 1));
    app->SetCellValue(r, 2, QStringLiteral("08-03-05 09:07"));
    for (int c = 3; c <= 11; ++c) app->SetCellValue(r, c, QStringLiteral("%1.%2").arg(r).arg(c));
  }
  app->ActiveWorkbookSave();
  app->WorkbooksItemClose(1, false);
  app->Quit();
}

TEST(SpreadsheetFiles, WrittenWorkbookAsLiborcusReadsIt) {
  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("table.xlsx"));
  WriteTableLikeTheExchange(name, 3);
  ASSERT_TRUE(ReadAll(name).startsWith("PK\x03\x04"));

  using namespace orcus::spreadsheet;
  document doc{range_size_t{1048576, 16384}};
  import_factory factory(doc);
  orcus::orcus_xlsx filter(&factory);
  filter.read_file(QFile::encodeName(name).toStdString());
  ASSERT_EQ(doc.get_sheet_count(), 1u);
  const sheet* sh = doc.get_sheet(0);
  const ixion::abs_range_t range = sh->get_data_range();
  EXPECT_EQ(range.first.row, 0);
  EXPECT_EQ(range.last.row, 3);
  EXPECT_EQ(range.first.column, 0);
  EXPECT_EQ(range.last.column, 10);

  const ixion::model_context& cxt = doc.get_model_context();
  for (int r = 0; r <= 3; ++r) {
    for (int c = 0; c <= 10; ++c) {
      const ixion::cell_access ca = cxt.get_cell_access(ixion::abs_address_t(0, r, c));
      ASSERT_EQ(ca.get_value_type(), ixion::cell_value_t::string) << r << "," << c;
      const std::string_view s = ca.get_string_value();
      QString expected;
      if (r == 0) expected = QStringLiteral("标题%1").arg(c + 1);
      else if (c == 0) expected = QString::number(r);
      else if (c == 1) expected = QStringLiteral("08-03-05 09:07");
      else expected = QStringLiteral("%1.%2").arg(r + 1).arg(c + 1);
      EXPECT_EQ(QString::fromUtf8(s.data(), static_cast<int>(s.size())), expected) << r << "," << c;

      const cell_format_t* cf = doc.get_styles().get_cell_format(sh->get_cell_format(r, c));
      ASSERT_NE(cf, nullptr);
      EXPECT_EQ(cf->hor_align, hor_alignment_t::center);
      // "@": the built-in text format 49, or a format of that text
      const number_format_t* nf = doc.get_styles().get_number_format(cf->number_format);
      EXPECT_TRUE(cf->number_format == 49 || (nf && nf->format_string == "@")) << cf->number_format;
    }
  }
  const col_width_t a = sh->get_col_width(0, nullptr, nullptr);
  const col_width_t b = sh->get_col_width(1, nullptr, nullptr);
  const col_width_t k = sh->get_col_width(10, nullptr, nullptr);
  EXPECT_EQ(a, k);
  EXPECT_GT(b, a);
  // 17.5 and 9.5 characters, each with the same cell padding
  EXPECT_NEAR(static_cast<double>(b) / a, (17.5 + 0.71) / (9.5 + 0.71), 0.05);
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
  auto app = NewEmbeddedSpreadsheet();
  app->WorkbooksAdd(1);
  // A text longer than a cell can hold makes the store fail part-way.
  app->SetCellValue(1, 1, QString(40000, QLatin1Char('x')));
  EXPECT_THROW(app->ActiveWorkbookSaveAs(name), ESpreadsheetError);
  EXPECT_EQ(ReadAll(name), QByteArray("old contents"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("old.xlsx")});

  app->SetCellValue(1, 1, QStringLiteral("new"));
  app->ActiveWorkbookSaveAs(name);
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
  auto app = NewEmbeddedSpreadsheet();
  app->WorkbooksAdd(1);
  const auto& rows = SampleRows();
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < rows[r].size(); ++c) {
      const auto& v = rows[r][c].value;
      QString text;
      if (const QString* s = std::get_if<QString>(&v)) text = *s;
      if (const double* d = std::get_if<double>(&v)) text = QString::number(*d);
      app->SetCellValue(static_cast<int>(r) + 1, static_cast<int>(c) + 1, text);
    }
  }
  app->ActiveWorkbookSaveAs(tmp);
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
  auto app = NewEmbeddedSpreadsheet();
  app->SetDisplayAlerts(false);
  app->SetVisible(false);
  app->WorkbooksOpen(name);
  EXPECT_EQ(app->WorkbooksCount(), 1);
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
    auto app = NewEmbeddedSpreadsheet();
    EXPECT_THROW(app->WorkbooksOpen(name), ESpreadsheetError) << name.toStdString();
    EXPECT_EQ(app->WorkbooksCount(), 0);
  }
}

}  // namespace
