#pragma once
// The kinds of data file the archive is saved to and opened from, found by
// the name's suffix (any case) in one list. Adding a kind of file is adding
// an entry: its suffix, its line in the file dialogs, a reader and a writer.
// A name with no known suffix is a workbook, told by its content when read.
//
// No widget and no message here: the windows show what a reader or writer
// says (UDataFiles in src/forms).
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <vector>

class ITextRows;
class TRecordTable;

// What reading a file gave.
struct TFormatRead {
  enum TResult {
    Read,     // the records are in the table
    Empty,    // the file holds nothing at all
    Refused,  // the file is not what its kind should be; reason says why
  };
  TResult result = Read;
  // Records read; the table may hold a row more that is no record (a text
  // file whose lines come before any "序号" line).
  int records = 0;
  QString reason;
};

struct TFileFormat {
  QString suffix;   // ".txt", with the dot; empty for the workbook entry
  QString filter;   // the entry of the file dialogs, "测试数据文件(*.txt)"
  QString pattern;  // "*.txt"
  bool forSaving;   // offered by the save dialog
  bool forOpening;  // offered by the open dialog
  // A workbook: read and written with a progress window, failures reported
  // under "转换成Excel格式失败！".
  bool workbook;
  // Reads the file's records into table. Plain files throw EAppError when
  // the file cannot be read.
  TFormatRead (*read)(const QString& fileName, TRecordTable& table);
  // Writes the caption row and the rows, replacing an existing file only
  // once the new one is complete. Throws EAppError (plain files) or
  // ESpreadsheetError (workbooks) with the reason; the old file then stays.
  void (*write)(const QString& fileName, const QStringList& captions, const ITextRows& rows);
};

// Every kind, in the order the file dialogs offer them.
const std::vector<TFileFormat>& FileFormats();
// The kind of a file by its name's suffix; the workbook entry for any other.
const TFileFormat& FormatOf(const QString& fileName);
// The dialogs' filters, as (name, pattern) pairs.
QList<QPair<QString, QString>> FileFilters(bool forOpening);
