#pragma once
// The embedded spreadsheet engine behind the spreadsheet exchange.
//
// The program drives a spreadsheet application object through a small set of
// calls (workbooks, the active workbook and sheet, cells, columns, the used
// range). ISpreadsheetApp offers exactly those calls; TEmbeddedSpreadsheet
// carries them out in memory, writes Office Open XML workbooks and reads
// Office Open XML, OpenDocument, XML spreadsheet 2003 and binary Excel 97-2003
// workbooks, telling them apart by their content.
//
// Every call reports a failure by throwing ESpreadsheetError. The application
// object comes from CreateSpreadsheetApp(), whose factory a test can replace
// to make the start or any later call fail.
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

class ESpreadsheetError : public std::runtime_error {
 public:
  explicit ESpreadsheetError(const QString& text) : std::runtime_error(text.toStdString()) {}
  QString Text() const { return QString::fromUtf8(what()); }
};

// Horizontal alignment codes of ActiveSheet.Cells.HorizontalAlignment.
enum : std::int32_t {
  kAlignGeneral = 1,
  kAlignLeft = 2,
  kAlignCenter = 3,
  kAlignRight = 4,
  kAlignFill = 5,
  kAlignJustify = 6,
  kAlignCenterAcross = 7,
};

class ISpreadsheetApp {
 public:
  virtual ~ISpreadsheetApp() = default;

  // DisplayAlerts / Visible. The engine never prompts and has no window; the
  // flags are kept and can be read back.
  virtual void SetDisplayAlerts(bool on) = 0;
  virtual bool DisplayAlerts() const = 0;
  virtual void SetVisible(bool on) = 0;
  virtual bool Visible() const = 0;

  // Workbooks.Add(template): a new workbook with one empty sheet becomes the
  // active workbook.
  virtual void WorkbooksAdd(std::int32_t templateKind) = 0;
  // Workbooks.Open(name): reads the file; its workbook becomes active.
  virtual void WorkbooksOpen(const QString& fileName) = 0;
  // Workbooks.Count
  virtual std::int32_t WorkbooksCount() const = 0;
  // Workbooks.Item(index).Close(saveChanges), index 1-based.
  virtual void WorkbooksItemClose(std::int32_t index, bool saveChanges) = 0;

  // ActiveWorkbook.SaveAs(name): stores the active workbook under that full
  // name, replacing an existing file without asking. The file is replaced
  // atomically: a failed store leaves the old file as it was.
  virtual void ActiveWorkbookSaveAs(const QString& fileName) = 0;
  // ActiveWorkbook.Save: stores it again under its name.
  virtual void ActiveWorkbookSave() = 0;

  // ActiveSheet.Cells.ColumnWidth := width (every column).
  virtual void CellsSetColumnWidth(double width) = 0;
  // ActiveSheet.Cells.HorizontalAlignment := code (every cell).
  virtual void CellsSetHorizontalAlignment(std::int32_t code) = 0;
  // ActiveSheet.Cells.NumberFormat := format (every cell); "@" keeps every
  // value entered afterwards as text.
  virtual void CellsSetNumberFormat(const QString& format) = 0;
  // ActiveSheet.Columns(column).ColumnWidth := width, column 1-based.
  virtual void ColumnsSetColumnWidth(std::int32_t column, double width) = 0;

  // ActiveSheet.Cells(row, column).Value := text, 1-based. An empty text
  // empties the cell.
  virtual void SetCellValue(std::int32_t row, std::int32_t column, const QString& text) = 0;
  // ActiveSheet.Cells(row, column).Value as text: an empty cell gives an
  // empty text, a number the text of a general number (7 -> "7", 1.5 -> "1.5").
  virtual QString CellValue(std::int32_t row, std::int32_t column) const = 0;
  // ActiveSheet.UsedRange.Rows.Count: first to last used row; 1 for an empty
  // sheet.
  virtual std::int32_t UsedRangeRowsCount() const = 0;

  // quit: closes every workbook without saving; later calls fail.
  virtual void Quit() = 0;
};

using TSpreadsheetFactory = std::function<std::unique_ptr<ISpreadsheetApp>()>;

// Starts an application object through the factory in force. Throws
// ESpreadsheetError (or returns nothing) when it cannot be started.
std::unique_ptr<ISpreadsheetApp> CreateSpreadsheetApp();
// Replaces the factory; an empty function restores the embedded engine.
void SetSpreadsheetFactory(TSpreadsheetFactory factory);

// The embedded engine itself, for callers that want it directly.
std::unique_ptr<ISpreadsheetApp> NewEmbeddedSpreadsheet();

// The text a spreadsheet shows for a number in the general format.
QString GeneralNumberText(double value);
