// XML Spreadsheet 2003 (the "XML 表格" of Excel 2002/2003): Workbook,
// ExcelWorkbook/ActiveSheet (0-based), Styles/Style/NumberFormat, and
// Worksheet/Table/Row/Cell/Data with ss:Index for skipped rows and cells.
#include <QHash>

#include <algorithm>

#include "spreadsheet/NumberFormat.h"
#include "spreadsheet/SheetReaders.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/XmlPull.h"

namespace {

const QString kPart = QStringLiteral("XML 表格");

// The named formats of this format, then any format code.
TCellFormat NamedFormat(const QString& f) {
  TCellFormat out;
  if (f == QLatin1String("General Date")) {
    out.show = TNumberShow::DateTime;
  } else if (f == QLatin1String("Short Date") || f == QLatin1String("Medium Date") || f == QLatin1String("Long Date")) {
    out.show = TNumberShow::Date;
  } else if (f == QLatin1String("Short Time") || f == QLatin1String("Medium Time") || f == QLatin1String("Long Time")) {
    out.show = TNumberShow::Time;
  } else if (f == QLatin1String("Fixed")) {
    out.code = QStringLiteral("0.00");
  } else if (f == QLatin1String("Standard")) {
    out.code = QStringLiteral("#,##0.00");
  } else if (f == QLatin1String("Percent")) {
    out.code = QStringLiteral("0.00%");
  } else if (f == QLatin1String("Scientific")) {
    out.code = QStringLiteral("0.00E+00");
  } else {
    static const char* const kGeneral[] = {"General", "General Number", "Currency", "Euro Currency", "Yes/No",
                                           "True/False", "On/Off", "@"};
    for (const char* n : kGeneral) {
      if (f == QLatin1String(n)) return out;
    }
    return FormatOfCode(f);
  }
  return out;
}

// A 1-based ss:Index as a 0-based place, or next when there is none. Places
// beyond a sheet are cut to just beyond it: storing a value there is refused.
std::int64_t Index(QByteArrayView v, std::int64_t next, std::int64_t limit) {
  if (v.isEmpty()) return std::min(next, limit);
  bool ok = false;
  const std::int64_t n = v.toLongLong(&ok);
  if (!ok || n < 1) throw ESpreadsheetError(QStringLiteral("位置“%1”不正确").arg(QString::fromUtf8(v)));
  return std::min(n - 1, limit);
}

struct TGlobals {
  int active = 0;
  QHash<QString, TCellFormat> styles;
};

// The first pass: the active sheet and the styles, which may follow the
// sheets; the sheets' names.
TGlobals ReadGlobals(const QByteArray& bytes, TWorkbook& book) {
  TGlobals g;
  TXmlBytes x(bytes, kPart);
  QString style;
  for (auto t = x.Next(); t != TXmlPull::EndDocument; t = x.Next()) {
    if (t != TXmlPull::Start) continue;
    if (x.Is("ActiveSheet")) {
      g.active = x.ElementText().trimmed().toInt();
    } else if (x.Is("Style")) {
      style = x.Attr("ID");
    } else if (x.Is("NumberFormat") && !style.isEmpty()) {
      g.styles.insert(style, NamedFormat(x.Attr("Format")));
    } else if (x.Is("Worksheet")) {
      TSheet s;
      const QString name = x.Attr("Name");
      if (!name.isEmpty()) s.name = name;
      book.sheets.push_back(std::move(s));
      x.Skip();
    }
  }
  return g;
}

// Reads a Cell to its end.
void ReadCell(TXmlPull& x, TSheet& sheet, std::int64_t row, std::int64_t col, const TCellFormat& format,
              const TReadOptions& options) {
  const TNumberShow show = format.show;
  int depth = 1;
  while (depth > 0) {
    const auto t = x.Next();
    if (t == TXmlPull::EndDocument) return;
    if (t == TXmlPull::End) {
      --depth;
      continue;
    }
    if (t != TXmlPull::Start) continue;
    if (!x.Is("Data")) {
      x.Skip();  // comments, named cells
      continue;
    }
    const QByteArray type = x.AttrBytes("Type").toByteArray();
    const QString text = x.ElementText();
    if (text.isEmpty()) continue;
    CheckCellPlace(row, col);
    if (type == "Number") {
      bool ok = false;
      const double v = text.trimmed().toDouble(&ok);
      if (!ok) {
        sheet.SetText(int(row), int(col), text);
      } else {
        PutNumber(sheet, int(row), int(col), v, format, false, options);
      }
    } else if (type == "Boolean") {
      sheet.SetBoolean(int(row), int(col), text.trimmed() == QLatin1String("1"));
    } else if (type == "DateTime") {
      QString shown = IsoDateText(text);
      if (shown.isEmpty()) {
        shown = text;
      } else if (show == TNumberShow::Date) {
        shown = shown.left(8);
      } else if (show == TNumberShow::Time) {
        shown = shown.size() > 8 ? shown.mid(9) : QStringLiteral("00:00");
      }
      sheet.SetText(int(row), int(col), shown);
    } else {
      sheet.SetText(int(row), int(col), text);  // String and Error
    }
  }
}

// The second pass: the cells of the active sheet.
void ReadCells(const QByteArray& bytes, const TGlobals& g, TSheet& sheet, const TReadOptions& options) {
  sheet.budget.SetLimit(kMaxSheetBytes);
  TXmlBytes x(bytes, kPart);
  int worksheet = -1;
  for (auto t = x.Next(); t != TXmlPull::EndDocument; t = x.Next()) {
    if (t != TXmlPull::Start || !x.Is("Worksheet")) continue;
    if (++worksheet != g.active) {
      x.Skip();
      continue;
    }
    std::int64_t row = -1;
    std::int64_t col = -1;
    int depth = 1;
    while (depth > 0) {
      const auto u = x.Next();
      if (u == TXmlPull::EndDocument) return;
      if (u == TXmlPull::End) {
        --depth;
        continue;
      }
      if (u != TXmlPull::Start) continue;
      ++depth;
      if (x.Is("Row")) {
        row = Index(x.AttrBytes("Index"), row + 1, kMaxSheetRows);
        col = -1;
      } else if (x.Is("Cell")) {
        col = Index(x.AttrBytes("Index"), col + 1, kMaxSheetColumns);
        const TCellFormat format = g.styles.value(x.Attr("StyleID"));
        // A merged cell covers the ones to its right.
        const std::int64_t across = std::clamp<std::int64_t>(x.AttrBytes("MergeAcross").toLongLong(), 0, kMaxSheetColumns);
        ReadCell(x, sheet, std::max<std::int64_t>(row, 0), col, format, options);
        --depth;
        col = std::min<std::int64_t>(col + across, kMaxSheetColumns);
      } else if (!x.Is("Table")) {
        x.Skip();
        --depth;
      }
    }
    return;
  }
}

}  // namespace

std::unique_ptr<TWorkbook> ReadXmlSpreadsheetBytes(const QByteArray& bytes, const TReadOptions& options) {
  auto book = std::make_unique<TWorkbook>();
  TGlobals g = ReadGlobals(bytes, *book);
  if (book->sheets.empty()) return book;
  if (g.active < 0 || size_t(g.active) >= book->sheets.size()) g.active = 0;
  book->activeSheet = g.active;
  ReadCells(bytes, g, book->sheets[size_t(g.active)], options);
  return book;
}
