#pragma once
// In-memory workbook of the embedded spreadsheet engine, and the files it is
// stored in and read from.
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

struct TSheetCell {
  enum class Kind : std::uint8_t { Empty, Text, Number, Boolean };
  Kind kind = Kind::Empty;
  double number = 0;  // Number; Boolean as 0 or 1
  QString text;       // Text
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

  void Set(int row, int col, TSheetCell cell);
  const TSheetCell* At(int row, int col) const;
  // 0-based first and last row holding a non-empty cell; {-1, -1} if none.
  std::pair<int, int> UsedRows() const;
  double ColumnWidth(int col) const;
};

struct TWorkbook {
  QString fileName;  // empty until stored or when new
  std::vector<TSheet> sheets;
  int activeSheet = 0;
};

// Stores the workbook as an Office Open XML file under fileName. The file is
// written to a temporary file in the same folder and renamed over the target,
// so a failure leaves an existing file as it was. Throws ESpreadsheetError.
void WriteWorkbookFile(const TWorkbook& book, const QString& fileName);

// Reads a workbook file, recognising its format from the content: Office
// Open XML, OpenDocument spreadsheet, XML spreadsheet 2003 or binary Excel
// 97-2003. Throws ESpreadsheetError.
std::unique_ptr<TWorkbook> ReadWorkbookFile(const QString& fileName);
