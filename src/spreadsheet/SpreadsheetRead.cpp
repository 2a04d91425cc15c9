// Reading workbook files into the embedded engine. The format is told from
// the file's content, never from its name:
//   D0 CF 11 E0 A1 B1 1A E1     binary Excel 97-2003 (compound file), freexl
//   zip with OOXML parts         Office Open XML workbook, liborcus
//   zip with a "mimetype" entry  OpenDocument spreadsheet, liborcus
//   XML text                     XML spreadsheet 2003, liborcus
#include <QFile>
#include <QFileInfo>

#include <freexl.h>
#include <ixion/address.hpp>
#include <ixion/cell_access.hpp>
#include <ixion/model_context.hpp>
#include <ixion/types.hpp>
#include <orcus/format_detection.hpp>
#include <orcus/orcus_ods.hpp>
#include <orcus/orcus_xls_xml.hpp>
#include <orcus/orcus_xlsx.hpp>
#include <orcus/spreadsheet/document.hpp>
#include <orcus/spreadsheet/factory.hpp>
#include <orcus/spreadsheet/sheet.hpp>

#include <exception>
#include <string_view>

#include "platform/FileIo.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"

namespace {

const unsigned char kCompoundFileMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

QString CannotRead(const QString& fileName, const QString& why) {
  return QStringLiteral("无法读取文件'%1'：%2").arg(fileName, why);
}

TSheetCell TextCell(const QString& s) {
  TSheetCell c;
  c.kind = TSheetCell::Kind::Text;
  c.text = s;
  return c;
}

TSheetCell NumberCell(double v) {
  TSheetCell c;
  c.kind = TSheetCell::Kind::Number;
  c.number = v;
  return c;
}

TSheetCell BooleanCell(bool b) {
  TSheetCell c;
  c.kind = TSheetCell::Kind::Boolean;
  c.number = b ? 1 : 0;
  return c;
}

// ---- liborcus ---------------------------------------------------------------

TSheetCell OrcusCell(const ixion::model_context& cxt, const ixion::abs_address_t& addr) {
  const ixion::cell_access ca = cxt.get_cell_access(addr);
  switch (ca.get_value_type()) {
    case ixion::cell_value_t::string: {
      const std::string_view s = ca.get_string_value();
      if (s.empty()) return {};
      return TextCell(QString::fromUtf8(s.data(), static_cast<int>(s.size())));
    }
    case ixion::cell_value_t::numeric:
      return NumberCell(ca.get_numeric_value());
    case ixion::cell_value_t::boolean:
      return BooleanCell(ca.get_boolean_value());
    default:
      return {};
  }
}

std::unique_ptr<TWorkbook> ReadWithOrcus(const QString& fileName, const QByteArray& bytes,
                                         orcus::format_t format) {
  using namespace orcus::spreadsheet;
  document doc{range_size_t{kMaxSheetRows, kMaxSheetColumns}};
  import_factory factory(doc);
  const std::string_view stream(bytes.constData(), static_cast<size_t>(bytes.size()));
  switch (format) {
    case orcus::format_t::xlsx: {
      orcus::orcus_xlsx filter(&factory);
      filter.read_stream(stream);
      break;
    }
    case orcus::format_t::ods: {
      orcus::orcus_ods filter(&factory);
      filter.read_stream(stream);
      break;
    }
    case orcus::format_t::xls_xml: {
      orcus::orcus_xls_xml filter(&factory);
      filter.read_stream(stream);
      break;
    }
    default:
      throw ESpreadsheetError(CannotRead(fileName, QStringLiteral("不是电子表格文件")));
  }

  auto book = std::make_unique<TWorkbook>();
  const ixion::model_context& cxt = doc.get_model_context();
  for (size_t i = 0; i < doc.get_sheet_count(); ++i) {
    const sheet* sh = doc.get_sheet(static_cast<sheet_t>(i));
    TSheet out;
    const std::string_view name = doc.get_sheet_name(static_cast<sheet_t>(i));
    if (!name.empty()) out.name = QString::fromUtf8(name.data(), static_cast<int>(name.size()));
    if (sh) {
      const ixion::abs_range_t range = sh->get_data_range();
      if (range.valid()) {
        for (ixion::row_t r = range.first.row; r <= range.last.row; ++r) {
          for (ixion::col_t c = range.first.column; c <= range.last.column; ++c) {
            TSheetCell cell = OrcusCell(cxt, ixion::abs_address_t(static_cast<ixion::sheet_t>(i), r, c));
            if (cell.kind != TSheetCell::Kind::Empty) out.Set(r, c, std::move(cell));
          }
        }
      }
    }
    book->sheets.push_back(std::move(out));
  }
  return book;
}

// ---- freexl -----------------------------------------------------------------

class TFreeXl {
 public:
  explicit TFreeXl(const QString& fileName) : FFileName(fileName) {
    const QByteArray path = QFile::encodeName(fileName);
    const int rc = freexl_open(path.constData(), &FHandle);
    if (rc != FREEXL_OK) {
      FHandle = nullptr;
      throw ESpreadsheetError(CannotRead(fileName, QStringLiteral("Excel 97-2003 工作簿格式错误（%1）").arg(rc)));
    }
  }
  ~TFreeXl() {
    if (FHandle) freexl_close(FHandle);
  }
  TFreeXl(const TFreeXl&) = delete;
  TFreeXl& operator=(const TFreeXl&) = delete;

