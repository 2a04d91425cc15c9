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

bool Is(const QXmlStreamReader& x, QLatin1String local) { return x.name() == local; }

QStringView AttrView(const QXmlStreamReader& x, QLatin1String local) {
  for (const QXmlStreamAttribute& a : x.attributes()) {
    if (a.name() == local) return a.value();
  }
  return {};
}

bool HasAttr(const QXmlStreamReader& x, QLatin1String local) {
  for (const QXmlStreamAttribute& a : x.attributes()) {
    if (a.name() == local) return true;
  }
  return false;
}

std::int64_t Repeat(const QXmlStreamReader& x, QLatin1String attr) {
  const QStringView v = AttrView(x, attr);
  if (v.isEmpty()) return 1;
  bool ok = false;
  const std::int64_t n = v.toLongLong(&ok);
  return ok && n > 0 ? n : 1;
}

QString ActiveTableName(const TZipArchive& zip) {
  if (!zip.Has(QStringLiteral("settings.xml"))) return {};
  TZipXml x(zip, QStringLiteral("settings.xml"));
  while (x.Next() != QXmlStreamReader::EndDocument) {
    if (x.Xml().isStartElement() && Is(x.Xml(), QLatin1String("config-item")) &&
        AttrView(x.Xml(), QLatin1String("name")) == u"ActiveTable") {
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
      case QXmlStreamReader::StartElement: {
        const QXmlStreamReader& r = x.Xml();
        ++depth;
        if (Is(r, QLatin1String("p")) || Is(r, QLatin1String("h"))) {
          if (paragraphs++ > 0) text += u'\n';
        } else if (Is(r, QLatin1String("s"))) {
          text += QString(int(Repeat(r, QLatin1String("c"))), u' ');
        } else if (Is(r, QLatin1String("tab"))) {
          text += u'\t';
        } else if (Is(r, QLatin1String("line-break"))) {
          text += u'\n';
        } else if (Is(r, QLatin1String("annotation")) || Is(r, QLatin1String("note"))) {
          x.Skip();  // a comment is not the cell's text
          --depth;
        }
        break;
      }
      case QXmlStreamReader::EndElement: --depth; break;
      case QXmlStreamReader::Characters: text += x.Xml().text(); break;
      case QXmlStreamReader::EndDocument: return text;
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
  const QXmlStreamReader& r = x.Xml();
  TOdsValue v;
  const QString type = AttrView(r, QLatin1String("value-type")).toString();
  const QString value = AttrView(r, QLatin1String("value")).toString();
  if (type == QLatin1String("float") || type == QLatin1String("percentage") || type == QLatin1String("currency")) {
    bool ok = false;
    v.number = value.toDouble(&ok);
    if (ok) v.kind = TOdsValue::Number;
  } else if (type == QLatin1String("date")) {
    v.text = IsoDateText(AttrView(r, QLatin1String("date-value")).toString());
    if (!v.text.isEmpty()) v.kind = TOdsValue::Text;
  } else if (type == QLatin1String("time")) {
    v.text = IsoTimeText(AttrView(r, QLatin1String("time-value")).toString());
    if (!v.text.isEmpty()) v.kind = TOdsValue::Text;
  } else if (type == QLatin1String("boolean")) {
    const QStringView b = AttrView(r, QLatin1String("boolean-value"));
    v.kind = TOdsValue::Boolean;
    v.boolean = b == u"true" || b == u"1";
  }
  const bool stringValue = HasAttr(r, QLatin1String("string-value"));
  QString stored = AttrView(r, QLatin1String("string-value")).toString();
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
  while (x.Next() != QXmlStreamReader::EndDocument) {
    if (!x.Xml().isStartElement() || !Is(x.Xml(), QLatin1String("table"))) continue;
    TSheet sheet;
    const QString name = AttrView(x.Xml(), QLatin1String("name")).toString();
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
      if (t == QXmlStreamReader::EndDocument) break;
      if (t == QXmlStreamReader::EndElement) {
        --depth;
        continue;
      }
      if (t != QXmlStreamReader::StartElement) continue;
      const QXmlStreamReader& r = x.Xml();
      if (!Is(r, QLatin1String("table-row"))) {
        // Row groups and header rows hold rows; columns, shapes and the like do not.
        if (Is(r, QLatin1String("table-row-group")) || Is(r, QLatin1String("table-header-rows")) ||
            Is(r, QLatin1String("table-rows"))) {
          ++depth;
        } else {
          x.Skip();
        }
        continue;
      }
      const std::int64_t rowRepeat = Repeat(r, QLatin1String("number-rows-repeated"));
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
        if (u == QXmlStreamReader::EndDocument) break;
        if (u == QXmlStreamReader::EndElement) {
          --rowDepth;
          continue;
        }
        if (u != QXmlStreamReader::StartElement) continue;
        if (!Is(r, QLatin1String("table-cell")) && !Is(r, QLatin1String("covered-table-cell"))) {
          x.Skip();
          continue;
        }
        const std::int64_t colRepeat = Repeat(r, QLatin1String("number-columns-repeated"));
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
