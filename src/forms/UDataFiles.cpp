#include "forms/UDataFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QWidget>

#include <memory>

#include "data/CsvFile.h"
#include "data/FileFormats.h"
#include "data/RecordTable.h"
#include "data/TextFile.h"
#include "data/UDataCenter.h"
#include "platform/DesktopServices.h"
#include "platform/MessageService.h"
#include "platform/ProgressService.h"
#include "platform/StringGrid.h"
#include "spreadsheet/Spreadsheet.h"

namespace DataFiles {

namespace {

const TFileFormat& Format(const QString& suffix) {
  for (const TFileFormat& f : FileFormats()) {
    if (f.suffix == suffix) return f;
  }
  return FileFormats().back();
}

// Rows 1..count of a table hold its records; the count never reaches past
// the table's last row.
int RowsToSave(TStringGrid* grid, std::int32_t count) {
  const int rows = grid->RowCount() - 1;
  if (count <= 0) return 0;
  return count < rows ? static_cast<int>(count) : rows;
}

// Rows 1..count of a grid as a writer reads them.
class TGridRecords : public ITextRows {
 public:
  TGridRecords(TStringGrid* grid, int count) : FGrid(grid), FCount(count) {}
  int RowCount() const override { return FCount; }
  int ColCount() const override { return FGrid->ColCount(); }
  QString Cell(int row, int col) const override { return FGrid->Cells(col, row + 1); }
  QStringView CellView(int row, int col, QString&) const override { return FGrid->CellsView(col, row + 1); }

