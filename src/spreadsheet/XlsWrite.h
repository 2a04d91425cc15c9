#pragma once
// Excel 97-2003 workbooks (BIFF8 in a compound file), written by the program
// itself: no Debian library writes this format.
//
// Format references: Microsoft's "[MS-CFB] Compound File Binary File Format"
// (version 3 files, 512-byte sectors) and "[MS-XLS] Excel Binary File Format
// (.xls) Structure" (BOF, CODEPAGE, WINDOW1, FONT, XF, STYLE, BOUNDSHEET8,
// SST with CONTINUE, DIMENSIONS, WINDOW2, COLINFO, LABELSST, NUMBER, BOOLERR,
// EOF). Cells are stored with one cell format made from the sheet's number
// format and alignment; column widths as the sheet has them.
#include <QByteArray>

struct TWorkbook;

// The whole file. Throws ESpreadsheetError when a sheet has more rows or
// columns than the format holds (65,536 rows, 256 columns).
QByteArray XlsFileBytes(const TWorkbook& book);
