#pragma once
// Saving the record tables to data files and opening a data file into the
// archive table: the save and open buttons of the main window, their
// dialogs and their messages. What each kind of file holds and how it is
// read and written is in src/data (FileFormats.h): the kind is found by the
// name's suffix (any case); a workbook is saved and opened with a progress
// window.
//
// The main window passes its tables in with their row counters (the
// working parameters giDataCount for the instrument table SGData,
// giSaveCount for the archive table SGSave): a save writes rows 1..count,
// an open loads the archive table and sets its counter.
//
// Errors that no operation here reports itself (a text file that cannot be
// written or read) are thrown as EAppError; the main window's handlers run
// these functions inside Guarded(...), so they end in the general error box.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

#include "data/TextFile.h"

class ITextRows;
class QWidget;
class TRecordTable;
class TStringGrid;

namespace DataFiles {
// The line that starts a record in a text file (TextFile.h).
constexpr int kNewRecord = TextFile::kNewRecord;
}  // namespace DataFiles

namespace DataFiles {

// ---- Button handlers ---------------------------------------------------------
// "保存至Excel" on the instrument tab: refuses an empty table (giDataCount
// 0) with "没有数据保存！", else SaveFile(SGData).
void BtnSaveClick(QWidget* owner, TStringGrid* SGData, std::int32_t giDataCount);
// "保存至Excel" on the archive tab: the same on giSaveCount and SGSave.
void btnSaveExcelClick(QWidget* owner, TStringGrid* SGSave, std::int32_t giSaveCount);
// "打开Excel" on the archive tab: the open dialog, then OpenFile.
void BtnOpenClick(QWidget* owner, TStringGrid* SGSave, std::int32_t& giSaveCount);

// ---- Records of any table -------------------------------------------------------
// The open and save dialogs of data files (the folder "测试记录", the kinds
// of file); the name chosen, or empty when cancelled.
QString ChooseOpenFile(QWidget* owner);
QString ChooseSaveFile(QWidget* owner);
// What reading a file gave: its records are in the table, it was blank, or
// it could not be read (each case told to the operator as the archive's open
// button tells it).
enum class TOpened { Read, Empty, Failed };
// Reads a data file of its kind into table (a workbook with the progress
// window); records: how many rows of table are records.
TOpened ReadRecordFile(QWidget* owner, const QString& fileName, TRecordTable& table, int& records);
// Writes the caption row and the rows as a data file of its kind (a workbook
// with the progress window) and opens its folder, as the save buttons do.
void SaveRecordFile(QWidget* owner, const QString& fileName, const QStringList& captions, const ITextRows& rows);

// ---- Operations --------------------------------------------------------------
// The folder "测试记录" in the program's folder, created when missing (a
// failure to create it is ignored).
QString DataFolder();
// The save dialog, then SaveFileAs.
void SaveFile(QWidget* owner, TStringGrid* grid, std::int32_t count);
// Whether the name is that of a text file or of a CSV file (by the suffix,
// any case); any other name is a workbook's.
bool IsTextFileName(const QString& fileName);
bool IsCsvFileName(const QString& fileName);
// What the open button does with a chosen name: reads the file of its kind
// into the archive table.
void OpenFile(QWidget* owner, const QString& fileName, TStringGrid* SGSave, std::int32_t& giSaveCount);
// What the save buttons do with a chosen name: writes rows 1..count of the
// table as a file of its kind.
void SaveFileAs(QWidget* owner, const QString& fileName, TStringGrid* grid, std::int32_t count);

// The bytes of the text and CSV files of rows 1..count of a table.
QByteArray TextFileBytes(TStringGrid* grid, int count);
QByteArray CsvFileBytes(TStringGrid* grid, int count);
// Writes rows 1..count of the table as a text or CSV file (replacing an
// existing file only once the new one is complete) and opens the file's
// folder. Throws EAppError when the file cannot be written; the old file
// then stays as it was and no folder opens.
void WriteTextFile(const QString& fileName, TStringGrid* grid, std::int32_t count);
void WriteCsvFile(const QString& fileName, TStringGrid* grid, std::int32_t count);
// Loads a text or CSV file into the archive table and sets giSaveCount. A
// missing file: "指定的文件'name'不存在"; a blank file: "指定的文件沒有內容"
// and the archive in its empty state; a CSV record number that is not an
// integer is reported and leaves the archive as it was. Throws EAppError when
// the file cannot be read (the table is then untouched).
void ReadTextFile(QWidget* owner, const QString& fileName, TStringGrid* SGSave, std::int32_t& giSaveCount);
void ReadCsvFile(QWidget* owner, const QString& fileName, TStringGrid* SGSave, std::int32_t& giSaveCount);

// Classification of a text-file line (TextFile.h).
int LineColumn(const QString& line);
QString LineValue(const QString& line);

// Stores the table into a workbook with the progress window, then opens its
// folder unless the operator cancelled.
void SaveToExcel(QWidget* owner, const QString& fileName, TStringGrid* grid, std::int32_t count);
// Loads the active sheet of a workbook into the archive table with the
// progress window. A failed open leaves the table and giSaveCount as they
// were.
void OpenFromExcel(QWidget* owner, const QString& fileName, TStringGrid* SGSave, std::int32_t& giSaveCount);

// Texts of the program.
inline const QString kNoDataText = QStringLiteral("没有数据保存！");
inline const QString kEmptyFileText = QStringLiteral("指定的文件沒有內容");
inline const QString kConvertFailedText = QStringLiteral("转换成Excel格式失败！");
inline const QString kProgressTip = QStringLiteral("正在进行Excel报表转换，请稍候...");
inline const QString kFolderName = QStringLiteral("测试记录");
inline const QString kSaveTitle = QStringLiteral("保存当前测试数据");
inline const QString kOpenTitle = QStringLiteral("打开试验数据");

}  // namespace DataFiles
