// Office Open XML workbooks (.xlsx, .xlsm), read after ECMA-376 part 1:
// the package relationships lead to the workbook, its relationships to the
// shared strings, the styles and the sheets. Only the active sheet's cells
// are read, token by token, as the member inflates.
#include <QHash>

#include <algorithm>
#include <vector>

#include "spreadsheet/NumberFormat.h"
#include "spreadsheet/SheetReaders.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/ZipXml.h"

namespace {

bool TrueText(QByteArrayView v) { return v == "1" || v == "true"; }

// "_x000D_" and the like stand for characters XML cannot hold.
QString DecodeEscapes(const QString& s) {
  if (!s.contains(QLatin1String("_x"))) return s;
  QString out;
  out.reserve(s.size());
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (s[i] == u'_' && i + 6 < s.size() && s[i + 1] == u'x' && s[i + 6] == u'_') {
      bool ok = false;
      const uint code = QStringView(s).mid(i + 2, 4).toUInt(&ok, 16);
      if (ok) {
        out += QChar(char16_t(code));
        i += 6;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

// "AB12" -> column 27 and row 11 (0-based); false for anything else.
bool CellReference(QByteArrayView r, std::int64_t& row, std::int64_t& col) {
  qsizetype i = 0;
  std::int64_t c = 0;
  while (i < r.size() && ((r[i] >= 'A' && r[i] <= 'Z') || (r[i] >= 'a' && r[i] <= 'z'))) {
    c = c * 26 + ((r[i] & ~0x20) - 'A' + 1);
    if (c > 1'000'000) return false;
    ++i;
  }
  if (i == 0 || i == r.size()) return false;
  std::int64_t n = 0;
  for (; i < r.size(); ++i) {
    if (r[i] < '0' || r[i] > '9') return false;
    n = n * 10 + (r[i] - '0');
    if (n > 1'000'000'000) return false;
  }
  if (n < 1) return false;
  row = n - 1;
  col = c - 1;
  return true;
}

struct TRelation {
  QString type;
  QString target;
};

// Id -> relation of a part's relationships.
QHash<QString, TRelation> ReadRelations(const TZipArchive& zip, const QString& part) {
  const int slash = int(part.lastIndexOf(u'/'));
  const QString relsName = part.left(slash + 1) + QStringLiteral("_rels/") + part.mid(slash + 1) +
                           QStringLiteral(".rels");
  QHash<QString, TRelation> out;
  if (!zip.Has(relsName)) return out;
  TZipXml x(zip, relsName);
  for (auto t = x.Next(); t != TZipXml::EndDocument; t = x.Next()) {
    if (t == TZipXml::Start && x.Is("Relationship")) {
      if (x.Attr("TargetMode") == QLatin1String("External")) continue;
      out.insert(x.Attr("Id"),
                 TRelation{x.Attr("Type"),
                           ResolvePartName(part, x.Attr("Target"))});
    }
  }
  return out;
}

QString RelationOfType(const QHash<QString, TRelation>& rels, QLatin1String typeEnd) {
  for (const TRelation& r : rels) {
    if (r.type.endsWith(typeEnd)) return r.target;
  }
  return {};
}

// The text of an <si> or <is>: its <t>, or the <t> of every run, leaving out
// phonetic guides.
QString StringItem(TZipXml& x) {
  QString text;
  int depth = 1;
  int phonetic = 0;
  while (depth > 0) {
    switch (x.Next()) {
      case TZipXml::Start:
        ++depth;
        if (x.Is("rPh") || x.Is("phoneticPr")) {
          ++phonetic;
        } else if (x.Is("t") && phonetic == 0) {
          text += x.ElementText(TZipXml::kMaxElementText - text.size());
          --depth;
        }
        break;
      case TZipXml::End:
        --depth;
        if (x.Is("rPh") || x.Is("phoneticPr")) --phonetic;
        break;
      case TZipXml::EndDocument: return DecodeEscapes(text);
      default: break;
    }
  }
  return DecodeEscapes(text);
}

// The shared strings, counted in the sheet's budget: they become its texts.
std::vector<QString> ReadSharedStrings(const TZipArchive& zip, const QString& part, TSheetBudget& budget) {
  std::vector<QString> out;
  if (part.isEmpty() || !zip.Has(part)) return out;
  TZipXml x(zip, part);
  for (auto t = x.Next(); t != TZipXml::EndDocument; t = x.Next()) {
    if (t != TZipXml::Start || !x.Is("si")) continue;
    out.push_back(StringItem(x));
    budget.Charge(TSheetBudget::TextBytes(out.back().size()));
  }
  return out;
}

// What each cell style (the s attribute of a cell) makes of a number.
std::vector<TCellFormat> ReadStyles(const TZipArchive& zip, const QString& part) {
  std::vector<TCellFormat> out;
  if (part.isEmpty() || !zip.Has(part)) return out;
  QHash<int, TCellFormat> custom;
  TZipXml x(zip, part);
  bool inCellXfs = false;
  for (auto t = x.Next(); t != TZipXml::EndDocument; t = x.Next()) {
    if (t == TZipXml::Start) {
      if (x.Is("numFmt")) {
        custom.insert(x.AttrRaw("numFmtId").toInt(), FormatOfCode(x.Attr("formatCode")));
      } else if (x.Is("cellXfs")) {
        inCellXfs = true;
      } else if (inCellXfs && x.Is("xf")) {
        const int id = x.AttrRaw("numFmtId").toInt();
        const auto it = custom.constFind(id);
        out.push_back(it != custom.cend() ? *it : BuiltInFormat(id));
        x.Skip();
      }
    } else if (t == TZipXml::End && x.Is("cellXfs")) {
      inCellXfs = false;
    }
  }
  return out;
}

struct TSheetEntry {
  QString name;
  QString part;
};

struct TWorkbookPart {
  std::vector<TSheetEntry> sheets;
  int activeTab = 0;
  bool date1904 = false;
};

TWorkbookPart ReadWorkbookPart(const TZipArchive& zip, const QString& part,
                               const QHash<QString, TRelation>& rels) {
  TWorkbookPart out;
  TZipXml x(zip, part);
  for (auto t = x.Next(); t != TZipXml::EndDocument; t = x.Next()) {
    if (t != TZipXml::Start) continue;
    if (x.Is("workbookPr")) {
      out.date1904 = TrueText(x.AttrRaw("date1904"));
    } else if (x.Is("workbookView")) {
      out.activeTab = x.AttrRaw("activeTab").toInt();
    } else if (x.Is("sheet")) {
      const QString id = x.Attr("id");  // r:id
      const auto rel = rels.constFind(id);
      out.sheets.push_back(TSheetEntry{x.Attr("name"), rel != rels.cend() ? rel->target : QString()});
    } else if (x.Is("definedNames")) {
      x.Skip();
    }
  }
  return out;
}

void ReadSheetCells(const TZipArchive& zip, const QString& part, TSheet& sheet, std::vector<QString>& shared,
                    const std::vector<TCellFormat>& styles, bool date1904, const TReadOptions& options) {
  // The shared strings become the sheet's texts: a cell refers to its
  // string by the same index, and equal texts share one copy.
  sheet.texts = std::move(shared);
  const auto sharedCount = std::int64_t(sheet.texts.size());
  TZipXml x(zip, part);
  std::int64_t row = -1;
  std::int64_t col = -1;
  for (auto tok = x.Next(); tok != TZipXml::EndDocument; tok = x.Next()) {
    if (tok != TZipXml::Start) continue;
    if (x.Is("row")) {
      sheet.FinishRow(row);
      const QByteArrayView n = x.AttrRaw("r");
      if (!n.isEmpty()) {
        bool ok = false;
        const std::int64_t v = n.toLongLong(&ok);
        if (!ok || v < 1) throw ESpreadsheetError(QStringLiteral("行号“%1”不正确").arg(QString::fromUtf8(n)));
        row = v - 1;
      } else {
        ++row;
      }
      col = -1;
      continue;
    }
    if (!x.Is("c")) continue;
    const QByteArrayView ref = x.AttrRaw("r");
    if (!ref.isEmpty()) {
      std::int64_t rr = 0;
      if (!CellReference(ref, rr, col)) {
        throw ESpreadsheetError(QStringLiteral("单元格地址“%1”不正确").arg(QString::fromUtf8(ref)));
      }
      row = rr;
    } else {
      ++col;
    }
    if (row < 0) row = 0;
    // "s", "str", "inlineStr", "b", "e", "d", "n" (the default).
    const QByteArray type = x.AttrRaw("t").toByteArray();
    const int style = x.AttrRaw("s").toInt();
    QString value;
    bool hasValue = false;
    QString inlineText;
    bool hasInline = false;
    int depth = 1;
    while (depth > 0) {
      const auto t = x.Next();
      if (t == TZipXml::EndDocument) break;
      if (t == TZipXml::End) {
        --depth;
      } else if (t == TZipXml::Start) {
        if (x.Is("v")) {
          value = x.ElementText();
          hasValue = true;
        } else if (x.Is("is")) {
          inlineText = StringItem(x);
          hasInline = true;
        } else {
          x.Skip();  // the formula and extensions: the cached value is what counts
        }
      }
    }
    const int rowIndex = int(row);
    const int colIndex = int(col);
    if (type == "inlineStr") {
      if (!hasInline || inlineText.isEmpty()) continue;
      CheckCellPlace(row, col);
      sheet.SetText(rowIndex, colIndex, inlineText);
      continue;
    }
    if (!hasValue) continue;
    if (type == "s") {
      bool ok = false;
      const std::int64_t i = value.trimmed().toLongLong(&ok);
      if (!ok || i < 0 || i >= sharedCount) {
        throw ESpreadsheetError(QStringLiteral("单元格引用的共享字符串“%1”不存在").arg(value));
      }
      if (sheet.texts[size_t(i)].isEmpty()) continue;
      CheckCellPlace(row, col);
      sheet.SetTextIndex(rowIndex, colIndex, std::uint32_t(i));
    } else if (type == "str" || type == "e") {
      if (value.isEmpty()) continue;
      CheckCellPlace(row, col);
      sheet.SetText(rowIndex, colIndex, DecodeEscapes(value));
    } else if (type == "b") {
      CheckCellPlace(row, col);
      sheet.SetBoolean(rowIndex, colIndex, TrueText(value.trimmed().toLatin1()));
    } else if (type == "d") {
      const QString text = IsoDateText(value);
      if (text.isEmpty()) continue;
      CheckCellPlace(row, col);
      sheet.SetText(rowIndex, colIndex, text);
    } else {
      bool ok = false;
      const double v = value.trimmed().toDouble(&ok);
      if (!ok) continue;
      CheckCellPlace(row, col);
      static const TCellFormat general;
      PutNumber(sheet, rowIndex, colIndex, v,
                style >= 0 && size_t(style) < styles.size() ? styles[size_t(style)] : general, date1904, options);
    }
  }
  sheet.FinishRow(row);
}

}  // namespace

std::unique_ptr<TWorkbook> ReadXlsxBytes(const QByteArray& bytes, const TReadOptions& options) {
  TZipArchive zip(bytes);
  QString workbookPart = RelationOfType(ReadRelations(zip, QString()), QLatin1String("/officeDocument"));
  if (workbookPart.isEmpty()) workbookPart = QStringLiteral("xl/workbook.xml");
  if (!zip.Has(workbookPart)) {
    if (zip.Has(QStringLiteral("xl/workbook.bin"))) {
      throw ESpreadsheetError(QStringLiteral("不支持二进制工作簿（.xlsb），请在表格程序中另存为 .xlsx"));
    }
    throw ESpreadsheetError(QStringLiteral("压缩包中没有工作簿"));
  }
  const QHash<QString, TRelation> rels = ReadRelations(zip, workbookPart);
  const TWorkbookPart wb = ReadWorkbookPart(zip, workbookPart, rels);
  auto book = std::make_unique<TWorkbook>();
  for (const TSheetEntry& e : wb.sheets) {
    TSheet s;
    if (!e.name.isEmpty()) s.name = e.name;
    book->sheets.push_back(std::move(s));
  }
  if (wb.sheets.empty()) return book;
  const int active = wb.activeTab >= 0 && size_t(wb.activeTab) < wb.sheets.size() ? wb.activeTab : 0;
  book->activeSheet = active;
  const QString sheetPart = wb.sheets[size_t(active)].part;
  if (sheetPart.isEmpty() || !zip.Has(sheetPart)) {
    throw ESpreadsheetError(QStringLiteral("工作表“%1”不在文件中").arg(wb.sheets[size_t(active)].name));
  }
  TSheet& sheet = book->sheets[size_t(active)];
  sheet.budget.SetLimit(kMaxSheetBytes);
  std::vector<QString> shared =
      ReadSharedStrings(zip, RelationOfType(rels, QLatin1String("/sharedStrings")), sheet.budget);
  const std::vector<TCellFormat> styles = ReadStyles(zip, RelationOfType(rels, QLatin1String("/styles")));
  ReadSheetCells(zip, sheetPart, sheet, shared, styles, wb.date1904, options);
  return book;
}
