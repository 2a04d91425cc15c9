#include "data/FileFormats.h"

#include <QFileInfo>

#include "data/Conversions.h"
#include "data/CsvFile.h"
#include "data/RecordTable.h"
#include "data/SheetFile.h"
#include "data/TextFile.h"
#include "platform/FileIo.h"
#include "platform/Gbk.h"
#include "platform/MessageService.h"
#include "spreadsheet/Spreadsheet.h"

namespace {

QByteArray ReadPlainFile(const QString& fileName) {
  QByteArray bytes;
  int err = 0;
  if (!ReadWholeFile(fileName, bytes, err)) throw EAppError(CannotReadText(fileName, err));
  return bytes;
}

TFormatRead ReadText(const QString& fileName, TRecordTable& table) {
  const QString text = FromGbk(ReadPlainFile(fileName));
  TFormatRead out;
  if (TrimText(text).isEmpty()) {
    out.result = TFormatRead::Empty;
    return out;
  }
  out.records = TextFile::Records(text, [&](const QStringList& row) { table.Add(row); });
  return out;
}

void WriteText(const QString& fileName, const QStringList& captions, const ITextRows& rows) {
  ReplaceFileContents(fileName, TextFile::Bytes(captions, rows));
}

TFormatRead ReadCsv(const QString& fileName, TRecordTable& table) {
  TFormatRead out;
  const CsvFile::TCsvArchive read =
      CsvFile::ReadArchive(ReadPlainFile(fileName), [&](const QStringView* row) { table.Add(row); });
  switch (read.result) {
    case CsvFile::TCsvArchive::Empty: out.result = TFormatRead::Empty; break;
    case CsvFile::TCsvArchive::BadNumber:
      out.result = TFormatRead::Refused;
      out.reason = QStringLiteral("文件'%1'第%2行的序号不是整数：'%3'\n\n请检查该文件，测试数据归档未改变。")
                       .arg(fileName)
                       .arg(read.badRecord)
                       .arg(read.badNumber);
      break;
    case CsvFile::TCsvArchive::Read:
      out.records = read.records;
      // No record: the archive shows one empty row, as an empty archive does.
      if (read.records == 0) table.Add({});
      break;
  }
  return out;
}

void WriteCsv(const QString& fileName, const QStringList& captions, const ITextRows& rows) {
  ReplaceFileContentsWith(fileName, [&](const TPut& put) { CsvFile::Write(captions, rows, put); });
}

TFormatRead ReadSheet(const QString& fileName, TRecordTable& table) {
  TFormatRead out;
  try {
    out.records = SheetFile::Read(fileName, [&](const QStringList& row) { table.Add(row); });
  } catch (const ESpreadsheetError& e) {
    out.result = TFormatRead::Refused;
    out.reason = e.Text();
  } catch (const std::bad_alloc&) {
    out.result = TFormatRead::Refused;
    out.reason = QStringLiteral("内存不足，无法读入这个工作表");
  }
  return out;
}

void WriteSheet(const QString& fileName, const QStringList& captions, const ITextRows& rows) {
  SheetFile::Write(fileName, captions, rows);
}

}  // namespace

const std::vector<TFileFormat>& FileFormats() {
  static const std::vector<TFileFormat> formats = {
      {QStringLiteral(".xls"), QStringLiteral("测试数据文件(*.xls)"), QStringLiteral("*.xls"), true, true, true, ReadSheet,
       WriteSheet},
      {QStringLiteral(".txt"), QStringLiteral("测试数据文件(*.txt)"), QStringLiteral("*.txt"), true, true, false, ReadText,
       WriteText},
      {QStringLiteral(".csv"), QStringLiteral("CSV文件(*.csv)"), QStringLiteral("*.csv"), true, true, false, ReadCsv, WriteCsv},
      {QStringLiteral(".xlsx"), QStringLiteral("测试数据文件(*.xlsx)"), QStringLiteral("*.xlsx"), false, true, true,
       ReadSheet, WriteSheet},
      {QStringLiteral(".ods"), QStringLiteral("测试数据文件(*.ods)"), QStringLiteral("*.ods"), false, true, true, ReadSheet,
       WriteSheet},
      // Any other name: a workbook, told by its content when read.
      {QString(), QString(), QString(), false, false, true, ReadSheet, WriteSheet},
  };
  return formats;
}

const TFileFormat& FormatOf(const QString& fileName) {
  const auto& formats = FileFormats();
  for (const TFileFormat& f : formats) {
    if (!f.suffix.isEmpty() && fileName.endsWith(f.suffix, Qt::CaseInsensitive)) return f;
  }
  return formats.back();
}

QList<QPair<QString, QString>> FileFilters(bool forOpening) {
  QList<QPair<QString, QString>> out;
  for (const TFileFormat& f : FileFormats()) {
    if (f.filter.isEmpty() || !(forOpening ? f.forOpening : f.forSaving)) continue;
    out << qMakePair(f.filter, f.pattern);
  }
  return out;
}
