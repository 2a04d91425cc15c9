#pragma once
// In-memory workbook of the embedded spreadsheet engine, and the files it is
// stored in and read from.
#include <QString>

#include <climits>

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

// A cell's value: its kind and an index into the texts or numbers of its
// sheet (a Boolean holds 0 or 1 itself). Cells holding the same shared string
// share its text.
struct TSheetCell {
  enum class Kind : std::uint8_t { Empty, Text, Number, Boolean };
  Kind kind = Kind::Empty;
  std::uint32_t index = 0;
};

// A stored cell is eight bytes: its value and its column. A row keeps only
// the cells it has, in column order, so a cell at a far column costs what
// any other cell costs.
struct TRowCell {
  std::uint32_t index = 0;
  std::uint16_t col = 0;
  TSheetCell::Kind kind = TSheetCell::Kind::Empty;
};
using TSheetRow = std::vector<TRowCell>;

// Default column width of a new sheet, in characters.
constexpr double kStandardColumnWidth = 8.43;
// Sheet limits (rows and columns, 1-based maxima).
constexpr std::int32_t kMaxSheetRows = 1048576;
constexpr std::int32_t kMaxSheetColumns = 16384;

// The memory a sheet takes, counted as it grows: rows, cells, texts and
// numbers together. A reader sets a limit; a stranger's file then cannot ask
// for more, whatever its counts and addresses say.
class TSheetBudget {
 public:
  // Bytes counted for each kind of item: its storage and the room a growing
  // array keeps spare.
  static constexpr std::int64_t kRowBytes = 2 * std::int64_t(sizeof(TSheetRow));
  static constexpr std::int64_t kCellBytes = 2 * std::int64_t(sizeof(TRowCell));
  static constexpr std::int64_t kNumberBytes = 2 * std::int64_t(sizeof(double));
  // A text: its characters, its string and its place in the list.
  static std::int64_t TextBytes(qsizetype chars) { return 2 * std::int64_t(chars) + 64; }

  // No limit until one is set.
  void SetLimit(std::int64_t bytes) { FLimit = bytes; }
  std::int64_t Limit() const { return FLimit; }
  std::int64_t Used() const { return FUsed; }
  // Whether bytes more still fit.
  bool Fits(std::int64_t bytes) const { return bytes >= 0 && bytes <= FLimit - FUsed; }
  // Counts bytes more; throws ESpreadsheetError naming the limit when they
  // do not fit.
  void Charge(std::int64_t bytes);
  // Throws as Charge would, without counting.
  void Check(std::int64_t bytes) const;

 private:
  std::int64_t FLimit = INT64_MAX;
  std::int64_t FUsed = 0;
};

struct TSheet {
  QString name = QStringLiteral("Sheet1");
  // rows[r], 0-based, each with its cells in column order.
  std::vector<TSheetRow> rows;
  double defaultWidth = kStandardColumnWidth;
  std::map<int, double> widths;  // 0-based column -> width, overriding the default
  std::int32_t align = 1;        // horizontal alignment code, 1 = general
  QString numberFormat = QStringLiteral("General");

  // The values the cells refer to.
  std::vector<QString> texts;
  std::vector<double> numbers;
  // What rows, cells, texts and numbers take; a reader limits it.
  TSheetBudget budget;

  // Cells beyond the sheet's limits (or at a negative place) are not kept.
  void SetText(int row, int col, const QString& text);
  void SetNumber(int row, int col, double value);
  void SetBoolean(int row, int col, bool value);
  void Clear(int row, int col);
  // Sets a cell to a text already in texts (a shared string read ahead).
  void SetTextIndex(int row, int col, std::uint32_t index);
  // Appends a text to texts and returns its index.
  std::uint32_t AddText(const QString& text);
  // Appends a number to numbers and returns its index; a cell refers to it
  // with SetNumberIndex (a value repeated over many cells is kept once).
  std::uint32_t AddNumber(double value);
  void SetNumberIndex(int row, int col, std::uint32_t index);
  // Room for rows up to row (0-based) before they are filled, counted in
  // the budget like the rows themselves.
  void ReserveRows(std::int64_t row);
  // The cell's value; Empty when it has none.
  TSheetCell At(int row, int col) const;
  // A reader is done with the row: it keeps no spare room (a million rows
  // of eleven cells would otherwise hold room for sixteen).
  void FinishRow(std::int64_t row) {
    if (row >= 0 && std::uint64_t(row) < rows.size()) rows[size_t(row)].shrink_to_fit();
  }
  const QString& Text(const TSheetCell& cell) const { return texts[cell.index]; }
  double Number(const TSheetCell& cell) const {
    return cell.kind == TSheetCell::Kind::Boolean ? double(cell.index) : numbers[cell.index];
  }
  // The cell as a spreadsheet gives its value: the text, a number as a
  // general number ("7", "1.5"), a Boolean as "TRUE" or "FALSE"; empty for
  // an empty cell.
  QString CellText(int row, int col) const;
  // 0-based first and last row holding a non-empty cell; {-1, -1} if none.
  std::pair<int, int> UsedRows() const;
  // Rows from the first used one to the last, as a spreadsheet counts its
  // used range; 1 for an empty sheet.
  int UsedRowCount() const;
  // 0-based last column holding a non-empty cell; -1 if none.
  int LastUsedColumn() const;
  double ColumnWidth(int col) const;

 private:
  // The cell at (row, col), made when missing; null outside the sheet.
  TRowCell* Slot(int row, int col);
  // Rows counted in the budget so far.
  size_t FRowsCounted = 0;
};

struct TWorkbook {
  QString fileName;  // empty until stored or when new
  // A workbook read from a file lists every sheet; only the active one holds
  // its cells.
  std::vector<TSheet> sheets;
  int activeSheet = 0;
};

// How a reader gives a number shown by a format of its own ("0.0 \"μΩ\"",
// "0%", "0.00"): as the number (what the archive reads), or as the text the
// sheet shows ("52.4 μΩ", "13%"; what the history reads, where the unit is
// part of the value).
struct TReadOptions {
  bool shownNumbers = false;
};

// Stores the workbook as an Office Open XML file under fileName. The file is
// written to a temporary file in the same folder and renamed over the target,
// so a failure leaves an existing file as it was. Throws ESpreadsheetError.
void WriteWorkbookFile(const TWorkbook& book, const QString& fileName);
// One sheet of texts (rows.count rows, the first the captions) with the
// layout's name, widths and formats, written the same way; an Office Open
// XML file is written as its rows are made, never whole in memory.
struct TStreamedRows;
void WriteTextSheetFile(const TSheet& layout, const TStreamedRows& rows, const QString& fileName);

// Reads a workbook file, recognising its format from the content: Office
// Open XML, OpenDocument spreadsheet, XML spreadsheet 2003 or binary Excel
// 97-2003. The active sheet's cells are read as stored and shown as the
// spreadsheet shows them: dates and times as "yy-mm-dd hh:nn", "yy-mm-dd" or
// "hh:nn", formulas as their last result, errors as their text ("#N/A").
// Throws ESpreadsheetError, also for a file beyond the limits of a sheet or
// of memory.
std::unique_ptr<TWorkbook> ReadWorkbookFile(const QString& fileName, const TReadOptions& options = {});
