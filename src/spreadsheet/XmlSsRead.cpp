// XML Spreadsheet 2003 (the "XML 表格" of Excel 2002/2003): Workbook,
// ExcelWorkbook/ActiveSheet (0-based), Styles/Style/NumberFormat, and
// Worksheet/Table/Row/Cell/Data with ss:Index for skipped rows and cells.
#include <QHash>
#include <QXmlStreamReader>

#include "spreadsheet/NumberFormat.h"
#include "spreadsheet/SheetReaders.h"
#include "spreadsheet/Spreadsheet.h"

namespace {

QStringView AttrView(const QXmlStreamReader& x, QLatin1String local) {
  for (const QXmlStreamAttribute& a : x.attributes()) {
    if (a.name() == local) return a.value();
  }
  return {};
}

// The named formats of this format, then any format code.
TNumberShow NamedFormatShow(const QString& f) {
  if (f == QLatin1String("General Date")) return TNumberShow::DateTime;
  if (f == QLatin1String("Short Date") || f == QLatin1String("Medium Date") || f == QLatin1String("Long Date")) {
    return TNumberShow::Date;
  }
  if (f == QLatin1String("Short Time") || f == QLatin1String("Medium Time") || f == QLatin1String("Long Time")) {
    return TNumberShow::Time;
  }
  static const char* const kNumbers[] = {"General", "General Number", "Fixed", "Standard", "Percent",
                                         "Scientific", "Currency", "Euro Currency", "Yes/No", "True/False",
                                         "On/Off", "0", "@"};
  for (const char* n : kNumbers) {
    if (f == QLatin1String(n)) return TNumberShow::Number;
  }
  return FormatCodeShow(f);
}

class TReader {
 public:
  explicit TReader(const QByteArray& bytes) : FXml(bytes) {}

  std::unique_ptr<TWorkbook> Read() {
    auto book = std::make_unique<TWorkbook>();
    int active = 0;
    // A first pass finds the active sheet and the styles, which may follow
    // the sheets; the second reads the cells of that sheet alone.
    while (Next()) {
      if (!FXml.isStartElement()) continue;
      if (FXml.name() == QLatin1String("ActiveSheet")) {
        active = FXml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed().toInt();
      } else if (FXml.name() == QLatin1String("Style")) {
        FStyle = AttrView(FXml, QLatin1String("ID")).toString();
      } else if (FXml.name() == QLatin1String("NumberFormat") && !FStyle.isEmpty()) {
        FStyles.insert(FStyle, NamedFormatShow(AttrView(FXml, QLatin1String("Format")).toString()));
      } else if (FXml.name() == QLatin1String("Worksheet")) {
        TSheet s;
        const QString name = AttrView(FXml, QLatin1String("Name")).toString();
        if (!name.isEmpty()) s.name = name;
        book->sheets.push_back(std::move(s));
        FXml.skipCurrentElement();
      }
    }
    if (book->sheets.empty()) return book;
    if (active < 0 || size_t(active) >= book->sheets.size()) active = 0;
    book->activeSheet = active;
    return book;
  }

  void ReadCells(const QByteArray& bytes, TSheet& sheet, int active) {
    FXml.clear();
    FXml.addData(bytes);
    int worksheet = -1;
    while (Next()) {
      if (!FXml.isStartElement() || FXml.name() != QLatin1String("Worksheet")) continue;
      if (++worksheet != active) {
        FXml.skipCurrentElement();
        continue;
      }
      ReadTable(sheet);
      return;
    }
  }

 private:
  bool Next() {
    const auto t = FXml.readNext();
    if (t == QXmlStreamReader::Invalid) {
      throw ESpreadsheetError(
          QStringLiteral("XML 表格格式错误（第%1行：%2）").arg(FXml.lineNumber()).arg(FXml.errorString()));
    }
    return t != QXmlStreamReader::EndDocument;
  }

  static std::int64_t Index(QStringView v, std::int64_t next) {
    if (v.isEmpty()) return next;
    bool ok = false;
    const std::int64_t n = v.toLongLong(&ok);
    if (!ok || n < 1) throw ESpreadsheetError(QStringLiteral("位置“%1”不正确").arg(v.toString()));
    return n - 1;
  }

  void ReadTable(TSheet& sheet) {
    TCellBudget budget;
    std::int64_t row = -1;
    std::int64_t col = -1;
    int depth = 1;
    while (depth > 0 && Next()) {
      if (FXml.isEndElement()) {
        --depth;
        continue;
      }
      if (!FXml.isStartElement()) continue;
      ++depth;
      if (FXml.name() == QLatin1String("Row")) {
        row = Index(AttrView(FXml, QLatin1String("Index")), row + 1);
        col = -1;
      } else if (FXml.name() == QLatin1String("Cell")) {
        col = Index(AttrView(FXml, QLatin1String("Index")), col + 1);
        FCellStyle = AttrView(FXml, QLatin1String("StyleID")).toString();
        // A merged cell covers the ones to its right.
        const std::int64_t across = AttrView(FXml, QLatin1String("MergeAcross")).toLongLong();
        ReadCell(sheet, budget, std::max<std::int64_t>(row, 0), col);
        --depth;
        col += std::max<std::int64_t>(across, 0);
      } else if (FXml.name() != QLatin1String("Table")) {
        FXml.skipCurrentElement();
        --depth;
      }
    }
  }

  // Reads a Cell to its end.
  void ReadCell(TSheet& sheet, TCellBudget& budget, std::int64_t row, std::int64_t col) {
    int depth = 1;
    while (depth > 0 && Next()) {
      if (FXml.isEndElement()) {
        --depth;
        continue;
      }
      if (!FXml.isStartElement()) continue;
      if (FXml.name() != QLatin1String("Data")) {
        FXml.skipCurrentElement();  // comments, named cells
        continue;
      }
      const QString type = AttrView(FXml, QLatin1String("Type")).toString();
      const QString text = FXml.readElementText(QXmlStreamReader::IncludeChildElements);
      if (text.isEmpty()) continue;
      const TNumberShow show = FStyles.value(FCellStyle, TNumberShow::Number);
      budget.Take(row, col);
      if (type == QLatin1String("Number")) {
        bool ok = false;
        const double v = text.trimmed().toDouble(&ok);
        if (!ok) {
          sheet.SetText(int(row), int(col), text);
        } else if (show == TNumberShow::Number) {
          sheet.SetNumber(int(row), int(col), v);
        } else {
          sheet.SetText(int(row), int(col), SerialText(v, show));
        }
      } else if (type == QLatin1String("Boolean")) {
        sheet.SetBoolean(int(row), int(col), text.trimmed() == QLatin1String("1"));
      } else if (type == QLatin1String("DateTime")) {
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

  QXmlStreamReader FXml;
  QHash<QString, TNumberShow> FStyles;
  QString FStyle;
  QString FCellStyle;
};

}  // namespace

std::unique_ptr<TWorkbook> ReadXmlSpreadsheetBytes(const QByteArray& bytes) {
  TReader reader(bytes);
  std::unique_ptr<TWorkbook> book = reader.Read();
  if (!book->sheets.empty()) reader.ReadCells(bytes, book->sheets[size_t(book->activeSheet)], book->activeSheet);
  return book;
}
