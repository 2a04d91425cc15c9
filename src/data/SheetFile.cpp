#include "data/SheetFile.h"

#include <algorithm>

#include "data/Conversions.h"
#include "data/RecordTable.h"
#include "platform/Numbers.h"
#include "platform/TextTable.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"
#include "spreadsheet/XlsxWrite.h"

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

}  // namespace

void Write(const QString& fileName, const QStringList& captions, const ITextRows& rows) {
  TSheet layout;
  layout.defaultWidth = 9.5;
  layout.align = kAlignCenter;
  layout.widths[Record::kTime] = 17.5;
  layout.numberFormat = QStringLiteral("@");
  // The record's columns, then any further ones the captions name; each
  // text trimmed, read from the table as the sheet is written.
  TStreamedRows stream;
  stream.count = rows.RowCount() + 1;
  stream.columns = std::max<int>(Record::kColumns, int(captions.size()));
  stream.cell = [&](int r, int c, QString& scratch) -> QStringView {
    if (r == 0) {
      scratch = captions.value(c);
      return TrimmedView(scratch);
    }
    return TrimmedView(rows.CellView(r - 1, c, scratch));
  };
  WriteTextSheetFile(layout, stream, fileName);
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
