// OpenDocument spreadsheets (.ods), read after OASIS OpenDocument 1.2 part 1
// (19.385 office:value-type, 9.1 tables): the active table is named in the
// view settings of settings.xml; content.xml is read token by token, and a
// repeated empty row or cell only moves the position.
#include <vector>

#include "spreadsheet/NumberFormat.h"
#include "spreadsheet/SheetReaders.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/ZipXml.h"

namespace {

std::int64_t Repeat(const TZipXml& x, const char* attr) {
  const QByteArrayView v = x.AttrRaw(attr);
  if (v.isEmpty()) return 1;
  bool ok = false;
  const std::int64_t n = v.toLongLong(&ok);
  return ok && n > 0 ? n : 1;
}

QString ActiveTableName(const TZipArchive& zip) {
  if (!zip.Has(QStringLiteral("settings.xml"))) return {};
  TZipXml x(zip, QStringLiteral("settings.xml"));
  for (auto t = x.Next(); t != TZipXml::EndDocument; t = x.Next()) {
    if (t == TZipXml::Start && x.Is("config-item") && x.AttrRaw("name") == "ActiveTable") {
      return x.ElementText();
    }
  }
  return {};
}

// The paragraphs of a cell as text: lines joined by a line break, text:s as
// its count of blanks, text:tab as a tab.
QString CellText(TZipXml& x) {
  QString text;
  int paragraphs = 0;
  int depth = 1;
  while (depth > 0) {
    switch (x.Next()) {
      case TZipXml::Start: {
        ++depth;
        if (x.Is("p") || x.Is("h")) {
          if (paragraphs++ > 0) text += u'\n';
        } else if (x.Is("s")) {
          text += QString(int(Repeat(x, "c")), u' ');
        } else if (x.Is("tab")) {
          text += u'\t';
        } else if (x.Is("line-break")) {
          text += u'\n';
        } else if (x.Is("annotation") || x.Is("note")) {
          x.Skip();  // a comment is not the cell's text
          --depth;
        }
        break;
      }
      case TZipXml::End: --depth; break;
      case TZipXml::Text: text += x.TextValue(); break;
      case TZipXml::EndDocument: return text;
      default: break;
    }
  }
  return text;
}

// The shown value of a cell from its attributes, or its text for strings.
struct TOdsValue {
  enum { None, Text, Number, Boolean } kind = None;
  QString text;
  double number = 0;
  bool boolean = false;
};

TOdsValue CellValue(TZipXml& x, bool empty) {
  TOdsValue v;
  const QString type = x.Attr("value-type");
  const QString value = x.Attr("value");
  if (type == QLatin1String("float") || type == QLatin1String("percentage") || type == QLatin1String("currency")) {
    bool ok = false;
    v.number = value.toDouble(&ok);
    if (ok) v.kind = TOdsValue::Number;
  } else if (type == QLatin1String("date")) {
    v.text = IsoDateText(x.Attr("date-value"));
    if (!v.text.isEmpty()) v.kind = TOdsValue::Text;
  } else if (type == QLatin1String("time")) {
    v.text = IsoTimeText(x.Attr("time-value"));
    if (!v.text.isEmpty()) v.kind = TOdsValue::Text;
  } else if (type == QLatin1String("boolean")) {
    const QByteArrayView b = x.AttrRaw("boolean-value");
    v.kind = TOdsValue::Boolean;
    v.boolean = b == "true" || b == "1";
  }
  const bool stringValue = x.HasAttr("string-value");
  QString stored = x.Attr("string-value");
  QString text;
  if (!empty) text = CellText(x);  // reads to the end of the cell
  if (v.kind == TOdsValue::None && !type.isEmpty() && type != QLatin1String("void")) {
    // Strings, and errors of formulas (their text is what the cell shows).
    v.text = stringValue && !stored.isEmpty() ? stored : text;
    if (!v.text.isEmpty()) v.kind = TOdsValue::Text;
  } else if (v.kind == TOdsValue::None && !text.isEmpty()) {
    v.text = text;
    v.kind = TOdsValue::Text;
  }
  return v;
}

// The tables of content.xml; the cells of the one named activeName, or of
// the first when activeName is empty.
std::unique_ptr<TWorkbook> ReadTables(const TZipArchive& zip, const QString& activeName) {
  auto book = std::make_unique<TWorkbook>();
  TCellBudget budget;
  TZipXml x(zip, QStringLiteral("content.xml"));
  int activeIndex = -1;
  for (auto tok = x.Next(); tok != TZipXml::EndDocument; tok = x.Next()) {
    if (tok != TZipXml::Start || !x.Is("table")) continue;
    TSheet sheet;
    const QString name = x.Attr("name");
    if (!name.isEmpty()) sheet.name = name;
    const int index = int(book->sheets.size());
    const bool active = activeIndex < 0 && (activeName.isEmpty() ? index == 0 : name == activeName);
    book->sheets.push_back(std::move(sheet));
    if (!active) {
      x.Skip();
      continue;
    }
    activeIndex = index;
    TSheet& s = book->sheets.back();
    std::int64_t row = 0;
    int depth = 1;
    while (depth > 0) {
      const auto t = x.Next();
      if (t == TZipXml::EndDocument) break;
      if (t == TZipXml::End) {
        --depth;
        continue;
      }
      if (t != TZipXml::Start) continue;
      if (!x.Is("table-row")) {
        // Row groups and header rows hold rows; columns, shapes and the like do not.
        if (x.Is("table-row-group") || x.Is("table-header-rows") ||
            x.Is("table-rows")) {
          ++depth;
        } else {
          x.Skip();
        }
        continue;
      }
      const std::int64_t rowRepeat = Repeat(x, "number-rows-repeated");
      // The cells of the row, as (column, value, repeat) for a repeated row.
      std::int64_t col = 0;
      bool anyValue = false;
      struct TPlaced {
        std::int64_t col;
        std::int64_t repeat;
        TOdsValue value;
      };
      std::vector<TPlaced> cells;
      int rowDepth = 1;
      while (rowDepth > 0) {
        const auto u = x.Next();
        if (u == TZipXml::EndDocument) break;
        if (u == TZipXml::End) {
          --rowDepth;
          continue;
        }
        if (u != TZipXml::Start) continue;
        if (!x.Is("table-cell") && !x.Is("covered-table-cell")) {
          x.Skip();
          continue;
        }
        const std::int64_t colRepeat = Repeat(x, "number-columns-repeated");
        TOdsValue v = CellValue(x, false);
        if (v.kind != TOdsValue::None) {
          anyValue = true;
          cells.push_back(TPlaced{col, colRepeat, std::move(v)});
        }
        col += colRepeat;
      }
      if (anyValue) {
        for (std::int64_t k = 0; k < rowRepeat; ++k) {
          for (const TPlaced& p : cells) {
            for (std::int64_t c = p.col; c < p.col + p.repeat; ++c) {
              budget.Take(row + k, c);
              switch (p.value.kind) {
                case TOdsValue::Text: s.SetText(int(row + k), int(c), p.value.text); break;
                case TOdsValue::Number: s.SetNumber(int(row + k), int(c), p.value.number); break;
                case TOdsValue::Boolean: s.SetBoolean(int(row + k), int(c), p.value.boolean); break;
                case TOdsValue::None: break;
              }
            }
          }
        }
      }
      row += rowRepeat;
    }
  }
  if (activeIndex < 0) return nullptr;
  book->activeSheet = activeIndex;
  return book;
}

}  // namespace

std::unique_ptr<TWorkbook> ReadOdsBytes(const QByteArray& bytes) {
  TZipArchive zip(bytes);
  if (!zip.Has(QStringLiteral("content.xml"))) throw ESpreadsheetError(QStringLiteral("压缩包中没有表格内容"));
  const QString activeName = ActiveTableName(zip);
  std::unique_ptr<TWorkbook> book = ReadTables(zip, activeName);
  // Settings that name no table of the file: the first table is active.
  if (!book && !activeName.isEmpty()) book = ReadTables(zip, QString());
  if (!book) book = std::make_unique<TWorkbook>();
  return book;
}
