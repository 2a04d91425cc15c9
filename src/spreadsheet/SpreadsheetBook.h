#pragma once
// In-memory workbook of the embedded spreadsheet engine, and the files it is
// stored in and read from.
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

// A cell is eight bytes: its kind and an index into the texts or numbers of
// its sheet (a Boolean holds 0 or 1 itself). A workbook of a million rows
// fits in memory, and cells holding the same shared string share its text.
struct TSheetCell {
  enum class Kind : std::uint8_t { Empty, Text, Number, Boolean };
  Kind kind = Kind::Empty;
  std::uint32_t index = 0;
};

// Default column width of a new sheet, in characters.
constexpr double kStandardColumnWidth = 8.43;
// Sheet limits (rows and columns, 1-based maxima).
constexpr std::int32_t kMaxSheetRows = 1048576;
constexpr std::int32_t kMaxSheetColumns = 16384;

struct TSheet {
  QString name = QStringLiteral("Sheet1");
  // rows[r][c], both 0-based; rows and columns grow as cells are set.
  std::vector<std::vector<TSheetCell>> rows;
  double defaultWidth = kStandardColumnWidth;
  std::map<int, double> widths;  // 0-based column -> width, overriding the default
  std::int32_t align = 1;        // horizontal alignment code, 1 = general
  QString numberFormat = QStringLiteral("General");

  // The values the cells refer to.
  std::vector<QString> texts;
  std::vector<double> numbers;

  void SetText(int row, int col, const QString& text);
  void SetNumber(int row, int col, double value);
  void SetBoolean(int row, int col, bool value);
  void Clear(int row, int col);
  // Sets a cell to a text already in texts (a shared string read ahead).
  void SetTextIndex(int row, int col, std::uint32_t index);
  const TSheetCell* At(int row, int col) const;
  // A reader is done with the row: it keeps no spare room (a million rows
  // of eleven cells would otherwise hold room for sixteen).
  void FinishRow(int row) {
    if (row >= 0 && size_t(row) < rows.size()) rows[size_t(row)].shrink_to_fit();
  }
  const QString& Text(const TSheetCell& cell) const { return texts[cell.index]; }
  double Number(const TSheetCell& cell) const {
    return cell.kind == TSheetCell::Kind::Boolean ? double(cell.index) : numbers[cell.index];
  }
  // 0-based first and last row holding a non-empty cell; {-1, -1} if none.
  std::pair<int, int> UsedRows() const;
  double ColumnWidth(int col) const;
};

struct TWorkbook {
  QString fileName;  // empty until stored or when new
  // A workbook read from a file lists every sheet; only the active one holds
  // its cells.
  std::vector<TSheet> sheets;
  int activeSheet = 0;
};

// Stores the workbook as an Office Open XML file under fileName. The file is
// written to a temporary file in the same folder and renamed over the target,
// so a failure leaves an existing file as it was. Throws ESpreadsheetError.
void WriteWorkbookFile(const TWorkbook& book, const QString& fileName);

// Reads a workbook file, recognising its format from the content: Office
// Open XML, OpenDocument spreadsheet, XML spreadsheet 2003 or binary Excel
// 97-2003. The active sheet's cells are read as stored and shown as the
// spreadsheet shows them: dates and times as "yy-mm-dd hh:nn", "yy-mm-dd" or
// "hh:nn", formulas as their last result, errors as their text ("#N/A").
// Throws ESpreadsheetError, also for a file beyond the limits of a sheet or
// of memory.
std::unique_ptr<TWorkbook> ReadWorkbookFile(const QString& fileName);