 private:
  TStringGrid* FGrid;
  int FCount;
};

QStringList EmptyRow() {
  QStringList row;
  for (int c = 0; c < Record::kColumns; ++c) row << QString();
  return row;
}

// A plain file (text, CSV). A missing file is reported ("指定的文件'name'
// 不存在"); a file that cannot be read throws EAppError.
TOpened ReadPlain(QWidget* owner, const QString& fileName, TRecordTable& table, int& records, const TFileFormat& format) {
  if (!QFileInfo::exists(fileName)) {
    MsgBox(owner, QStringLiteral("指定的文件'") + fileName + QStringLiteral("'不存在"), TMsgIcon::Error);
    return TOpened::Failed;
  }
  const TFormatRead read = format.read(fileName, table);
  switch (read.result) {
    case TFormatRead::Empty: MsgBox(owner, kEmptyFileText, TMsgIcon::Error); return TOpened::Empty;
    case TFormatRead::Refused: MsgBox(owner, read.reason, TMsgIcon::Error); return TOpened::Failed;
    case TFormatRead::Read: break;
  }
  records = read.records;
  return TOpened::Read;
}

TOpened ReadWorkbook(QWidget* owner, const QString& fileName, TRecordTable& table, int& records,
                     const TFileFormat& format) {
  const QPointer<QWidget> parent(owner);
  TOpened result = TOpened::Failed;
  std::unique_ptr<IProgressWindow> dlg = OpenProgressWindow(owner, kProgressTip);
  if (!dlg->Update(1, 1)) {
    const TFormatRead read = format.read(fileName, table);
    if (read.result == TFormatRead::Refused) {
      // The reason goes under the message: a file beyond a limit, a row
      // whose number is no number.
      MsgBoxWithDetail(parent, kConvertFailedText, read.reason, TMsgIcon::Warning);
    } else {
      records = read.records;
      result = TOpened::Read;
      // The table is read; a cancel seen now changes nothing.
      dlg->Update(2, 2);
    }
  }
  dlg->Close();
  return result;
}

// A plain file; its folder opens when it is written.
void WritePlain(const QString& fileName, const QStringList& captions, const ITextRows& rows, const TFileFormat& format) {
  format.write(fileName, captions, rows);
  DesktopServices().OpenFolder(QFileInfo(fileName).absolutePath());
}

void WriteWorkbook(QWidget* owner, const QString& fileName, const QStringList& captions, const ITextRows& rows,
                   const TFileFormat& format) {
  const QPointer<QWidget> parent(owner);
  bool cancelled = false;
  std::unique_ptr<IProgressWindow> dlg = OpenProgressWindow(owner, kProgressTip);
  if (dlg->Update(1, 1)) {
    cancelled = true;
  } else {
    bool stored = false;
    try {
      // The file replaces one of the same name only when it is complete: a
      // save that fails (a full disk) leaves the old file as it was.
      format.write(fileName, captions, rows);
      stored = true;
    } catch (const ESpreadsheetError& e) {
      // The writer's reason under the message: more rows than the format
      // holds, a full disk.
      MsgBoxWithDetail(parent, kConvertFailedText, e.Text(), TMsgIcon::Warning);
    } catch (const EAppError& e) {
      MsgBoxWithDetail(parent, kConvertFailedText, e.Text(), TMsgIcon::Warning);
    } catch (...) {
      MsgBox(parent, kConvertFailedText, TMsgIcon::Warning);
    }
    // A cancel seen here only keeps the folder closed; the file is complete.
    if (stored && dlg->Update(2, 2)) cancelled = true;
  }
  dlg->Close();
  if (!cancelled) {
    Delay(100);
    DesktopServices().OpenFolder(QFileInfo(fileName).absolutePath());
  }
}

TOpened Read(QWidget* owner, const QString& fileName, TRecordTable& table, int& records, const TFileFormat& format) {
  return format.workbook ? ReadWorkbook(owner, fileName, table, records, format)
                         : ReadPlain(owner, fileName, table, records, format);
}

// A text file keeps only what GBK holds: characters it holds in no form are
// named first, and the operator chooses to write them as '?' or not at all.
bool TextKeepsOrAccepted(QWidget* owner, const QStringList& captions, const ITextRows& rows) {
  const QString unheld = TextFile::UnheldCharacters(captions, rows);
  if (unheld.isEmpty()) return true;
  QStringList shown;
  for (qsizetype i = 0; i < unheld.size();) {
    const qsizetype units = unheld.at(i).isHighSurrogate() && i + 1 < unheld.size() ? 2 : 1;
    shown << unheld.mid(i, units);
    i += units;
  }
  TMsgRequest ask{kMsgCaption, QStringLiteral("以下字符无法保存到文本文件：%1。").arg(shown.join(QLatin1Char(' '))),
                  TMsgIcon::Warning, TMsgButtons::YesNo,
                  QStringLiteral("保存为 .xlsx 文件可以保留这些字符。"), QStringLiteral("仍然保存（写为?）"),
                  QStringLiteral("取消")};
  return MessageService().Show(owner, ask) == TMsgResult::Yes;
}

void Write(QWidget* owner, const QString& fileName, const QStringList& captions, const ITextRows& rows,
           const TFileFormat& format) {
  if (format.suffix == QLatin1String(".txt") && !TextKeepsOrAccepted(owner, captions, rows)) return;
  if (format.workbook) {
    WriteWorkbook(owner, fileName, captions, rows, format);
  } else {
    WritePlain(fileName, captions, rows, format);
  }
}

// Reads a file into the archive table: the table changes only when records
// were read. A blank file, or one in which no record is found (a note
// chosen by mistake, a sheet of captions alone), is refused and the archive
// keeps its rows, archived results not yet saved among them.
void OpenInto(QWidget* owner, const QString& fileName, TStringGrid* SGSave, std::int32_t& giSaveCount,
              const TFileFormat& format) {
  // The rows are built aside, kept as the table keeps them (a workbook's
  // shared strings once; a plain file's texts are its own).
  TRecordTable table(format.workbook);
  int records = 0;
  switch (Read(owner, fileName, table, records, format)) {
    case TOpened::Read:
      if (records <= 0) {
        MsgBox(owner, QStringLiteral("文件中没有测试记录：%1").arg(fileName), TMsgIcon::Warning);
        break;
      }
      SGSave->ReplaceDataRows(std::move(table));
      giSaveCount = records;
      break;
    case TOpened::Empty:  // told by the reader
    case TOpened::Failed: break;
  }
}

void SaveFrom(QWidget* owner, const QString& fileName, TStringGrid* grid, std::int32_t count,
              const TFileFormat& format) {
  Write(owner, fileName, grid->RowTexts(0), TGridRecords(grid, RowsToSave(grid, count)), format);
}

}  // namespace

// ---- Button handlers ---------------------------------------------------------

void BtnSaveClick(QWidget* owner, TStringGrid* SGData, std::int32_t giDataCount) {
  if (giDataCount <= 0) {
    MsgBox(owner, kNoDataText, TMsgIcon::Warning);
    return;
  }
  SaveFile(owner, SGData, giDataCount);
}

void btnSaveExcelClick(QWidget* owner, TStringGrid* SGSave, std::int32_t giSaveCount) {
  if (giSaveCount <= 0) {
    MsgBox(owner, kNoDataText, TMsgIcon::Warning);
    return;
  }
  SaveFile(owner, SGSave, giSaveCount);
}

void BtnOpenClick(QWidget* owner, TStringGrid* SGSave, std::int32_t& giSaveCount) {
  const QString name = ChooseOpenFile(owner);
  if (name.isEmpty()) return;
  OpenFile(owner, name, SGSave, giSaveCount);
}

// ---- Records of any table ---------------------------------------------------------

QString ChooseOpenFile(QWidget* owner) {
  TFileDialogRequest r;
  r.initialDir = DataFolder();
  r.defaultSuffix = QStringLiteral("xls");
  r.filters = FileFilters(true);
  r.title = kOpenTitle;
  r.mustExist = true;
  return DesktopServices().GetOpenFileName(owner, r);
}

QString ChooseSaveFile(QWidget* owner) {
  TFileDialogRequest r;
  r.initialDir = DataFolder();
  r.defaultSuffix = QStringLiteral("xls");
  r.filters = FileFilters(false);
  r.title = kSaveTitle;
  r.proposedName = DateTimeFileText(QDateTime::currentDateTime());
  return DesktopServices().GetSaveFileName(owner, r);
}

TOpened ReadRecordFile(QWidget* owner, const QString& fileName, TRecordTable& table, int& records) {
  records = 0;
  return Read(owner, fileName, table, records, FormatOf(fileName));
}

void SaveRecordFile(QWidget* owner, const QString& fileName, const QStringList& captions, const ITextRows& rows) {
  Write(owner, fileName, captions, rows, FormatOf(fileName));
}

// ---- Dialog and dispatch -----------------------------------------------------

QString DataFolder() {
  const QString folder = QDir(RecordsParentDir()).filePath(kFolderName);
  QDir().mkpath(folder);  // a failure is ignored; the dialog starts where it can
  return folder;
}

bool IsTextFileName(const QString& fileName) { return FormatOf(fileName).suffix == QLatin1String(".txt"); }

bool IsCsvFileName(const QString& fileName) { return FormatOf(fileName).suffix == QLatin1String(".csv"); }

void SaveFile(QWidget* owner, TStringGrid* grid, std::int32_t count) {
  const QString name = ChooseSaveFile(owner);
  if (name.isEmpty()) return;
  SaveFileAs(owner, name, grid, count);
}

void OpenFile(QWidget* owner, const QString& fileName, TStringGrid* SGSave, std::int32_t& giSaveCount) {
  OpenInto(owner, fileName, SGSave, giSaveCount, FormatOf(fileName));
}

void SaveFileAs(QWidget* owner, const QString& fileName, TStringGrid* grid, std::int32_t count) {
  SaveFrom(owner, fileName, grid, count, FormatOf(fileName));
}

// ---- Text and CSV files --------------------------------------------------------

QByteArray TextFileBytes(TStringGrid* grid, int count) {
  return TextFile::Bytes(grid->RowTexts(0), TGridRecords(grid, count));
}

QByteArray CsvFileBytes(TStringGrid* grid, int count) {
  return CsvFile::Bytes(grid->RowTexts(0), TGridRecords(grid, count));
}

void WriteTextFile(const QString& fileName, TStringGrid* grid, std::int32_t count) {
  SaveFrom(nullptr, fileName, grid, count, Format(QStringLiteral(".txt")));
}

void WriteCsvFile(const QString& fileName, TStringGrid* grid, std::int32_t count) {
  SaveFrom(nullptr, fileName, grid, count, Format(QStringLiteral(".csv")));
}

void ReadTextFile(QWidget* owner, const QString& fileName, TStringGrid* SGSave, std::int32_t& giSaveCount) {
  OpenInto(owner, fileName, SGSave, giSaveCount, Format(QStringLiteral(".txt")));
}

void ReadCsvFile(QWidget* owner, const QString& fileName, TStringGrid* SGSave, std::int32_t& giSaveCount) {
  OpenInto(owner, fileName, SGSave, giSaveCount, Format(QStringLiteral(".csv")));
}

int LineColumn(const QString& line) { return TextFile::LineColumn(line); }

QString LineValue(const QString& line) { return TextFile::LineValue(line); }

// ---- Workbooks -------------------------------------------------------------------

void SaveToExcel(QWidget* owner, const QString& fileName, TStringGrid* grid, std::int32_t count) {
  SaveFrom(owner, fileName, grid, count, FormatOf(fileName).workbook ? FormatOf(fileName) : Format(QString()));
}

void OpenFromExcel(QWidget* owner, const QString& fileName, TStringGrid* SGSave, std::int32_t& giSaveCount) {
  OpenInto(owner, fileName, SGSave, giSaveCount,
           FormatOf(fileName).workbook ? FormatOf(fileName) : Format(QString()));
}

}  // namespace DataFiles
