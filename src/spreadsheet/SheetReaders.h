#pragma once
// The readers of the workbook formats, each reading the active sheet of a
// file already in memory as stored: a cell at a far address costs as much as
// any other. Each throws ESpreadsheetError with a Chinese reason.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

#include "spreadsheet/SpreadsheetBook.h"

// Limits of what a file may ask of the reader.
// An archive member that inflates beyond this is refused (a zip bomb).
constexpr std::int64_t kMaxInflatedBytes = std::int64_t(1) << 30;
// More cells than this do not fit in the memory a workbook may take.
constexpr std::int64_t kMaxSheetCells = 40'000'000;

// Zip-based formats (libzip and QXmlStreamReader).
std::unique_ptr<TWorkbook> ReadXlsxBytes(const QByteArray& bytes);
std::unique_ptr<TWorkbook> ReadOdsBytes(const QByteArray& bytes);
// XML Spreadsheet 2003 (QXmlStreamReader).
std::unique_ptr<TWorkbook> ReadXmlSpreadsheetBytes(const QByteArray& bytes);
// Excel 97-2003 (BIFF8 in a compound file).
std::unique_ptr<TWorkbook> ReadXlsBytes(const QByteArray& bytes);

// Counts the cells a reader stores and refuses what a sheet cannot hold.
class TCellBudget {
 public:
  // Throws when row (0-based) is beyond the last row of a sheet or the
  // column beyond the last column, or when one cell more would pass the cell
  // limit.
  void Take(std::int64_t row, std::int64_t col);

 private:
  std::int64_t FCells = 0;
};
