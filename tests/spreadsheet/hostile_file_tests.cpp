// Workbooks made to hurt a reader: far cells, huge repeat counts, chains
// that loop. Each is read in the memory its cells need or refused with a
// reason that names the limit.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QtEndian>

#include <gtest/gtest.h>

#include <functional>

#include "spreadsheet/SheetReaders.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"
#include "support/SpreadsheetFixtures.h"

namespace {

const QByteArray kContentTypes =
    "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>";
const QByteArray kPackageRels =
    "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
    "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
const QByteArray kWorkbook =
    "<?xml version=\"1.0\"?><workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
    "<sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
const QByteArray kWorkbookRels =
    "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
    "worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>";

QByteArray Xlsx(const QByteArray& sheetData) {
  return MakeStoredZip({{"[Content_Types].xml", kContentTypes},
                        {"_rels/.rels", kPackageRels},
                        {"xl/workbook.xml", kWorkbook},
                        {"xl/_rels/workbook.xml.rels", kWorkbookRels},
                        {"xl/worksheets/sheet1.xml",
                         "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" +
                             sheetData + "</sheetData></worksheet>"}});
}

QByteArray Ods(const QByteArray& table) {
  return MakeStoredZip(
      {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
       {"content.xml",
        "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body><office:spreadsheet>"
        "<table:table table:name=\"S\">" +
            table + "</table:table></office:spreadsheet></office:body></office:document-content>"}});
}

QString Refusal(const QByteArray& bytes) {
  try {
    ReadWorkbookBytes(bytes);
  } catch (const ESpreadsheetError& e) {
    return e.Text();
  }
  return {};
}

// A cell at column XFD costs what a cell at column A costs: 20,000 such
// rows once asked for 2.6 GB.
TEST(HostileWorkbooks, FarCellsCostWhatTheirCellsCost) {
  QByteArray rows;
  for (int r = 1; r <= 20000; ++r) {
    rows += QStringLiteral("<row r=\"%1\"><c r=\"A%1\"><v>%1</v></c><c r=\"XFD%1\"><v>1</v></c></row>").arg(r).toLatin1();
  }
  const auto book = ReadWorkbookBytes(Xlsx(rows));
  const TSheet& sheet = book->sheets.at(0);
  EXPECT_EQ(sheet.At(19999, 16383).kind, TSheetCell::Kind::Number);
  EXPECT_EQ(sheet.Number(sheet.At(19999, 0)), 20000);
  // Rows, two cells and two numbers a row, with room to grow.
  EXPECT_LT(sheet.budget.Used(), 20000 * 200);
}

struct THostile {
  const char* name;
  std::function<QByteArray()> make;
  const char* says;
};

class HostileWorkbook : public ::testing::TestWithParam<THostile> {};

TEST_P(HostileWorkbook, IsRefusedWithTheLimitItPasses) {
  const QString why = Refusal(GetParam().make());
  EXPECT_TRUE(why.contains(QString::fromUtf8(GetParam().says))) << why.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileWorkbook,
    ::testing::Values(
        // A million rows of a whole sheet's width: more than the budget,
        // refused before the first copy.
        THostile{"OdsRepeatedFullRows",
                 [] {
                   return Ods("<table:table-row table:number-rows-repeated=\"1000000\">"
                              "<table:table-cell table:number-columns-repeated=\"16384\" office:value-type=\"float\" "
                              "office:value=\"1\"/></table:table-row>");
                 },
                 "超过 1024 MB 的上限"},
        // Three thousand million blanks asked for by three elements.
        THostile{"OdsSpaceCount",
                 [] {
                   return Ods("<table:table-row><table:table-cell><text:p><text:s text:c=\"1000000000\"/>"
                              "<text:s text:c=\"1000000000\"/></text:p></table:table-cell></table:table-row>");
                 },
                 "超过 1024 MB 的上限"},
        // Repeat counts that overflow a 64-bit position, then a value.
        THostile{"OdsRowOverflow",
                 [] {
                   return Ods("<table:table-row table:number-rows-repeated=\"9223372036854775807\"><table:table-cell/>"
                              "</table:table-row><table:table-row table:number-rows-repeated=\"9223372036854775807\">"
                              "<table:table-cell office:value-type=\"float\" office:value=\"1\"/></table:table-row>");
                 },
                 "超过 1048576 行"},
        THostile{"XmlSsMergeAcrossOverflow",
                 [] {
                   return QByteArray(
                       "<?xml version=\"1.0\"?><Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
                       "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"><Worksheet ss:Name=\"S\"><Table>"
                       "<Row><Cell ss:Index=\"9223372036854775807\" ss:MergeAcross=\"9223372036854775807\">"
                       "<Data ss:Type=\"String\">a</Data></Cell><Cell><Data ss:Type=\"String\">b</Data></Cell></Row>"
                       "</Table></Worksheet></Workbook>");
                 },
                 "超过 16384 列"},
        THostile{"XlsxRowBeyondTheSheet",
                 [] { return Xlsx("<row r=\"1048577\"><c r=\"A1048577\"><v>1</v></c></row>"); },
                 "超过 1048576 行"}),
    [](const auto& info) { return std::string(info.param.name); });

// The compound-file faults of the reproducers, each a chain or a size that
// cannot be: refused, never read as data.
struct TCompoundCase {
  const char* file;
  const char* says;
};

class CompoundFile : public ::testing::TestWithParam<TCompoundCase> {};

TEST_P(CompoundFile, ChainsThatCannotBeAreRefused) {
  QFile f(QStringLiteral(QT_TESTCASE_SOURCEDIR "/fuzz/repro/") + QString::fromUtf8(GetParam().file));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QString why = Refusal(f.readAll());
  EXPECT_TRUE(why.contains(QStringLiteral("Excel 97-2003 工作簿已损坏"))) << why.toStdString();
  EXPECT_TRUE(why.contains(QString::fromUtf8(GetParam().says))) << why.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Reproducers, CompoundFile,
                         ::testing::Values(TCompoundCase{"xls-stream-fat-cycle-accepted-silently.xls", "扇区链有循环"},
                                           TCompoundCase{"xls-directory-chain-cycle-550MB-rss.xls", "FAT 比文件还大"},
                                           TCompoundCase{"xls-minisector-shift31-oob-read.xls", "小扇区大小"},
                                           TCompoundCase{"xls-minisector-shift-exponent-ub.xls", "小扇区大小"},
                                           TCompoundCase{"xls-ministream-negative-sector-oob-read.xls", "小扇区大小"}));

// A directory whose chain comes back to itself, with a FAT of a sane size.
TEST(CompoundFile, ADirectoryChainThatLoopsIsRefusedAtOnce) {
  QByteArray xls = MakeXlsWorkbook({{"序号"}, {1}});
  // Header: directory starts at sector D; make the FAT entry of D point to D.
  const quint32 dir = qFromLittleEndian<quint32>(xls.constData() + 0x30);
  const quint32 fatSector = qFromLittleEndian<quint32>(xls.constData() + 0x4C);
  qToLittleEndian<quint32>(dir, xls.data() + (fatSector + 1) * 512 + 4 * dir);
  EXPECT_TRUE(Refusal(xls).contains(QStringLiteral("扇区链有循环")));
}

// The reasons are Chinese as written: no message of a reader decodes its
// UTF-8 text as Latin-1.
TEST(ReaderMessages, NoSourceDecodesAChineseLiteralAsLatin1) {
  const QRegularExpression latin1(QStringLiteral("(fromLatin1|QLatin1String|QLatin1Char)\\s*\\(\\s*\"[^\"]*[^\\x00-\\x7F]"));
  const QRegularExpression variable(QStringLiteral("fromLatin1\\s*\\(\\s*what\\b"));
  for (const char* folder : {"src/spreadsheet", "src/data", "src/platform", "src/history"}) {
    QDirIterator it(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../") + QLatin1String(folder), {QStringLiteral("*.cpp")});
    while (it.hasNext()) {
      QFile f(it.next());
      ASSERT_TRUE(f.open(QIODevice::ReadOnly));
      const QString source = QString::fromUtf8(f.readAll());
      EXPECT_FALSE(latin1.match(source).hasMatch()) << it.filePath().toStdString();
      EXPECT_FALSE(variable.match(source).hasMatch()) << it.filePath().toStdString();
    }
  }
}

}  // namespace
