// Storing a workbook of the embedded engine as an Office Open XML file.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/FileIo.h"
#include "platform/MessageService.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"
#include "spreadsheet/XlsWrite.h"

namespace {

std::uint8_t AlignOf(std::int32_t code) {
  switch (code) {
    case kAlignLeft: return LXW_ALIGN_LEFT;
    case kAlignCenter: return LXW_ALIGN_CENTER;
    case kAlignRight: return LXW_ALIGN_RIGHT;
    case kAlignFill: return LXW_ALIGN_FILL;
    case kAlignJustify: return LXW_ALIGN_JUSTIFY;
    case kAlignCenterAcross: return LXW_ALIGN_CENTER_ACROSS;
    default: return LXW_ALIGN_NONE;
  }
}

QString LxwText(lxw_error e) { return QString::fromUtf8(lxw_strerror(e)); }

void Check(lxw_error e, const QString& what) {
  if (e != LXW_NO_ERROR) throw ESpreadsheetError(QStringLiteral("%1：%2").arg(what, LxwText(e)));
}

// Sheet names must be unique, at most 31 characters and free of []:*?/\ .
QString SafeSheetName(const QString& name, int index, const QStringList& taken) {
  QString s = name;
  for (const QChar bad : QStringLiteral("[]:*?/\\")) s.replace(bad, QLatin1Char('_'));
  s = s.left(31);
  if (s.isEmpty() || taken.contains(s, Qt::CaseInsensitive)) s = QStringLiteral("Sheet%1").arg(index + 1);
  return s;
}

// Writes one sheet: the sheet-wide format on every column and every cell.
void WriteSheet(lxw_workbook* wb, const TSheet& sheet, const QString& name) {
  const QByteArray nameUtf8 = name.toUtf8();
  lxw_worksheet* ws = workbook_add_worksheet(wb, nameUtf8.constData());
  if (!ws) throw ESpreadsheetError(QStringLiteral("无法建立工作表'%1'").arg(name));

  lxw_format* fmt = nullptr;
  const bool general = sheet.numberFormat.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0;
  if (sheet.align != kAlignGeneral || !general) {
    fmt = workbook_add_format(wb);
    if (sheet.align != kAlignGeneral) format_set_align(fmt, AlignOf(sheet.align));
    if (sheet.numberFormat == QLatin1String("@")) {
      format_set_num_format_index(fmt, 49);  // the built-in text format "@"
    } else if (!general) {
      const QByteArray nf = sheet.numberFormat.toUtf8();
      format_set_num_format(fmt, nf.constData());
    }
  }

  // Columns: runs of equal width, the overrides between them, up to the last
  // column of the sheet when a format applies to all of them.
  const bool allColumns = fmt != nullptr || sheet.defaultWidth != kStandardColumnWidth;
  const int lastCol = allColumns ? kMaxSheetColumns - 1 : (sheet.widths.empty() ? -1 : sheet.widths.rbegin()->first);
  int c = 0;
  while (c <= lastCol) {
    const double w = sheet.ColumnWidth(c);
    int end = c;
    if (sheet.widths.count(c) == 0) {
      // a default run ends before the next override
      auto next = sheet.widths.upper_bound(c);
      end = next == sheet.widths.end() ? lastCol : next->first - 1;
    }
    if (allColumns || sheet.widths.count(c) != 0) {
      Check(worksheet_set_column(ws, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(end), w, fmt),
            QStringLiteral("无法设置列宽"));
    }
    c = end + 1;
  }

  for (size_t r = 0; r < sheet.rows.size(); ++r) {
    const auto& row = sheet.rows[r];
    for (size_t k = 0; k < row.size(); ++k) {
      const TSheetCell& cell = row[k];
      const auto rr = static_cast<lxw_row_t>(r);
      const auto cc = static_cast<lxw_col_t>(k);
      switch (cell.kind) {
        case TSheetCell::Kind::Empty:
          break;
        case TSheetCell::Kind::Text: {
          const QByteArray t = sheet.Text(cell).toUtf8();
          Check(worksheet_write_string(ws, rr, cc, t.constData(), fmt), QStringLiteral("无法写入单元格"));
          break;
        }
        case TSheetCell::Kind::Number:
          Check(worksheet_write_number(ws, rr, cc, sheet.Number(cell), fmt), QStringLiteral("无法写入单元格"));
          break;
        case TSheetCell::Kind::Boolean:
          Check(worksheet_write_boolean(ws, rr, cc, cell.index != 0 ? 1 : 0, fmt),
                QStringLiteral("无法写入单元格"));
          break;
      }
    }
  }
}

}  // namespace

void WriteWorkbookFile(const TWorkbook& book, const QString& fileName) {
  const QFileInfo target(fileName);
  const QString dir = target.absolutePath();
  if (!QFileInfo(dir).isDir()) {
    throw ESpreadsheetError(QStringLiteral("无法保存文件'%1'：文件夹不存在").arg(fileName));
  }
  if (target.isDir()) throw ESpreadsheetError(QStringLiteral("无法保存文件'%1'：这是一个文件夹").arg(fileName));

  // The library writes a temporary file beside the target; it replaces the
  // target only when the whole workbook is on disk.
  std::unique_ptr<TFileReplacement> replacement;
  try {
    replacement = std::make_unique<TFileReplacement>(fileName);
  } catch (const EAppError& e) {
    throw ESpreadsheetError(e.Text());
  }
  const QByteArray tempPath = QFile::encodeName(replacement->TempName());

  // A name ending in .xls gets the Excel 97-2003 format, so that no program
  // warns that the format and the name do not match.
  if (fileName.endsWith(QLatin1String(".xls"), Qt::CaseInsensitive)) {
    const QByteArray bytes = XlsFileBytes(book);
    try {
      ReplaceFileContents(replacement->TempName(), bytes);
      replacement->Commit();
    } catch (const EAppError& e) {
      throw ESpreadsheetError(e.Text());
    }
    return;
  }

  lxw_workbook_options options{};
  options.constant_memory = LXW_FALSE;
  QByteArray tmpdir = QFile::encodeName(QDir::tempPath());
  options.tmpdir = tmpdir.data();
  options.use_zip64 = LXW_FALSE;
  lxw_workbook* wb = workbook_new_opt(tempPath.constData(), &options);
  if (!wb) throw ESpreadsheetError(QStringLiteral("无法保存文件'%1'").arg(fileName));
  try {
    QStringList taken;
    if (book.sheets.empty()) {
      WriteSheet(wb, TSheet{}, QStringLiteral("Sheet1"));
    }
    for (size_t i = 0; i < book.sheets.size(); ++i) {
      const QString name = SafeSheetName(book.sheets[i].name, static_cast<int>(i), taken);
      taken << name;
      WriteSheet(wb, book.sheets[i], name);
    }
  } catch (...) {
    workbook_close(wb);
    throw;
  }
  errno = 0;
  const lxw_error e = workbook_close(wb);
  if (e != LXW_NO_ERROR) {
    const int err = errno;
    QString why = LxwText(e);
    if (err != 0) why = ErrnoText(err) + QStringLiteral("，") + why;
    throw ESpreadsheetError(QStringLiteral("无法保存文件'%1'：%2").arg(fileName, why));
  }
  try {
    replacement->Commit();
  } catch (const EAppError& e) {
    throw ESpreadsheetError(e.Text());
  }
}
