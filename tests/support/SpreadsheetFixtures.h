#pragma once
// Small workbook files for tests, made here byte by byte: a binary Excel
// 97-2003 workbook (compound file with a BIFF8 stream), an OpenDocument
// spreadsheet (zip) and an XML spreadsheet 2003. One sheet each; a row may
// be left empty and a cell may be empty.
#include <QByteArray>
#include <QString>

#include <memory>
#include <variant>
#include <vector>

struct TWorkbook;
struct TSheet;

struct TFixtureCell {
  std::variant<std::monostate, QString, double> value;
  TFixtureCell() = default;
  TFixtureCell(const char* text) : value(QString::fromUtf8(text)) {}  // NOLINT: implicit on purpose
  TFixtureCell(const QString& text) : value(text) {}                  // NOLINT
  TFixtureCell(double number) : value(number) {}                      // NOLINT
  TFixtureCell(int number) : value(static_cast<double>(number)) {}    // NOLINT
  bool IsEmpty() const { return std::holds_alternative<std::monostate>(value); }
};

using TFixtureRow = std::vector<TFixtureCell>;
using TFixtureRows = std::vector<TFixtureRow>;  // rows from sheet row 1

QByteArray MakeXlsWorkbook(const TFixtureRows& rows, const QString& sheetName = QStringLiteral("Sheet1"));
QByteArray MakeOdsWorkbook(const TFixtureRows& rows, const QString& sheetName = QStringLiteral("Sheet1"));
QByteArray MakeXmlSpreadsheet(const TFixtureRows& rows, const QString& sheetName = QStringLiteral("Sheet1"));

// A zip archive whose entries are stored uncompressed, in the given order.
QByteArray MakeStoredZip(const std::vector<std::pair<QString, QByteArray>>& entries);

// Writes bytes to a file; fails the current test when it cannot.
void WriteFixtureFile(const QString& path, const QByteArray& bytes);

// A workbook file read back as a spreadsheet program shows its active
// sheet, 1-based as the program's users count: what a test checks of a file.
// Throws ESpreadsheetError when the file cannot be read.
class TReadBack {
 public:
  explicit TReadBack(const QString& fileName);
  ~TReadBack();
  // The cell's text: a number as a general number, a Boolean as TRUE/FALSE.
  QString CellValue(int row, int col) const;
  // Rows from the first used one to the last; 1 for an empty sheet.
  int UsedRangeRowsCount() const;
  const TSheet& Sheet() const;

 private:
  std::unique_ptr<TWorkbook> FBook;
};
