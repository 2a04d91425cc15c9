// The workbook readers on files made to the byte: number formats, limits and
// the sheet a file marks as active.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "spreadsheet/NumberFormat.h"
#include "spreadsheet/Spreadsheet.h"
#include "support/SpreadsheetFixtures.h"

namespace {

struct TFormatCase {
  const char* code;
  TNumberShow show;
};

class FormatCodes : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(FormatCodes, TellDatesAndTimesFromNumbers) {
  EXPECT_EQ(FormatCodeShow(QString::fromUtf8(GetParam().code)), GetParam().show) << GetParam().code;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FormatCodes,
    ::testing::Values(TFormatCase{"yy-mm-dd hh:mm", TNumberShow::DateTime}, TFormatCase{"yy\\-mm\\-dd", TNumberShow::Date},
                      TFormatCase{"yyyy\"年\"m\"月\"d\"日\"", TNumberShow::Date}, TFormatCase{"m/d/yy", TNumberShow::Date},
                      TFormatCase{"h:mm AM/PM", TNumberShow::Time}, TFormatCase{"[h]:mm:ss", TNumberShow::Time},
                      TFormatCase{"mm:ss", TNumberShow::Time}, TFormatCase{"[$-804]hh:mm;@", TNumberShow::Time},
                      TFormatCase{"0.00%", TNumberShow::Number}, TFormatCase{"[$¥-804]#,##0.00", TNumberShow::Number},
                      TFormatCase{"0.00E+00", TNumberShow::Number}, TFormatCase{"[Red]0.0;\"day\"", TNumberShow::Number},
                      TFormatCase{"\"d\"0", TNumberShow::Number}, TFormatCase{"General", TNumberShow::Number},
                      TFormatCase{"@", TNumberShow::Number}));

struct TSerialCase {
  double serial;
  TNumberShow show;
  bool date1904;
  const char* text;
};

class Serials : public ::testing::TestWithParam<TSerialCase> {};

TEST_P(Serials, ShowAsTheProgramWritesDates) {
  const TSerialCase& c = GetParam();
  EXPECT_EQ(SerialText(c.serial, c.show, c.date1904), QString::fromUtf8(c.text)) << c.serial;
}

INSTANTIATE_TEST_SUITE_P(
    Values, Serials,
    ::testing::Values(TSerialCase{45414.3798611111, TNumberShow::DateTime, false, "24-05-02 09:07"},  // not 09:06
                      TSerialCase{45415, TNumberShow::Date, false, "24-05-03"},
                      TSerialCase{0.379861111111111, TNumberShow::Time, false, "09:07"},
                      TSerialCase{43952.5, TNumberShow::DateTime, true, "24-05-02 12:00"},
                      TSerialCase{1, TNumberShow::Date, false, "00-01-01"},
                      TSerialCase{61, TNumberShow::Date, false, "00-03-01"},
                      TSerialCase{-3, TNumberShow::Date, false, "-3"},
                      TSerialCase{45414.25, TNumberShow::Number, false, "45414.25"}));

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

QByteArray XlsxWithSheet(const QByteArray& sheetData) {
  return MakeStoredZip({{"[Content_Types].xml", kContentTypes},
                        {"_rels/.rels", kPackageRels},
                        {"xl/workbook.xml", kWorkbook},
                        {"xl/_rels/workbook.xml.rels", kWorkbookRels},
                        {"xl/worksheets/sheet1.xml",
                         "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" +
                             sheetData + "</sheetData></worksheet>"}});
}

class SheetReader : public ::testing::Test {
 protected:
  std::unique_ptr<TReadBack> Open(const QByteArray& bytes, const char* name) {
    const QString path = dir.filePath(QString::fromUtf8(name));
    WriteFixtureFile(path, bytes);
    return std::make_unique<TReadBack>(path);
  }
  QString Refusal(const QByteArray& bytes, const char* name) {
    try {
      Open(bytes, name);
    } catch (const ESpreadsheetError& e) {
      return e.Text();
    }
    return QStringLiteral("(read without an error)");
  }
  QTemporaryDir dir;
};

TEST_F(SheetReader, ARowBeyondTheLastRowOfASheetIsRefused) {
  const QString why = Refusal(XlsxWithSheet("<row r=\"1048577\"><c r=\"A1048577\" t=\"inlineStr\"><is><t>x</t></is>"
                                            "</c></row>"),
                              "rows.xlsx");
  EXPECT_TRUE(why.contains(QStringLiteral("超过 1048576 行"))) << why.toStdString();
  // The last row itself is a row like any other.
  auto app = Open(XlsxWithSheet("<row r=\"1048576\"><c r=\"B1048576\"><v>7</v></c></row>"), "last.xlsx");
  EXPECT_EQ(app->CellValue(1048576, 2), QStringLiteral("7"));
}

// Cells without addresses follow each other; rows without numbers too.
TEST_F(SheetReader, CellsWithoutAddressesFollowTheCellBefore) {
  auto app = Open(XlsxWithSheet("<row><c t=\"inlineStr\"><is><r><t>张</t></r><r><t>三</t></r>"
                                "<rPh><t>ちょう</t></rPh></is></c><c><v>2</v></c></row>"
                                "<row><c r=\"C2\" t=\"str\"><f>A1</f><v>a_x000D_b</v></c></row>"),
                  "plain.xlsx");
  EXPECT_EQ(app->CellValue(1, 1), QStringLiteral("张三"));
  EXPECT_EQ(app->CellValue(1, 2), QStringLiteral("2"));
  EXPECT_EQ(app->CellValue(2, 3), QStringLiteral("a\rb"));
}

TEST_F(SheetReader, ABrokenWorkbookIsRefusedWithItsReason) {
  EXPECT_TRUE(Refusal(XlsxWithSheet("<row><c r=\"A1\"><v>1</v></row>"), "bad.xlsx").contains(QStringLiteral("XML")));
  EXPECT_TRUE(Refusal(XlsxWithSheet("<row><c r=\"A1\" t=\"s\"><v>4</v></c></row>"), "sst.xlsx")
                  .contains(QStringLiteral("共享字符串")));
  EXPECT_TRUE(Refusal(QByteArray("PK\x03\x04 not really a zip", 24), "zip.xlsx").contains(QStringLiteral("压缩包")));
  QByteArray cfb = MakeXlsWorkbook({{"a"}});
  cfb.truncate(700);
  EXPECT_TRUE(Refusal(cfb, "cut.xls").contains(QStringLiteral("已损坏"))) << Refusal(cfb, "cut.xls").toStdString();
}

// OpenDocument names the active table in its view settings.
TEST_F(SheetReader, OpenDocumentShowsTheTableTheSettingsName) {
  const QByteArray content =
      "<?xml version=\"1.0\"?><office:document-content "
      "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body><office:spreadsheet>"
      "<table:table table:name=\"一\"><table:table-row><table:table-cell office:value-type=\"string\">"
      "<text:p>first</text:p></table:table-cell></table:table-row></table:table>"
      "<table:table table:name=\"二\"><table:table-row table:number-rows-repeated=\"2\">"
      "<table:table-cell table:number-columns-repeated=\"2\" office:value-type=\"float\" office:value=\"5\"/>"
      "</table:table-row><table:table-row table:number-rows-repeated=\"1048573\"><table:table-cell/>"
      "</table:table-row><table:table-row><table:table-cell office:value-type=\"string\"><text:p>a<text:s "
      "text:c=\"2\"/>b</text:p><text:p>c</text:p></table:table-cell></table:table-row></table:table>"
      "</office:spreadsheet></office:body></office:document-content>";
  const QByteArray settings =
      "<?xml version=\"1.0\"?><office:document-settings "
      "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:config=\"urn:oasis:names:tc:opendocument:xmlns:config:1.0\"><office:settings>"
      "<config:config-item-set config:name=\"ooo:view-settings\"><config:config-item-map-indexed "
      "config:name=\"Views\"><config:config-item-map-entry><config:config-item config:name=\"ActiveTable\" "
      "config:type=\"string\">二</config:config-item></config:config-item-map-entry>"
      "</config:config-item-map-indexed></config:config-item-set></office:settings></office:document-settings>";
  auto app = Open(MakeStoredZip({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                                 {"content.xml", content},
                                 {"settings.xml", settings}}),
                  "active.ods");
  EXPECT_EQ(app->CellValue(1, 1), QStringLiteral("5"));
  EXPECT_EQ(app->CellValue(2, 2), QStringLiteral("5"));
  EXPECT_EQ(app->CellValue(1048576, 1), QStringLiteral("a  b\nc"));
  EXPECT_EQ(app->UsedRangeRowsCount(), 1048576);
}

}  // namespace
