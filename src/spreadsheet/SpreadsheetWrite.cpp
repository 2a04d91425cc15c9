// Storing a workbook of the embedded engine: Excel 97-2003 for a name that
// ends in .xls, Office Open XML for any other.
#include <QFileInfo>

#include "platform/FileIo.h"
#include "platform/MessageService.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"
#include "spreadsheet/XlsWrite.h"
#include "spreadsheet/XlsxWrite.h"

namespace {

// The folder must be there and the name no folder; the reason names the target.
void CheckTarget(const QString& fileName) {
  const QFileInfo target(fileName);
  const QString dir = target.absolutePath();
  if (!QFileInfo(dir).isDir()) {
    throw ESpreadsheetError(QStringLiteral("无法保存文件'%1'：文件夹不存在").arg(fileName));
  }
  if (target.isDir()) throw ESpreadsheetError(QStringLiteral("无法保存文件'%1'：这是一个文件夹").arg(fileName));
}

bool IsXls(const QString& fileName) { return fileName.endsWith(QLatin1String(".xls"), Qt::CaseInsensitive); }

}  // namespace

void WriteWorkbookFile(const TWorkbook& book, const QString& fileName) {
  CheckTarget(fileName);
  // A name ending in .xls gets the Excel 97-2003 format, so that no program
  // warns that the format and the name do not match.
  const QByteArray bytes = IsXls(fileName) ? XlsFileBytes(book) : XlsxFileBytes(book);
  // The file is written under a temporary name beside the target, which it
  // replaces only when the whole workbook is on disk; a failure names the
  // target.
  try {
    ReplaceFileContents(fileName, bytes);
  } catch (const EAppError& e) {
    throw ESpreadsheetError(e.Text());
  }
}

void WriteTextSheetFile(const TSheet& layout, const TStreamedRows& rows, const QString& fileName) {
  CheckTarget(fileName);
  if (IsXls(fileName)) {
    // Excel 97-2003 holds 65,536 rows: the sheet is built whole.
    TWorkbook book;
    book.sheets.push_back(layout);
    TSheet& sheet = book.sheets.back();
    QString scratch;
    for (int r = 0; r < rows.count; ++r) {
      for (int c = 0; c < rows.columns; ++c) {
        const QStringView text = rows.cell(r, c, scratch);
        if (text.isEmpty()) {
          sheet.Clear(r, c);
        } else {
          sheet.SetText(r, c, text.toString());
        }
      }
    }
    WriteWorkbookFile(book, fileName);
    return;
  }
  try {
    TFileReplacement file(fileName);
    WriteXlsxStreamed(file.TempName(), layout, rows);
    file.Commit();
  } catch (const EAppError& e) {
    throw ESpreadsheetError(e.Text());
  }
}
