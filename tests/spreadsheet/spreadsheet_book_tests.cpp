// Workbooks in memory: cells, the used range as a spreadsheet counts it, and
// a sheet written and read back as typed.
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"
#include "support/SpreadsheetFixtures.h"

namespace {

TEST(SpreadsheetBook, AnEmptySheetsUsedRangeIsItsFirstRow) {
  TSheet sheet;
  EXPECT_EQ(sheet.UsedRowCount(), 1);  // an empty sheet's used range is its first cell
  EXPECT_EQ(sheet.CellText(0, 0), QString());
}

TEST(SpreadsheetBook, UsedRangeRunsFromFirstToLastUsedRow) {
  TSheet sheet;
  sheet.SetText(2, 1, QStringLiteral("a"));
  sheet.SetText(6, 4, QStringLiteral("b"));
  EXPECT_EQ(sheet.UsedRowCount(), 5);
  sheet.Clear(6, 4);
  EXPECT_EQ(sheet.UsedRowCount(), 1);
}

TEST(SpreadsheetBook, CellsBeyondTheSheetAreNotKept) {
  TSheet sheet;
  sheet.SetText(-1, 0, QStringLiteral("x"));
  sheet.SetText(0, kMaxSheetColumns, QStringLiteral("x"));
  sheet.SetNumber(kMaxSheetRows, 0, 1);
  EXPECT_EQ(sheet.UsedRows().first, -1);
  sheet.SetNumber(0, 2, 1.5);
  sheet.SetBoolean(0, 3, true);
  EXPECT_EQ(sheet.CellText(0, 2), QStringLiteral("1.5"));
  EXPECT_EQ(sheet.CellText(0, 3), QStringLiteral("TRUE"));
}

// Texts are stored and read back as typed, in both formats the program
// writes, whatever their look ("007" stays "007").
TEST(SpreadsheetBook, TextsReadBackAsTyped) {
  QTemporaryDir dir;
  for (const char* name : {"typed.xlsx", "typed.xls"}) {
    TWorkbook book;
    book.sheets.emplace_back();
    TSheet& s = book.sheets.back();
    s.numberFormat = QStringLiteral("@");
    s.SetText(0, 0, QStringLiteral("007"));
    s.SetText(0, 1, QStringLiteral("1.50"));
    s.SetText(1, 0, QStringLiteral("08-03-05 09:07"));
    const QString path = dir.filePath(QLatin1String(name));
    WriteWorkbookFile(book, path);
    TReadBack back(path);
    EXPECT_EQ(back.CellValue(1, 1), QStringLiteral("007")) << name;
    EXPECT_EQ(back.CellValue(1, 2), QStringLiteral("1.50")) << name;
    EXPECT_EQ(back.CellValue(2, 1), QStringLiteral("08-03-05 09:07")) << name;
  }
}

TEST(SpreadsheetBook, AMissingFileOrFolderIsRefused) {
  EXPECT_THROW(ReadWorkbookFile(QStringLiteral("/nonexistent/none.xls")), ESpreadsheetError);
  TWorkbook book;
  book.sheets.emplace_back();
  EXPECT_THROW(WriteWorkbookFile(book, QStringLiteral("/nonexistent/x.xls")), ESpreadsheetError);
}

struct TNumberText {
  double value;
  const char* text;
};

class GeneralNumber : public ::testing::TestWithParam<TNumberText> {};

TEST_P(GeneralNumber, ReadsAsASpreadsheetShowsIt) {
  EXPECT_EQ(GeneralNumberText(GetParam().value), QString::fromUtf8(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Values, GeneralNumber,
                         ::testing::Values(TNumberText{7, "7"}, TNumberText{1.5, "1.5"}, TNumberText{0, "0"},
                                           TNumberText{-2.25, "-2.25"}, TNumberText{0.1 + 0.2, "0.3"},
                                           TNumberText{123456789012.0, "123456789012"},
                                           TNumberText{0.000123, "0.000123"}, TNumberText{1e20, "1E+20"},
                                           TNumberText{-0.0, "0"}));

}  // namespace