  void Check(int rc) const {
    if (rc != FREEXL_OK) {
      throw ESpreadsheetError(CannotRead(FFileName, QStringLiteral("Excel 97-2003 工作簿格式错误（%1）").arg(rc)));
    }
  }

  std::unique_ptr<TWorkbook> Read() {
    auto book = std::make_unique<TWorkbook>();
    unsigned int sheetCount = 0;
    Check(freexl_get_info(FHandle, FREEXL_BIFF_SHEET_COUNT, &sheetCount));
    for (unsigned int i = 0; i < sheetCount; ++i) {
      TSheet out;
      const char* name = nullptr;
      if (freexl_get_worksheet_name(FHandle, static_cast<unsigned short>(i), &name) == FREEXL_OK && name) {
        out.name = QString::fromUtf8(name);
      }
      Check(freexl_select_active_worksheet(FHandle, static_cast<unsigned short>(i)));
      unsigned int rows = 0;
      unsigned short cols = 0;
      Check(freexl_worksheet_dimensions(FHandle, &rows, &cols));
      for (unsigned int r = 0; r < rows; ++r) {
        for (unsigned short c = 0; c < cols; ++c) {
          FreeXL_CellValue v;
          Check(freexl_get_cell_value(FHandle, r, c, &v));
          TSheetCell cell;
          switch (v.type) {
            case FREEXL_CELL_INT: cell = NumberCell(v.value.int_value); break;
            case FREEXL_CELL_DOUBLE: cell = NumberCell(v.value.double_value); break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
            case FREEXL_CELL_TIME:
              if (v.value.text_value && *v.value.text_value) cell = TextCell(QString::fromUtf8(v.value.text_value));
              break;
            default: break;
          }
          if (cell.kind != TSheetCell::Kind::Empty) out.Set(static_cast<int>(r), c, std::move(cell));
        }
      }
      book->sheets.push_back(std::move(out));
    }
    return book;
  }

 private:
  QString FFileName;
  const void* FHandle = nullptr;
};

}  // namespace

std::unique_ptr<TWorkbook> ReadWorkbookFile(const QString& fileName) {
  if (!QFileInfo(fileName).isFile()) throw ESpreadsheetError(CannotRead(fileName, QStringLiteral("文件不存在")));
  QByteArray bytes;
  int err = 0;
  if (!ReadWholeFile(fileName, bytes, err)) throw ESpreadsheetError(CannotReadText(fileName, err));

  std::unique_ptr<TWorkbook> book;
  try {
    if (bytes.size() >= 8 && memcmp(bytes.constData(), kCompoundFileMagic, 8) == 0) {
      book = TFreeXl(fileName).Read();
    } else {
      const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
      const orcus::format_t format = orcus::detect(data, static_cast<size_t>(bytes.size()));
      book = ReadWithOrcus(fileName, bytes, format);
    }
  } catch (const ESpreadsheetError&) {
    throw;
  } catch (const std::exception& e) {
    throw ESpreadsheetError(CannotRead(fileName, QString::fromUtf8(e.what())));
  }
  if (book->sheets.empty()) book->sheets.emplace_back();
  book->fileName = QFileInfo(fileName).absoluteFilePath();
  return book;
}
