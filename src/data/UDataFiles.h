#pragma once
// Saving the record tables to data files and opening a data file into the
// archive table: the save and open buttons of the main window and everything
// behind them.
//
// Two kinds of file are chosen by the name's last four characters: ".txt"
// (exactly, case-sensitive) is a test-data text file in GBK with CR LF line
// ends; any other name is a spreadsheet file, handled by the embedded
// spreadsheet engine with a progress window (ProgressService.h).
//
// The main window passes its tables in. Which row counter belongs to a table
// is given by TTableKind: giDataCount for the instrument table SGData,
// giSaveCount for the archive table SGSave. Opening always loads the archive
// table.
//
// Errors that no operation here reports itself (a text file that cannot be
// written or read) are thrown as EAppError; the main window's handlers run
// these functions inside Guarded(...), so they end in the general error box.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class ISpreadsheetApp;
class QWidget;
class TStringGrid;

namespace DataFiles {

enum class TTableKind {
  Data,  // SGData, counted by giDataCount
  Save,  // SGSave, counted by giSaveCount
};

// ---- Button handlers ---------------------------------------------------------
// "保存至Excel" on the instrument tab: refuses an empty table with
// "没有数据保存！", else SaveFile(SGData).
void BtnSaveClick(QWidget* owner, TStringGrid* SGData);
// "保存至Excel" on the archive tab: the same on giSaveCount and SGSave.
void btnSaveExcelClick(QWidget* owner, TStringGrid* SGSave);
// "打开Excel" on the archive tab: the open dialog, then ReadTextFile or
// OpenFromExcel into SGSave.
void BtnOpenClick(QWidget* owner, TStringGrid* SGSave);

// ---- Operations --------------------------------------------------------------
// The folder "测试记录" in the program's folder, created when missing (a
// failure to create it is ignored).
QString DataFolder();
// The save dialog, then WriteTextFile or SaveToExcel.
void SaveFile(QWidget* owner, TStringGrid* grid, TTableKind kind);
// True when the name's last four characters are exactly ".txt".
bool IsTextFileName(const QString& fileName);
// True when the name ends with ".csv" (any case).
bool IsCsvFileName(const QString& fileName);
// What the open button does with a chosen name: a text file, a CSV file or a
// spreadsheet into the archive table.
void OpenFile(QWidget* owner, const QString& fileName, TStringGrid* SGSave);
// What the save buttons do with a chosen name: text file, CSV file or
// spreadsheet, by the name.
void SaveFileAs(QWidget* owner, const QString& fileName, TStringGrid* grid, TTableKind kind);

// CSV file: the caption row, then rows 1..count; all 11 columns; UTF-8 with
// a byte-order mark and CR LF line ends, so a spreadsheet program in a
// Chinese locale opens it right; fields quoted where RFC 4180 needs it.
QByteArray CsvFileBytes(TStringGrid* grid, int count);
// Writes it as WriteTextFile does and opens the file's folder.
void WriteCsvFile(const QString& fileName, TStringGrid* grid, TTableKind kind);
// Loads a CSV file (UTF-8 with or without byte-order mark, or GBK; comma or
// semicolon) into the archive table; the caption row maps the columns. A
// record number that is not an integer is reported and leaves the archive as
// it was.
void ReadCsvFile(QWidget* owner, const QString& fileName, TStringGrid* SGSave);

// Writes rows 1..count of the table as a text file (replacing an existing
// file only once the new one is complete) and opens the file's folder.
// Throws EAppError when the file cannot be written; the old file then stays
// as it was and no folder opens.
void WriteTextFile(const QString& fileName, TStringGrid* grid, TTableKind kind);
// The bytes WriteTextFile stores for rows 1..count of the table.
QByteArray TextFileBytes(TStringGrid* grid, int count);
// Loads a text file into the archive table and sets giSaveCount. A missing
// file: "指定的文件'name'不存在"; a blank file: "指定的文件沒有內容" and the
// archive in its empty state. Throws EAppError when the file cannot be read
// (the table is then untouched).
void ReadTextFile(QWidget* owner, const QString& fileName, TStringGrid* SGSave);

// Classification of a text-file line by its key (the text before the first
// "=", the whole line when it has none): the column it fills, or -1 when the
// line is ignored. kNewRecord marks a "序号" line, which starts a record.
constexpr int kNewRecord = 100;
int LineColumn(const QString& line);
// The value of a line: the text after its first "=", the whole line if none.
QString LineValue(const QString& line);
// Stores the line's value into column col of the newest row of rows being
// loaded into the archive table.
void PutLineValue(std::vector<QStringList>& rows, int col, const QString& line);

// Stores the table into a new spreadsheet file, then opens its folder unless
// the operator cancelled or the engine could not start.
void SaveToExcel(QWidget* owner, const QString& fileName, TStringGrid* grid, TTableKind kind);
// Loads the first sheet of a spreadsheet file into the archive table. A
// failed open leaves the table and giSaveCount as they were.
void OpenFromExcel(QWidget* owner, const QString& fileName, TStringGrid* SGSave);
// Formats the active sheet and copies rows 0..count of the table into it.
void FillSheet(ISpreadsheetApp& app, TStringGrid* grid, TTableKind kind);
// Reads the active sheet's data rows aside and, when every row was read,
// puts them into the archive table and sets giSaveCount. Throws
// ESpreadsheetError (a cell of column A that is not a whole number, a failing
// call) with the table untouched.
void ReadSheet(ISpreadsheetApp& app, TStringGrid* SGSave);

// Texts of the program.
inline const QString kNoDataText = QStringLiteral("没有数据保存！");
inline const QString kEmptyFileText = QStringLiteral("指定的文件沒有內容");
inline const QString kStartFailedText = QStringLiteral("启动Excel失败！");
inline const QString kConvertFailedText = QStringLiteral("转换成Excel格式失败！");
inline const QString kProgressTip = QStringLiteral("正在进行Excel报表转换，请稍候...");
inline const QString kFolderName = QStringLiteral("测试记录");
inline const QString kCsvFilter = QStringLiteral("CSV文件(*.csv)");
inline const QString kSaveTitle = QStringLiteral("保存当前测试数据");
inline const QString kOpenTitle = QStringLiteral("打开试验数据");

}  // namespace DataFiles
