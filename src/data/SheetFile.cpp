#include "data/SheetFile.h"

#include <algorithm>

#include "data/Conversions.h"
#include "data/RecordTable.h"
#include "platform/Numbers.h"
#include "platform/TextTable.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"

namespace SheetFile {

namespace {

// The text of column A as a record number, "%2d".
QString RecordNumberText(const QString& cell, int sheetRow) {
  int v = 0;
  if (!TryStrToInt(TrimText(cell), v)) {
    throw ESpreadsheetError(QStringLiteral("第%1行A列不是整数：'%2'").arg(sheetRow).arg(cell));
  }
  QString text = QString::asprintf("%2d", v);
  // The cell's own text when it is the same: a million records share it
  // with the workbook instead of holding a copy.
  return text == cell ? cell : text;
}

void Put(TSheet& sheet, int row, int col, const QString& text) {
  if (text.isEmpty()) {
    sheet.Clear(row, col);
  } else {
    sheet.SetText(row, col, text);
  }
}

}  // namespace

void Write(const QString& fileName, const QStringList& captions, const ITextRows& rows) {
  TWorkbook book;
  book.sheets.emplace_back();
  TSheet& sheet = book.sheets.back();
  sheet.defaultWidth = 9.5;
  sheet.align = kAlignCenter;
  sheet.widths[Record::kTime] = 17.5;
  sheet.numberFormat = QStringLiteral("@");
  // The record's columns, then any further ones the captions name.
  const int columns = std::max<int>(Record::kColumns, int(captions.size()));
  for (int c = 0; c < columns; ++c) Put(sheet, 0, c, TrimText(captions.value(c)));
  for (int r = 0; r < rows.RowCount(); ++r) {
    for (int c = 0; c < columns; ++c) Put(sheet, r + 1, c, TrimText(rows.Cell(r, c)));
  }
  WriteWorkbookFile(book, fileName);
}

int Read(const QString& fileName, const std::function<void(const QStringList& row)>& onRow) {
  const std::unique_ptr<TWorkbook> book = ReadWorkbookFile(fileName);
  const TSheet& sheet = book->sheets.at(size_t(book->activeSheet));
  // The rows of the used range less its first, counted from the sheet's
  // second row (as the used range of a spreadsheet program is counted).
  const int n = std::max(sheet.UsedRowCount() - 1, 0);
  QStringList row;
  for (int r = 1; r <= n; ++r) {
    row.clear();
    for (int c = 0; c < Record::kColumns; ++c) {
      const QString cell = sheet.CellText(r, c);
      row << (c == Record::kNumber ? RecordNumberText(cell, r + 1) : cell);
    }
    onRow(row);
  }
  return n;
}

}  // namespace SheetFile
