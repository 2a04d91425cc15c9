#include "history/HistoryImport.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <new>

#include "data/Conversions.h"
#include "data/CsvFile.h"
#include "data/FileFormats.h"
#include "data/RecordTable.h"
#include "data/TextFile.h"
#include "history/ResultIdentity.h"
#include "history/ResultValues.h"
#include "platform/FileIo.h"
#include "platform/Gbk.h"
#include "platform/MessageService.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"

namespace {

// More refusals than these are counted, not listed.
constexpr int kListedRefusals = 5;

TImportFile ReadWorkbook(const QString& fileName) {
  std::unique_ptr<TWorkbook> book;
  try {
    book = ReadWorkbookFile(fileName, TReadOptions{true});
  } catch (const ESpreadsheetError& e) {
    throw EAppError(e.Text());
  }
  TImportFile out;
  if (book->sheets.empty()) return out;
  const TSheet& sheet = book->sheets.at(size_t(book->activeSheet));
  const int columns = sheet.LastUsedColumn() + 1;
  const int rows = sheet.UsedRowCount();
  for (int c = 0; c < columns; ++c) out.captions << sheet.CellText(0, c);
  for (int r = 1; r < rows; ++r) {
    TImportRow row;
    row.place = r + 1;
    for (int c = 0; c < columns; ++c) row.cells << sheet.CellText(r, c);
    out.rows.push_back(std::move(row));
  }
  return out;
}

QByteArray ReadBytes(const QString& fileName) {
  QByteArray bytes;
  int err = 0;
  if (!ReadWholeFile(fileName, bytes, err)) throw EAppError(CannotReadText(fileName, err));
  return bytes;
}

TImportFile ReadCsv(const QString& fileName) {
  const QString text = CsvFile::Decode(ReadBytes(fileName));
  TImportFile out;
  int place = 0;
  CsvFile::Parse(text, CsvFile::Separator(text), [&](QStringList& fields) {
    ++place;
    if (place == 1) {
      out.captions = fields;
    } else {
      out.rows.push_back(TImportRow{place, fields});
    }
  });
  return out;
}

TImportFile ReadText(const QString& fileName) {
  TImportFile out;
  out.records = true;
  out.captions = Record::Captions();
  int place = 0;
  const int records = TextFile::Records(FromGbk(ReadBytes(fileName)), [&](const QStringList& row) {
    out.rows.push_back(TImportRow{++place, row});
  });
  // Lines before any "序号" line make a row that is no record.
  if (records == 0) out.rows.clear();
  return out;
}

bool AllEmpty(const QStringList& cells) {
  for (const QString& c : cells) {
    if (!c.trimmed().isEmpty()) return false;
  }
  return true;
}

}  // namespace

TImportFile ReadImportFile(const QString& fileName) {
  if (!QFileInfo(fileName).isFile()) throw EAppError(QStringLiteral("文件不存在：%1").arg(fileName));
  const QString suffix = QFileInfo(fileName).suffix().toLower();
  try {
    if (suffix == QLatin1String("txt")) return ReadText(fileName);
    if (suffix == QLatin1String("csv")) return ReadCsv(fileName);
    return ReadWorkbook(fileName);
  } catch (const std::bad_alloc&) {
    throw EAppError(QStringLiteral("内存不足，无法读入文件：%1").arg(fileName));
  }
}

int ImportColumnOf(const QString& caption) {
  const QString c = caption.trimmed();
  if (c.isEmpty()) return -1;
  // Names other programs and later files give the values.
  static const char* const kPhaseValues[] = {"A相电阻", "B相电阻", "C相电阻"};
  for (int p = 0; p < 3; ++p) {
    if (c.contains(QString::fromUtf8(kPhaseValues[p]))) return Record::OhmColumn(p);
  }
  const int col = TextFile::LineColumn(c);
  if (col == TextFile::kNewRecord) return Record::kNumber;
  return col;
}

QString CaptionUnit(const QString& caption) {
  static const QRegularExpression re(QStringLiteral("[（(\\[]\\s*([μµumkM]?)\\s*(?:Ω|\u2126|[oO]hm)\\s*[)）\\]]\\s*$"));
  const QRegularExpressionMatch m = re.match(caption);
  if (!m.hasMatch()) return {};
  const QString prefix = m.captured(1);
  if (prefix == QStringLiteral("\u00B5") || prefix == QLatin1String("u")) return QStringLiteral("μΩ");  // the micro sign, u
  return prefix + QStringLiteral("Ω");
}

