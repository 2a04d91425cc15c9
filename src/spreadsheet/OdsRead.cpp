// OpenDocument spreadsheets (.ods), read after OASIS OpenDocument 1.2 part 1
// (19.385 office:value-type, 9.1 tables): the active table is named in the
// view settings of settings.xml; content.xml is read token by token, and a
// repeated empty row or cell only moves the position.
#include <algorithm>
#include <vector>

#include "spreadsheet/NumberFormat.h"
#include "spreadsheet/SheetReaders.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/ZipXml.h"

namespace {

// A count of the attribute (1 when it has none), cut to limit.
std::int64_t Count(const TZipXml& x, const char* attr, std::int64_t limit) {
  const QByteArrayView v = x.AttrRaw(attr);
  if (v.isEmpty()) return 1;
  bool ok = false;
  const std::int64_t n = v.toLongLong(&ok);
  if (!ok || n < 1) return 1;
  return std::min(n, limit);
}

// A repeat count of rows or cells; counts beyond any sheet are cut to what a
// sheet holds, so that positions never overflow.
std::int64_t Repeat(const TZipXml& x, const char* attr) { return Count(x, attr, kMaxSheetRows); }

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
// its count of blanks, text:tab as a tab. A text longer than the sheet's
// budget can hold is refused as it grows.
QString CellText(TZipXml& x, const TSheetBudget& budget) {
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
          // As many blanks as the count says, if the budget holds them.
          const std::int64_t blanks = Count(x, "c", kMaxSheetBytes);
          budget.Check(TSheetBudget::TextBytes(text.size() + blanks));
          text += QString(qsizetype(blanks), u' ');
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
      case TZipXml::Text:
        text += x.TextValue();
        budget.Check(TSheetBudget::TextBytes(text.size()));
        break;
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

TOdsValue CellValue(TZipXml& x, const TSheetBudget& budget, const TReadOptions& options) {
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
  const QString text = CellText(x, budget);  // reads to the end of the cell
  if (v.kind == TOdsValue::Number && options.shownNumbers && !text.isEmpty()) {
    // The paragraph holds the number as the sheet shows it, unit and all.
    v.kind = TOdsValue::Text;
    v.text = text;
    return v;
  }
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
std::unique_ptr<TWorkbook> ReadTables(const TZipArchive& zip, const QString& activeName, const TReadOptions& options) {
  auto book = std::make_unique<TWorkbook>();
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
    s.budget.SetLimit(kMaxSheetBytes);
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
        std::uint32_t index = 0;  // the text's or number's index in the sheet
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
        TOdsValue v = CellValue(x, s.budget, options);
        if (v.kind != TOdsValue::None) {
          // A value beyond the last column is refused at once, so a row
          // holds at most a sheet's width of values.
          CheckCellPlace(0, col + colRepeat - 1);
          anyValue = true;
          cells.push_back(TPlaced{col, colRepeat, std::move(v)});
        }
        col = std::min<std::int64_t>(col + colRepeat, kMaxSheetColumns + 1);
      }
      if (anyValue) {
        // A repeated row is stored as often as it is repeated: what that
        // takes is checked before the first copy.
        std::int64_t perRow = 0;
        for (const TPlaced& p : cells) {
          perRow += p.repeat * TSheetBudget::kCellBytes;
        }
        CheckCellPlace(row + rowRepeat - 1, 0);
        if (perRow > 0 && rowRepeat > s.budget.Limit() / perRow) s.budget.Check(s.budget.Limit());
        s.budget.Check(perRow * rowRepeat);
        // A value repeated across cells and rows is kept once.
        for (TPlaced& p : cells) {
          if (p.value.kind == TOdsValue::Text) p.index = s.AddText(p.value.text);
          if (p.value.kind == TOdsValue::Number) p.index = s.AddNumber(p.value.number);
        }
        s.ReserveRows(row + rowRepeat - 1);
        for (std::int64_t k = 0; k < rowRepeat; ++k) {
          for (const TPlaced& p : cells) {
            for (std::int64_t c = p.col; c < p.col + p.repeat; ++c) {
              switch (p.value.kind) {
                case TOdsValue::Text: s.SetTextIndex(int(row + k), int(c), p.index); break;
                case TOdsValue::Number: s.SetNumberIndex(int(row + k), int(c), p.index); break;
                case TOdsValue::Boolean: s.SetBoolean(int(row + k), int(c), p.value.boolean); break;
                case TOdsValue::None: break;
              }
            }
          }
        }
      }
      row = std::min<std::int64_t>(row + rowRepeat, kMaxSheetRows + 1);
    }
  }
  if (activeIndex < 0) return nullptr;
  book->activeSheet = activeIndex;
  return book;
}

}  // namespace

std::unique_ptr<TWorkbook> ReadOdsBytes(const QByteArray& bytes, const TReadOptions& options) {
  TZipArchive zip(bytes);
  if (!zip.Has(QStringLiteral("content.xml"))) throw ESpreadsheetError(QStringLiteral("压缩包中没有表格内容"));
  const QString activeName = ActiveTableName(zip);
  std::unique_ptr<TWorkbook> book = ReadTables(zip, activeName, options);
  // Settings that name no table of the file: the first table is active.
  if (!book && !activeName.isEmpty()) book = ReadTables(zip, QString(), options);
  if (!book) book = std::make_unique<TWorkbook>();
  return book;
}
