// Reading workbook files into the embedded engine. The format is told from
// the file's content, never from its name:
//   D0 CF 11 E0 A1 B1 1A E1      binary Excel 97-2003 (compound file)
//   zip with a content.xml       OpenDocument spreadsheet
//   other zip                    Office Open XML workbook
//   XML text                     XML spreadsheet 2003
#include <QFileInfo>

#include <cstring>
#include <new>

#include "platform/FileIo.h"
#include "spreadsheet/NumberFormat.h"
#include "spreadsheet/SheetReaders.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"
#include "spreadsheet/ZipArchive.h"

namespace {

const unsigned char kCompoundFileMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

QString CannotRead(const QString& fileName, const QString& why) {
  return QStringLiteral("无法读取文件'%1'：%2").arg(fileName, why);
}

bool IsZip(const QByteArray& b) { return b.startsWith(QByteArrayLiteral("PK\x03\x04")); }

// XML text whose first element is a Workbook (of XML spreadsheet 2003).
bool IsXmlSpreadsheet(const QByteArray& b) {
  const QByteArray head = b.left(4096);
  const int root = head.indexOf("<Workbook");
  const int ss = head.indexOf("<ss:Workbook");
  return (root >= 0 || ss >= 0) && head.contains("urn:schemas-microsoft-com:office:spreadsheet");
}

std::unique_ptr<TWorkbook> ReadBytes(const QByteArray& bytes, const TReadOptions& options) {
  if (bytes.size() >= 8 && std::memcmp(bytes.constData(), kCompoundFileMagic, 8) == 0) return ReadXlsBytes(bytes, options);
  if (IsZip(bytes)) {
    const TZipArchive zip(bytes);
    if (zip.Has(QStringLiteral("content.xml")) && !zip.Has(QStringLiteral("[Content_Types].xml"))) {
      return ReadOdsBytes(bytes, options);
    }
    return ReadXlsxBytes(bytes, options);
  }
  if (IsXmlSpreadsheet(bytes)) return ReadXmlSpreadsheetBytes(bytes, options);
  throw ESpreadsheetError(QStringLiteral("不是电子表格文件"));
}

}  // namespace

void CheckCellPlace(std::int64_t row, std::int64_t col) {
  if (row >= kMaxSheetRows) {
    throw ESpreadsheetError(QStringLiteral("工作表超过 %1 行，表格程序也无法打开").arg(kMaxSheetRows));
  }
  if (col >= kMaxSheetColumns) {
    throw ESpreadsheetError(QStringLiteral("工作表超过 %1 列，表格程序也无法打开").arg(kMaxSheetColumns));
  }
}

std::unique_ptr<TWorkbook> ReadWorkbookBytes(const QByteArray& bytes, const TReadOptions& options) {
  return ReadBytes(bytes, options);
}

void PutNumber(TSheet& sheet, int row, int col, double value, const TCellFormat& format, bool date1904,
               const TReadOptions& options) {
  if (format.show != TNumberShow::Number) {
    sheet.SetText(row, col, SerialText(value, format.show, date1904));
  } else if (options.shownNumbers && !format.code.isEmpty()) {
    sheet.SetText(row, col, FormattedNumberText(value, format.code));
  } else {
    sheet.SetNumber(row, col, value);
  }
}

std::unique_ptr<TWorkbook> ReadWorkbookFile(const QString& fileName, const TReadOptions& options) {
  if (!QFileInfo(fileName).isFile()) throw ESpreadsheetError(CannotRead(fileName, QStringLiteral("文件不存在")));
  QByteArray bytes;
  int err = 0;
  if (!ReadWholeFile(fileName, bytes, err)) throw ESpreadsheetError(CannotReadText(fileName, err));

  std::unique_ptr<TWorkbook> book;
  try {
    book = ReadBytes(bytes, options);
  } catch (const ESpreadsheetError& e) {
    throw ESpreadsheetError(CannotRead(fileName, e.Text()));
  } catch (const std::bad_alloc&) {
    throw ESpreadsheetError(CannotRead(fileName, QStringLiteral("内存不足，无法读入这个工作表")));
  } catch (const std::exception& e) {
    throw ESpreadsheetError(CannotRead(fileName, QString::fromUtf8(e.what())));
  }
  if (book->sheets.empty()) book->sheets.emplace_back();
  book->fileName = QFileInfo(fileName).absoluteFilePath();
  return book;
}
