// The calls of the embedded spreadsheet engine and their effects.
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "spreadsheet/Spreadsheet.h"

namespace {

std::unique_ptr<ISpreadsheetApp> NewBook() {
  auto app = NewEmbeddedSpreadsheet();
  app->SetDisplayAlerts(false);
  app->SetVisible(false);
  app->WorkbooksAdd(1);
  return app;
}

TEST(SpreadsheetEngine, NewWorkbookIsActiveWithAnEmptySheet) {
  auto app = NewEmbeddedSpreadsheet();
  EXPECT_EQ(app->WorkbooksCount(), 0);
  app->SetDisplayAlerts(false);
  app->SetVisible(false);
  EXPECT_FALSE(app->DisplayAlerts());
  EXPECT_FALSE(app->Visible());
  app->WorkbooksAdd(1);
  EXPECT_EQ(app->WorkbooksCount(), 1);
  EXPECT_EQ(app->UsedRangeRowsCount(), 1);  // an empty sheet's used range is its first cell
  EXPECT_EQ(app->CellValue(1, 1), QString());
}

TEST(SpreadsheetEngine, TextFormatKeepsValuesAsTyped) {
  auto app = NewBook();
  app->CellsSetNumberFormat(QStringLiteral("@"));
  app->SetCellValue(1, 1, QStringLiteral("007"));
  app->SetCellValue(1, 2, QStringLiteral("1.50"));
  app->SetCellValue(2, 1, QStringLiteral("08-03-05 09:07"));
  EXPECT_EQ(app->CellValue(1, 1), QStringLiteral("007"));
  EXPECT_EQ(app->CellValue(1, 2), QStringLiteral("1.50"));
  EXPECT_EQ(app->CellValue(2, 1), QStringLiteral("08-03-05 09:07"));
}

TEST(SpreadsheetEngine, GeneralFormatTurnsNumbersIntoNumbers) {
  auto app = NewBook();
  app->SetCellValue(1, 1, QStringLiteral("007"));
  app->SetCellValue(1, 2, QStringLiteral("1.50"));
  app->SetCellValue(1, 3, QStringLiteral("12 Ω"));
  EXPECT_EQ(app->CellValue(1, 1), QStringLiteral("7"));
  EXPECT_EQ(app->CellValue(1, 2), QStringLiteral("1.5"));
  EXPECT_EQ(app->CellValue(1, 3), QStringLiteral("12 Ω"));
}

TEST(SpreadsheetEngine, UsedRangeRunsFromFirstToLastUsedRow) {
  auto app = NewBook();
  app->SetCellValue(3, 2, QStringLiteral("a"));
  app->SetCellValue(7, 5, QStringLiteral("b"));
  EXPECT_EQ(app->UsedRangeRowsCount(), 5);
  app->SetCellValue(7, 5, QString());  // an empty text empties the cell
  EXPECT_EQ(app->UsedRangeRowsCount(), 1);
}

TEST(SpreadsheetEngine, ClosingWorkbooksFromTheLastDown) {
  auto app = NewBook();
  app->WorkbooksAdd(1);
  app->SetCellValue(1, 1, QStringLiteral("second"));
  EXPECT_EQ(app->WorkbooksCount(), 2);
  app->WorkbooksItemClose(2, false);
  EXPECT_EQ(app->WorkbooksCount(), 1);
  EXPECT_EQ(app->CellValue(1, 1), QString());  // the first workbook is active again
  app->WorkbooksItemClose(1, false);
  EXPECT_EQ(app->WorkbooksCount(), 0);
  app->Quit();
}

TEST(SpreadsheetEngine, SaveWritesUnderTheNameOfSaveAs) {
  QTemporaryDir dir;
  auto app = NewBook();
  EXPECT_THROW(app->ActiveWorkbookSave(), ESpreadsheetError);  // no name yet
  const QString name = dir.filePath(QStringLiteral("book.xlsx"));
  app->ActiveWorkbookSaveAs(name);
  const qint64 emptySize = QFileInfo(name).size();
  for (int r = 1; r <= 50; ++r) app->SetCellValue(r, 1, QStringLiteral("row %1").arg(r));
  app->ActiveWorkbookSave();
  EXPECT_GT(QFileInfo(name).size(), emptySize);

  auto reader = NewEmbeddedSpreadsheet();
  reader->WorkbooksOpen(name);
  EXPECT_EQ(reader->UsedRangeRowsCount(), 50);
  EXPECT_EQ(reader->CellValue(50, 1), QStringLiteral("row 50"));
}

// Each of these calls refuses, as the application object would.
struct TBadCall {
  const char* name;
  std::function<void(ISpreadsheetApp&)> call;
};

class SpreadsheetEngineRefuses : public ::testing::TestWithParam<TBadCall> {};

TEST_P(SpreadsheetEngineRefuses, WithAnError) {
  auto app = NewBook();
  EXPECT_THROW(GetParam().call(*app), ESpreadsheetError);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SpreadsheetEngineRefuses,
    ::testing::Values(
        TBadCall{"CellRowZero", [](ISpreadsheetApp& a) { a.SetCellValue(0, 1, QStringLiteral("x")); }},
        TBadCall{"CellColumnPastTheSheet", [](ISpreadsheetApp& a) { a.CellValue(1, 16385); }},
        TBadCall{"CloseIndexZero", [](ISpreadsheetApp& a) { a.WorkbooksItemClose(0, false); }},
        TBadCall{"ClosePastTheCount", [](ISpreadsheetApp& a) { a.WorkbooksItemClose(2, false); }},
        TBadCall{"AlignmentUnknown", [](ISpreadsheetApp& a) { a.CellsSetHorizontalAlignment(42); }},
        TBadCall{"NegativeWidth", [](ISpreadsheetApp& a) { a.CellsSetColumnWidth(-1); }},
        TBadCall{"ColumnZero", [](ISpreadsheetApp& a) { a.ColumnsSetColumnWidth(0, 10); }},
        TBadCall{"OpenMissingFile",
                 [](ISpreadsheetApp& a) { a.WorkbooksOpen(QStringLiteral("/nonexistent/none.xls")); }},
        TBadCall{"SaveIntoMissingFolder",
                 [](ISpreadsheetApp& a) { a.ActiveWorkbookSaveAs(QStringLiteral("/nonexistent/x.xls")); }},
        TBadCall{"SheetAfterLastWorkbookClosed",
                 [](ISpreadsheetApp& a) {
                   a.WorkbooksItemClose(1, false);
                   a.SetCellValue(1, 1, QStringLiteral("x"));
                 }},
        TBadCall{"AnyCallAfterQuit",
                 [](ISpreadsheetApp& a) {
                   a.Quit();
                   a.WorkbooksCount();
                 }}),
    [](const ::testing::TestParamInfo<TBadCall>& i) { return std::string(i.param.name); });

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

TEST(SpreadsheetFactory, TestsCanReplaceTheEngine) {
  int started = 0;
  SetSpreadsheetFactory([&started]() -> std::unique_ptr<ISpreadsheetApp> {
    ++started;
    return nullptr;
  });
  EXPECT_EQ(CreateSpreadsheetApp(), nullptr);
  EXPECT_EQ(started, 1);
  SetSpreadsheetFactory({});
  EXPECT_NE(CreateSpreadsheetApp(), nullptr);
  EXPECT_EQ(started, 1);
}

}  // namespace
