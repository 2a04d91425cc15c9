// Storing a workbook of the embedded engine: Excel 97-2003 for a name that
// ends in .xls, Office Open XML for any other.
#include <QFileInfo>

#include "platform/FileIo.h"
#include "platform/MessageService.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"
#include "spreadsheet/XlsWrite.h"
#include "spreadsheet/XlsxWrite.h"

void WriteWorkbookFile(const TWorkbook& book, const QString& fileName) {
  const QFileInfo target(fileName);
  const QString dir = target.absolutePath();
  if (!QFileInfo(dir).isDir()) {
    throw ESpreadsheetError(QStringLiteral("无法保存文件'%1'：文件夹不存在").arg(fileName));
  }
  if (target.isDir()) throw ESpreadsheetError(QStringLiteral("无法保存文件'%1'：这是一个文件夹").arg(fileName));

  // A name ending in .xls gets the Excel 97-2003 format, so that no program
  // warns that the format and the name do not match.
  const bool xls = fileName.endsWith(QLatin1String(".xls"), Qt::CaseInsensitive);
  const QByteArray bytes = xls ? XlsFileBytes(book) : XlsxFileBytes(book);
  // The file is written under a temporary name beside the target, which it
  // replaces only when the whole workbook is on disk; a failure names the
  // target.
  try {
    ReplaceFileContents(fileName, bytes);
  } catch (const EAppError& e) {
    throw ESpreadsheetError(e.Text());
  }
}
