#include "data/UDataFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QPointer>
#include <QWidget>

#include <exception>
#include <memory>

#include "data/CsvFile.h"
#include "data/TextFile.h"
#include "data/UDataCenter.h"
#include "platform/DesktopServices.h"
#include "platform/FileIo.h"
#include "platform/Gbk.h"
#include "platform/MessageService.h"
#include "platform/Numbers.h"
#include "platform/ProgressService.h"
#include "spreadsheet/Spreadsheet.h"
#include "platform/StringGrid.h"

namespace DataFiles {

namespace {

constexpr int kColumns = 11;

const QString kLineEnd = QStringLiteral("\r\n");

// Rows 1..count of the table hold its records; the count never reaches past
// the table's last row.
int RowsToSave(TStringGrid* grid, TTableKind kind) {
  const std::int32_t count = kind == TTableKind::Data ? giDataCount : giSaveCount;
  const int rows = grid->RowCount() - 1;
  if (count <= 0) return 0;
  return count < rows ? static_cast<int>(count) : rows;
}

QStringList EmptyRow() {
  QStringList row;
  row.reserve(kColumns);
  for (int c = 0; c < kColumns; ++c) row << QString();
  return row;
}

// The bytes of a data file chosen for opening. A missing file is reported
// ("指定的文件'name'不存在") and gives false; a file that cannot be read throws
// EAppError with the cause.
bool ReadDataFile(QWidget* owner, const QString& fileName, QByteArray& bytes) {
  if (!QFileInfo::exists(fileName)) {
    MsgBox(owner, QStringLiteral("指定的文件'") + fileName + QStringLiteral("'不存在"), TMsgIcon::Error);
    return false;
  }
  int err = 0;
  if (!ReadWholeFile(fileName, bytes, err)) throw EAppError(CannotReadText(fileName, err));
  return true;
}

QList<QPair<QString, QString>> FileFilters(bool forOpening) {
  // "测试数据文件(*%s)|*%s|测试数据文件(*%s)|*%s" with .xls, .xls, .txt, .txt
  QList<QPair<QString, QString>> f;
  f << qMakePair(QStringLiteral("测试数据文件(*.xls)"), QStringLiteral("*.xls"));
  f << qMakePair(QStringLiteral("测试数据文件(*.txt)"), QStringLiteral("*.txt"));
  f << qMakePair(kCsvFilter, QStringLiteral("*.csv"));
  if (forOpening) {
    // the engine reads these as well
    f << qMakePair(QStringLiteral("测试数据文件(*.xlsx)"), QStringLiteral("*.xlsx"));
    f << qMakePair(QStringLiteral("测试数据文件(*.ods)"), QStringLiteral("*.ods"));
  }
  return f;
}

// The text of column A as a record number, "%2d".
QString RecordNumberText(const QString& cell, int sheetRow) {
  int v = 0;
  if (!TryStrToInt(TrimText(cell), v)) {
    throw ESpreadsheetError(QStringLiteral("第%1行A列不是整数：'%2'").arg(sheetRow).arg(cell));
  }
  QString text = QString::asprintf("%2d", v);
  // The cell's own text when it is the same: a million records share it
  // with the workbook instead of holding a copy.
  return text == cell ? cell : text;
}

// Closes every workbook without saving and ends the engine. A failure here
// is reported once, like any failing call; the engine is released in any
// case.
void QuitSpreadsheet(std::unique_ptr<ISpreadsheetApp>& app, QWidget* owner, bool& reported) {
  if (!app) return;
  bool failed = false;
  try {
    for (std::int32_t i = app->WorkbooksCount(); i >= 1; --i) app->WorkbooksItemClose(i, false);
  } catch (...) {
    failed = true;
  }
  try {
    app->Quit();  // ended on every path, even when closing failed
  } catch (...) {
    failed = true;
  }
  app.reset();
  if (failed && !reported) {
    MsgBox(owner, kConvertFailedText, TMsgIcon::Warning);
    reported = true;
  }
}

std::unique_ptr<ISpreadsheetApp> StartSpreadsheet() {
  try {
    return CreateSpreadsheetApp();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

// ---- Button handlers ---------------------------------------------------------

void BtnSaveClick(QWidget* owner, TStringGrid* SGData) {
  if (giDataCount <= 0) {
    MsgBox(owner, kNoDataText, TMsgIcon::Warning);
    return;
  }
  SaveFile(owner, SGData, TTableKind::Data);
}

void btnSaveExcelClick(QWidget* owner, TStringGrid* SGSave) {
  if (giSaveCount <= 0) {
    MsgBox(owner, kNoDataText, TMsgIcon::Warning);
    return;
  }
  SaveFile(owner, SGSave, TTableKind::Save);
}

void BtnOpenClick(QWidget* owner, TStringGrid* SGSave) {
  TFileDialogRequest r;
  r.initialDir = DataFolder();
  r.defaultSuffix = QStringLiteral("xls");
  r.filters = FileFilters(true);
  r.title = kOpenTitle;
  r.mustExist = true;
  const QString name = DesktopServices().GetOpenFileName(owner, r);
  if (name.isEmpty()) return;
  OpenFile(owner, name, SGSave);
}

void OpenFile(QWidget* owner, const QString& fileName, TStringGrid* SGSave) {
  if (IsTextFileName(fileName)) {
    ReadTextFile(owner, fileName, SGSave);
  } else if (IsCsvFileName(fileName)) {
    ReadCsvFile(owner, fileName, SGSave);
  } else {
    OpenFromExcel(owner, fileName, SGSave);
  }
}

// ---- Dialog and dispatch -----------------------------------------------------

QString DataFolder() {
  const QString folder = QDir(RecordsParentDir()).filePath(kFolderName);
  QDir().mkpath(folder);  // a failure is ignored; the dialog starts where it can
  return folder;
}

bool IsTextFileName(const QString& fileName) { return TailOf(fileName, 4) == QLatin1String(".txt"); }

bool IsCsvFileName(const QString& fileName) { return fileName.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive); }

void SaveFile(QWidget* owner, TStringGrid* grid, TTableKind kind) {
  TFileDialogRequest r;
  r.initialDir = DataFolder();
  r.defaultSuffix = QStringLiteral("xls");
  r.filters = FileFilters(false);
  r.title = kSaveTitle;
  r.proposedName = DateTimeFileText(QDateTime::currentDateTime());
  const QString name = DesktopServices().GetSaveFileName(owner, r);
  if (name.isEmpty()) return;
  SaveFileAs(owner, name, grid, kind);
}

void SaveFileAs(QWidget* owner, const QString& fileName, TStringGrid* grid, TTableKind kind) {
  if (IsTextFileName(fileName)) {
    WriteTextFile(fileName, grid, kind);
  } else if (IsCsvFileName(fileName)) {
    WriteCsvFile(fileName, grid, kind);
  } else {
    SaveToExcel(owner, fileName, grid, kind);
  }
}

// ---- Text file ---------------------------------------------------------------

QByteArray TextFileBytes(TStringGrid* grid, int count) {
  QString captions[kColumns];
  for (int c = 0; c < kColumns; ++c) captions[c] = TrimText(grid->Cells(c, 0));
  QString text;
  text.reserve(count * 200);
  auto put = [&](int c, int r) {
    text += captions[c];
    text += QLatin1Char('=');
    text += TrimText(grid->Cells(c, r));
    text += kLineEnd;
  };
  for (int r = 1; r <= count; ++r) {
    put(0, r);
    text += QStringLiteral("[参数]") + kLineEnd;
    for (int c = 1; c <= 6; ++c) put(c, r);
    text += QStringLiteral("[试验结果]") + kLineEnd;
    for (int c = 7; c <= 10; ++c) put(c, r);
    text += kLineEnd;
    text += kLineEnd;
  }
  return ToGbk(text);
}

void WriteTextFile(const QString& fileName, TStringGrid* grid, TTableKind kind) {
  const QByteArray bytes = TextFileBytes(grid, RowsToSave(grid, kind));
  ReplaceFileContents(fileName, bytes);
  DesktopServices().OpenFolder(QFileInfo(fileName).absolutePath());
}

QString LineValue(const QString& line) { return TextFile::LineValue(line); }

int LineColumn(const QString& line) { return TextFile::LineColumn(line); }

void PutLineValue(std::vector<QStringList>& rows, int col, const QString& line) {
  if (rows.empty()) rows.push_back(EmptyRow());
  QStringList& row = rows.back();
  while (row.size() < kColumns) row << QString();
  if (col >= 0 && col < kColumns) row[col] = LineValue(line);
}

void ReadTextFile(QWidget* owner, const QString& fileName, TStringGrid* SGSave) {
  QByteArray bytes;
  if (!ReadDataFile(owner, fileName, bytes)) return;
  const QString text = FromGbk(bytes);

  if (TrimText(text).isEmpty()) {
    MsgBox(owner, kEmptyFileText, TMsgIcon::Error);
    // The archive goes to its empty state: one empty data row, no records.
    SGSave->ReplaceDataRows({EmptyRow()});
    giSaveCount = 0;
    return;
  }
  TGridRows packed(SGSave->ColCount(), false);
  const int count = TextFile::Records(text, [&](const QStringList& row) { packed.Add(row); });
  SGSave->ReplaceDataRows(std::move(packed));
  giSaveCount = count;
}

// ---- CSV file ----------------------------------------------------------------

QByteArray CsvFileBytes(TStringGrid* grid, int count) {
  QString text;
  text.reserve((count + 1) * 160);
  for (int r = 0; r <= count; ++r) {
    for (int c = 0; c < kColumns; ++c) {
      if (c > 0) text += QLatin1Char(',');
      text += CsvFile::Field(TrimText(grid->Cells(c, r)));
    }
    text += kLineEnd;
  }
  return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

void WriteCsvFile(const QString& fileName, TStringGrid* grid, TTableKind kind) {
  ReplaceFileContents(fileName, CsvFileBytes(grid, RowsToSave(grid, kind)));
  DesktopServices().OpenFolder(QFileInfo(fileName).absolutePath());
}

void ReadCsvFile(QWidget* owner, const QString& fileName, TStringGrid* SGSave) {
  QByteArray bytes;
  if (!ReadDataFile(owner, fileName, bytes)) return;
  // The rows are built aside, kept as the table keeps them; the archive
  // changes only when all were read.
  TGridRows rows(SGSave->ColCount(), false);
  const CsvFile::TCsvArchive read = CsvFile::ReadArchive(bytes, [&](const QStringList& row) { rows.Add(row); });
  switch (read.result) {
    case CsvFile::TCsvArchive::Empty:
      MsgBox(owner, kEmptyFileText, TMsgIcon::Error);
      SGSave->ReplaceDataRows({EmptyRow()});
      giSaveCount = 0;
      return;
    case CsvFile::TCsvArchive::BadNumber:
      MsgBox(owner,
             QStringLiteral("文件'%1'第%2行的序号不是整数：'%3'\n\n请检查该文件，测试数据归档未改变。")
                 .arg(fileName)
                 .arg(read.badRecord)
                 .arg(read.badNumber),
             TMsgIcon::Error);
      return;
    case CsvFile::TCsvArchive::Read: break;
  }
  if (read.records == 0) rows.Add(EmptyRow());
  SGSave->ReplaceDataRows(std::move(rows));
  giSaveCount = read.records;
}

// ---- Spreadsheet -------------------------------------------------------------

void FillSheet(ISpreadsheetApp& app, TStringGrid* grid, TTableKind kind) {
  app.CellsSetColumnWidth(9.5);
  app.CellsSetHorizontalAlignment(kAlignCenter);
  app.ColumnsSetColumnWidth(2, 17.5);
  app.CellsSetNumberFormat(QStringLiteral("@"));
  const int n = RowsToSave(grid, kind);
  for (int r = 0; r <= n; ++r) {
    for (int j = 0; j < kColumns; ++j) app.SetCellValue(r + 1, j + 1, TrimText(grid->Cells(j, r)));
  }
}

void ReadSheet(ISpreadsheetApp& app, TStringGrid* SGSave) {
  std::int32_t n = app.UsedRangeRowsCount() - 1;
  if (n < 0) n = 0;
  // The rows are read aside, kept as the table keeps them (each distinct
  // text once); the table changes only when all were read.
  TGridRows rows(SGSave->ColCount());
  rows.Reserve(size_t(n));
  QStringList row;
  for (std::int32_t r = 1; r <= n; ++r) {
    row.clear();
    for (int j = 0; j < kColumns; ++j) {
      const QString cell = app.CellValue(r + 1, j + 1);
      row << (j == 0 ? RecordNumberText(cell, r + 1) : cell);
    }
    rows.Add(row);
  }
  SGSave->ReplaceDataRows(std::move(rows));
  giSaveCount = n;
}

void SaveToExcel(QWidget* owner, const QString& fileName, TStringGrid* grid, TTableKind kind) {
  const QPointer<QWidget> parent(owner);
  bool cancelled = false;
  bool reported = false;
  std::unique_ptr<ISpreadsheetApp> app;
  std::unique_ptr<IProgressWindow> dlg = OpenProgressWindow(owner, kProgressTip);

  if (dlg->Update(1, 1)) {
    cancelled = true;
  } else {
    app = StartSpreadsheet();
    if (!app) {
      MsgBox(parent, kStartFailedText, TMsgIcon::Warning);
      reported = true;
    } else {
      bool stored = false;
      try {
        app->SetDisplayAlerts(false);
        app->SetVisible(false);
        app->WorkbooksAdd(1);
        // The workbook is stored at once, still empty, before any cell is
        // written; under a temporary name beside the chosen one, which it
        // replaces only when the filled workbook is on disk. A save that
        // fails (a full disk) leaves an existing file as it was.
        TFileReplacement target(fileName);
        app->ActiveWorkbookSaveAs(target.TempName());
        FillSheet(*app, grid, kind);
        app->ActiveWorkbookSave();
        target.Commit();
        stored = true;
      } catch (...) {
        MsgBox(parent, kConvertFailedText, TMsgIcon::Warning);
        reported = true;
      }
      // A cancel seen here only keeps the folder closed; the file is complete.
      if (stored && dlg->Update(2, 2)) cancelled = true;
    }
  }

  const bool started = app != nullptr;
  QuitSpreadsheet(app, parent, reported);
  dlg->Close();
  if (!cancelled && started) {
    Delay(100);
    DesktopServices().OpenFolder(QFileInfo(fileName).absolutePath());
  }
}

void OpenFromExcel(QWidget* owner, const QString& fileName, TStringGrid* SGSave) {
  const QPointer<QWidget> parent(owner);
  bool reported = false;
  std::unique_ptr<ISpreadsheetApp> app;
  std::unique_ptr<IProgressWindow> dlg = OpenProgressWindow(owner, kProgressTip);

  if (!dlg->Update(1, 1)) {
    app = StartSpreadsheet();
    if (!app) {
      MsgBox(parent, kStartFailedText, TMsgIcon::Warning);
      reported = true;
    } else {
      bool loaded = false;
      try {
        app->SetDisplayAlerts(false);
        app->SetVisible(false);
        app->WorkbooksOpen(fileName);
        ReadSheet(*app, SGSave);
        loaded = true;
      } catch (const ESpreadsheetError& e) {
        // The reason goes under the message: a file beyond a limit, a row
        // whose number is no number.
        MsgBoxWithDetail(parent, kConvertFailedText, e.Text(), TMsgIcon::Warning);
        reported = true;
      } catch (const std::bad_alloc&) {
        MsgBoxWithDetail(parent, kConvertFailedText, QStringLiteral("内存不足，无法读入这个工作表"), TMsgIcon::Warning);
        reported = true;
      } catch (...) {
        MsgBox(parent, kConvertFailedText, TMsgIcon::Warning);
        reported = true;
      }
      // The table is loaded; a cancel seen now changes nothing.
      if (loaded) dlg->Update(2, 2);
    }
  }

  QuitSpreadsheet(app, parent, reported);
  dlg->Close();
}

}  // namespace DataFiles
