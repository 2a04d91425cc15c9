#pragma once
// Archives as spreadsheet workbooks, written and read directly through the
// spreadsheet layer. No widget and no message here.
#include <QString>
#include <QStringList>

#include <functional>

class ITextRows;

namespace SheetFile {

// Stores the caption row and the rows as a workbook of one sheet: every
// cell text (number format "@"), trimmed, centred; columns 9.5 characters
// wide and column B (the time) 17.5. Excel 97-2003 for a name ending in .xls
// (any case), Office Open XML for any other. An existing file is replaced
// only when the new one is complete. Throws ESpreadsheetError with the
// reason.
void Write(const QString& fileName, const QStringList& captions, const ITextRows& rows);

// Reads the active sheet of a workbook (any of the formats the spreadsheet
// layer reads, told by content): the rows under the first, as many as the
// sheet's used range counts, each handed to onRow as 11 texts with its
// record number ("%2d"). Returns how many. Throws ESpreadsheetError with the
// reason (a file beyond a limit, a cell of column A that is no whole number);
// rows handed on before stay the caller's to drop.
int Read(const QString& fileName, const std::function<void(const QStringList& row)>& onRow);

}  // namespace SheetFile
