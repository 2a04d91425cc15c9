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
// The memory a sheet read from a file may take (TSheetBudget).
constexpr std::int64_t kMaxSheetBytes = std::int64_t(1) << 30;

// Zip-based formats (libzip, expat).
std::unique_ptr<TWorkbook> ReadXlsxBytes(const QByteArray& bytes, const TReadOptions& options = {});
std::unique_ptr<TWorkbook> ReadOdsBytes(const QByteArray& bytes, const TReadOptions& options = {});
// XML Spreadsheet 2003 (expat).
std::unique_ptr<TWorkbook> ReadXmlSpreadsheetBytes(const QByteArray& bytes, const TReadOptions& options = {});
// Excel 97-2003 (BIFF8 in a compound file).
std::unique_ptr<TWorkbook> ReadXlsBytes(const QByteArray& bytes, const TReadOptions& options = {});
// The format told from the content, as ReadWorkbookFile does.
std::unique_ptr<TWorkbook> ReadWorkbookBytes(const QByteArray& bytes, const TReadOptions& options = {});

// Throws when row (0-based) is beyond the last row of a sheet or the column
// beyond the last column.
void CheckCellPlace(std::int64_t row, std::int64_t col);

struct TCellFormat;
// Stores a number read from a cell of the given format: a date or time as
// its text, a number as itself, or (options.shownNumbers) as the text its
// format shows.
void PutNumber(TSheet& sheet, int row, int col, double value, const TCellFormat& format, bool date1904,
               const TReadOptions& options);
