#pragma once
// What the workbook fuzz targets share: read the bytes as the archive reads
// them and as the history does (numbers as their formats show them), look
// at every cell the reader kept, and accept a refusal with its reason.
#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "spreadsheet/SheetReaders.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"

template <class TRead>
void FuzzWorkbookAs(const QByteArray& bytes, TRead read, const TReadOptions& options) {
  try {
    const std::unique_ptr<TWorkbook> book = read(bytes, options);
    if (!book || book->sheets.empty()) return;
    const TSheet& sheet = book->sheets.at(size_t(book->activeSheet));
    // Every kept cell is readable, and the used rows are among the kept ones.
    const auto used = sheet.UsedRows();
    if (used.second >= 0 && size_t(used.second) >= sheet.rows.size()) __builtin_trap();
    for (size_t r = 0; r < sheet.rows.size(); ++r) {
      for (const TRowCell& c : sheet.rows[r]) {
        const TSheetCell cell = sheet.At(int(r), c.col);
        if (cell.kind != c.kind) __builtin_trap();
        if (cell.kind == TSheetCell::Kind::Text) (void)sheet.Text(cell).size();
        if (cell.kind == TSheetCell::Kind::Number) (void)GeneralNumberText(sheet.Number(cell));
      }
    }
  } catch (const ESpreadsheetError& e) {
    // A refusal says why.
    if (e.Text().isEmpty()) __builtin_trap();
  }
}

template <class TRead>
int FuzzWorkbook(const std::uint8_t* data, std::size_t size, TRead read) {
  const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
  FuzzWorkbookAs(bytes, read, TReadOptions{});
  FuzzWorkbookAs(bytes, read, TReadOptions{true});
  return 0;
}
