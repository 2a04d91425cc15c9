#pragma once
// Bringing a data file into the history: the rows as the file shows them
// (a spreadsheet's cells with their number formats applied, so "52.4 μΩ"
// keeps its unit), each checked before it is stored: a row whose time or
// value cannot be read is named in the summary and not stored. No widget
// here: the history tab and qk4820-history show what this says.
#include <QString>
#include <QStringList>

#include <vector>

#include "history/ResultStore.h"

// A row of a file, with its place as the file's reader would name it.
struct TImportRow {
  int place = 0;      // the row of a sheet or CSV file (the caption row is 1), the record of a text file
  QStringList cells;  // as the file shows them, in the file's column order
};

struct TImportFile {
  QStringList captions;  // the caption row
  std::vector<TImportRow> rows;
  bool records = false;  // a text file: places are records, not rows
};

// Reads a text, CSV or workbook file (told by its suffix, any case, as the
// archive's files are). Throws EAppError with the reason.
TImportFile ReadImportFile(const QString& fileName);

// The rows of a file as results to store, and those refused with the reason.
struct TImportCheck {
  std::vector<TNewResult> results;
  int refusedCount = 0;
  QStringList refused;  // the first few: "第 3 行：时间"not a time"无法识别"
};

// Which record column each caption is (Record::TColumn, -1: none), read as
// the archive's readers read their captions, with the names other programs
// give ("A相电阻"); the unit a caption names for its bare numbers ("μΩ"),
// empty when none.
int ImportColumnOf(const QString& caption);
QString CaptionUnit(const QString& caption);

// Checks each row: the time in any form ImportTimeOfText reads (the text
// kept in the tables' own form), the load time in seconds, each value with
// its unit (a bare number takes the unit its column's caption names, else
// it is refused). Columns are found by their captions where the captions
// name the time and a value; else they are the program's order.
TImportCheck CheckImportRows(const TImportFile& file);

// "已导入 N 条结果，M 条已在历史记录中，K 条未导入（第 3 行：…；…）", with the
// characters left out where there were any.
QString ImportSummary(const TAddCount& count, const TImportCheck& check);
