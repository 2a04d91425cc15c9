#include "data/CsvFile.h"

#include <algorithm>

#include <QStringDecoder>

#include <vector>

#include "data/Conversions.h"
#include "data/RecordTable.h"
#include "data/TextFile.h"
#include "platform/Gbk.h"
#include "platform/Numbers.h"

namespace CsvFile {

QString Decode(const QByteArray& bytes) {
  if (bytes.startsWith("\xEF\xBB\xBF")) return QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
  auto toUtf8 = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString utf8 = toUtf8(bytes);
  if (!toUtf8.hasError()) return utf8;
  return FromGbk(bytes);
}

QChar Separator(QStringView text) {
  qsizetype end = 0;
  while (end < text.size() && text[end] != u'\r' && text[end] != u'\n') ++end;
  const QStringView first = text.left(end);
  return !first.contains(u',') && first.contains(u';') ? QChar(u';') : QChar(u',');
}

int Parse(QStringView text, QChar sep, const std::function<void(QStringList& fields)>& onRecord) {
  const char16_t s = sep.unicode();
  const QChar* p = text.data();
  const qsizetype n = text.size();
  QStringList record;
  int records = 0;
  qsizetype i = 0;
  // Each turn reads one field and what ends it: a separator, a line end or
  // the end of the text. Unquoted fields and the runs between doubled quotes
  // are taken as spans, not character by character.
  while (i < n) {
    QString field;
    if (p[i] == u'"') {
      ++i;
      for (;;) {
        qsizetype q = i;
        while (q < n && p[q] != u'"') ++q;
        field.append(p + i, q - i);
        if (q >= n) {  // a quote left open: the rest of the text
          i = n;
          break;
        }
        if (q + 1 < n && p[q + 1] == u'"') {
          field.append(u'"');
          i = q + 2;
          continue;
        }
        i = q + 1;
        break;
      }
      // Characters after the closing quote belong to the field as they stand.
      qsizetype e = i;
      while (e < n && p[e] != s && p[e] != u'\r' && p[e] != u'\n') ++e;
      field.append(p + i, e - i);
      i = e;
    } else {
      qsizetype e = i;
      while (e < n && p[e] != s && p[e] != u'\r' && p[e] != u'\n') ++e;
      field = QString(p + i, e - i);
      i = e;
    }
    record << field;
    if (i < n && p[i] == s) {
      ++i;
      if (i < n) continue;
      record << QString();  // a separator at the very end: one more, empty field
    }
    // The record ends at a line end (CR LF, LF or CR) or at the end of the text.
    if (i < n && p[i] == u'\r') {
      ++i;
      if (i < n && p[i] == u'\n') ++i;
    } else if (i < n && p[i] == u'\n') {
      ++i;
    }
    const bool blank = record.size() == 1 && record.front().isEmpty();
    if (!blank) {
      ++records;
      onRecord(record);
    }
    record.clear();
  }
  return records;
}

namespace {

constexpr int kColumns = Record::kColumns;

// Without the characters of code 32 and below at either end.
QStringView Trimmed(QStringView s) {
  qsizetype b = 0;
  qsizetype e = s.size();
  while (b < e && s[b].unicode() <= 32) ++b;
  while (e > b && s[e - 1].unicode() <= 32) --e;
  return s.mid(b, e - b);
}

// Column of a caption, as the text file's keys are read; -1 when unknown.
int CaptionColumn(const QString& caption) {
  const int col = TextFile::LineColumn(Trimmed(caption));
  return col == TextFile::kNewRecord ? 0 : col;
}

}  // namespace

TCsvArchive ReadArchive(const QByteArray& bytes, const std::function<void(const QStringList& row)>& onRow) {
  TCsvArchive out;
  const QString text = Decode(bytes);
  if (Trimmed(text).isEmpty()) {
    out.result = TCsvArchive::Empty;
    return out;
  }
  std::vector<int> columnOf;
  int place = 0;
  QStringList row;
  // Spreadsheet programs of some locales separate with semicolons.
  Parse(text, Separator(text), [&](QStringList& fields) {
    ++place;
    if (out.result != TCsvArchive::Read) return;
    if (place == 1) {
      bool known = false;
      for (const QString& caption : fields) {
        columnOf.push_back(CaptionColumn(caption));
        known = known || columnOf.back() >= 0;
      }
      if (!known) {
        columnOf.clear();
        for (int c = 0; c < fields.size(); ++c) columnOf.push_back(c < kColumns ? c : -1);
      }
      return;
    }
    row.clear();
    for (int c = 0; c < kColumns; ++c) row << QString();
    for (int f = 0; f < fields.size() && f < int(columnOf.size()); ++f) {
      if (columnOf[size_t(f)] >= 0) row[columnOf[size_t(f)]] = fields[f];
    }
    int number = 0;
    if (!TryStrToInt(Trimmed(row[0]).toString(), number)) {
      out.result = TCsvArchive::BadNumber;
      out.badRecord = place;
      out.badNumber = row[0];
      return;
    }
    row[0] = QString::asprintf("%2d", number);
    ++out.records;
    onRow(row);
  });
  if (place == 0) out.result = TCsvArchive::Empty;
  return out;
}

QString Field(const QString& text) {
  const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
                     text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) ||
                     text.startsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char(' '));
  if (!quote) return text;
  QString q = text;
  q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + q + QLatin1Char('"');
}

QByteArray Bytes(const QStringList& captions, const ITextRows& rows) {
  const int count = rows.RowCount();
  // Written as UTF-8 row by row: no text of the whole file in between.
  QByteArray bytes("\xEF\xBB\xBF");
  bytes.reserve(qsizetype(count + 1) * 100);
  QString line;
  // The record's columns, then any further ones the captions name.
  const int columns = std::max<int>(kColumns, int(captions.size()));
  for (int r = -1; r < count; ++r) {
    line.clear();
    for (int c = 0; c < columns; ++c) {
      if (c > 0) line += QLatin1Char(',');
      line += Field(TrimText(r < 0 ? captions.value(c) : rows.Cell(r, c)));
    }
    line += QStringLiteral("\r\n");
    bytes += line.toUtf8();
  }
  return bytes;
}

}  // namespace CsvFile
