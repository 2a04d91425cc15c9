#pragma once
// Office Open XML workbooks (.xlsx), written by the program on libzip after
// ECMA-376 part 1 (SpreadsheetML: workbook, worksheets with column widths and
// shared strings, one cell format per sheet from its number format and
// alignment) and part 2 (the package: content types and relationships).
//
// Not libxlsxwriter: it deflates every part at zlib's default level, with no
// way to choose another, and keeps shared strings in a search tree; saving
// 100,000 records took 1.8 s. Here the parts are built in memory and
// deflated at level 1.
#include <QByteArray>
#include <QString>
#include <QStringView>

#include <functional>

struct TSheet;
struct TWorkbook;

// The whole file. Throws ESpreadsheetError for a text longer than a cell
// holds (32,767 characters).
QByteArray XlsxFileBytes(const TWorkbook& book);

// Rows of texts handed to a streamed sheet: count rows (the first the
// captions) of columns cells; cell gives a view valid until its next call.
struct TStreamedRows {
  int count = 0;
  int columns = 0;
  std::function<QStringView(int row, int col, QString& scratch)> cell;
};

// One sheet of texts written into fileName as it is made: the sheet XML is
// deflated into the archive a few hundred rows at a time, never whole in
// memory (texts inline, no shared-string table). layout gives the sheet's
// name, column widths, number format and alignment. Throws
// ESpreadsheetError, the file then being left to the caller to remove.
void WriteXlsxStreamed(const QString& fileName, const TSheet& layout, const TStreamedRows& rows);