TImportCheck CheckImportRows(const TImportFile& file) {
  // The columns by their captions, when they name the time and a value;
  // else the program's order.
  std::vector<int> columnOf;
  bool time = false;
  bool value = false;
  for (const QString& caption : file.captions) {
    const int col = ImportColumnOf(caption);
    columnOf.push_back(col);
    time = time || col == Record::kTime;
    value = value || Record::KindOf(col) == Record::TKind::Resistance;
  }
  if (!time || !value) {
    columnOf.clear();
    for (int c = 0; c < file.captions.size() || c < Record::kColumns; ++c) columnOf.push_back(c < Record::kColumns ? c : -1);
  }
  // The unit a column's caption names, for its bare numbers.
  QString units[3];
  for (int i = 0; i < int(columnOf.size()) && i < file.captions.size(); ++i) {
    for (int p = 0; p < 3; ++p) {
      if (columnOf[size_t(i)] == Record::OhmColumn(p) && units[p].isEmpty()) units[p] = CaptionUnit(file.captions[i]);
    }
  }

  TImportCheck out;
  const QString placeWord = file.records ? QStringLiteral("条记录") : QStringLiteral("行");
  static const QRegularExpression bare(QStringLiteral("^[-+]?(?:\\d+(?:\\.\\d*)?|\\.\\d+)$"));
  for (const TImportRow& row : file.rows) {
    if (AllEmpty(row.cells)) continue;
    QStringList texts;
    for (int c = 0; c < Record::kColumns; ++c) texts << QString();
    for (int i = 0; i < row.cells.size() && i < int(columnOf.size()); ++i) {
      const int col = columnOf[size_t(i)];
      if (col >= 0 && col < Record::kColumns && texts[col].isEmpty()) texts[col] = row.cells[i].trimmed();
    }
    QStringList why;
    const QDateTime stated = ImportTimeOfText(texts[Record::kTime]);
    if (!stated.isValid()) {
      why << QStringLiteral("时间\"%1\"无法识别").arg(texts[Record::kTime]);
    } else if (stated.date().year() >= 2000 && stated.date().year() <= 2099) {
      texts[Record::kTime] = DateTimeText(stated);  // as the tables write it
    }
    const QString load = texts[Record::kLoadTime];
    if (!load.isEmpty()) {
      const std::optional<int> seconds = LoadSecondsOfText(load);
      if (seconds) {
        texts[Record::kLoadTime] = QStringLiteral("%1 秒").arg(*seconds);
      } else {
        why << QStringLiteral("%1\"%2\"无法识别").arg(Record::Caption(Record::kLoadTime), load);
      }
    }
    for (int p = 0; p < 3; ++p) {
      QString& v = texts[Record::OhmColumn(p)];
      if (v.isEmpty() || OhmsOfText(v)) continue;
      const QString caption = Record::Caption(Record::OhmColumn(p));
      if (bare.match(v).hasMatch()) {
        if (units[p].isEmpty()) {
          why << QStringLiteral("%1\"%2\"没有单位").arg(caption, v);
        } else {
          v = v + QLatin1Char(' ') + units[p];
        }
      } else {
        why << QStringLiteral("%1\"%2\"无法识别").arg(caption, v);
      }
    }
    if (!why.isEmpty()) {
      if (++out.refusedCount <= kListedRefusals) {
        out.refused << QStringLiteral("第 %1 %2：%3").arg(row.place).arg(placeWord, why.join(QStringLiteral("，")));
      }
      continue;
    }
    TNewResult r;
    r.kind = TResultKind::Imported;
    r.texts = texts;
    r.time = stated;
    out.results.push_back(std::move(r));
  }
  if (out.refusedCount > kListedRefusals) out.refused << QStringLiteral("…");
  return out;
}

QString ImportSummary(const TAddCount& count, const TImportCheck& check) {
  QString text = QStringLiteral("已导入 %1 条结果，%2 条已在历史记录中").arg(count.added).arg(count.existing);
  if (check.refusedCount > 0) {
    text += QStringLiteral("，%1 条未导入（%2）").arg(check.refusedCount).arg(check.refused.join(QStringLiteral("；")));
  }
  if (count.removedChars > 0) {
    text += QStringLiteral("；%1 个无法保存的字符（如 NUL）已去除").arg(count.removedChars);
  }
  return text;
}
