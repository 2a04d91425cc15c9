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

int ParseViews(QStringView text, QChar sep,
               const std::function<void(const std::vector<QStringView>& fields)>& onRecord) {
  const char16_t s = sep.unicode();
  const QChar* p = text.data();
  const qsizetype n = text.size();
  std::vector<QStringView> record;
  // Fields that are not spans of the text (quotes taken out) are built here;
  // a QString keeps its characters where they are when the list grows.
  std::vector<QString> built;
  int records = 0;
  qsizetype i = 0;
  // Each turn reads one field and what ends it: a separator, a line end or
  // the end of the text. Unquoted fields and the runs between doubled quotes
  // are taken as spans, not character by character.
  while (i < n) {
    if (p[i] == u'"') {
      ++i;
      qsizetype q = i;
      while (q < n && p[q] != u'"') ++q;
      const qsizetype closed = q;
      const bool plain = q >= n || !(q + 1 < n && p[q + 1] == u'"');
      qsizetype after = q >= n ? n : q + 1;
      qsizetype e = after;
      while (e < n && p[e] != s && p[e] != u'\r' && p[e] != u'\n') ++e;
      if (plain && e == after) {
        // "text" as it stands: the span inside the quotes.
        record.push_back(QStringView(p + i, closed - i));
        i = e;
      } else {
        QString field(p + i, closed - i);
        i = closed;
        while (i < n) {
          if (i + 1 < n && p[i + 1] == u'"') {  // a doubled quote
            field.append(u'"');
            i += 2;
            qsizetype r = i;
            while (r < n && p[r] != u'"') ++r;
            field.append(p + i, r - i);
            i = r;
            continue;
          }
          ++i;  // the closing quote
          break;
        }
        if (i > n) i = n;
        // Characters after the closing quote belong to the field as they stand.
        qsizetype t = i;
        while (t < n && p[t] != s && p[t] != u'\r' && p[t] != u'\n') ++t;
        field.append(p + i, t - i);
        i = t;
        built.push_back(std::move(field));
        record.push_back(QStringView(built.back()));
      }
    } else {
      qsizetype e = i;
      while (e < n && p[e] != s && p[e] != u'\r' && p[e] != u'\n') ++e;
      record.push_back(QStringView(p + i, e - i));
      i = e;
    }
    if (i < n && p[i] == s) {
      ++i;
      if (i < n) continue;
      record.push_back(QStringView());  // a separator at the very end: one more, empty field
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
    built.clear();
  }
  return records;
}

int Parse(QStringView text, QChar sep, const std::function<void(QStringList& fields)>& onRecord) {
  QStringList fields;
  return ParseViews(text, sep, [&](const std::vector<QStringView>& views) {
    fields.clear();
    fields.reserve(qsizetype(views.size()));
    for (QStringView v : views) fields << v.toString();
    onRecord(fields);
  });
}

namespace {

constexpr int kColumns = Record::kColumns;

// Column of a caption, as the text file's keys are read; -1 when unknown.
int CaptionColumn(const QString& caption) {
  const int col = TextFile::LineColumn(TrimmedView(caption));
  return col == TextFile::kNewRecord ? 0 : col;
}

}  // namespace

TCsvArchive ReadArchive(QByteArray bytes, const std::function<void(const QStringView* row)>& onRow) {
  TCsvArchive out;
  const QString text = Decode(bytes);
  bytes = QByteArray();
  if (TrimmedView(text).isEmpty()) {
    out.result = TCsvArchive::Empty;
    return out;
  }
  std::vector<int> columnOf;
  int place = 0;
  QStringView row[kColumns];
  QString number;
  // Spreadsheet programs of some locales separate with semicolons.
  ParseViews(text, Separator(text), [&](const std::vector<QStringView>& fields) {
    ++place;
    if (out.result != TCsvArchive::Read) return;
    if (place == 1) {
      bool known = false;
      for (QStringView caption : fields) {
        columnOf.push_back(CaptionColumn(caption.toString()));
        known = known || columnOf.back() >= 0;
      }
      if (!known) {
        columnOf.clear();
        for (size_t c = 0; c < fields.size(); ++c) columnOf.push_back(int(c) < kColumns ? int(c) : -1);
      }
      return;
    }
    for (QStringView& v : row) v = QStringView();
    for (size_t f = 0; f < fields.size() && f < columnOf.size(); ++f) {
      if (columnOf[f] >= 0) row[columnOf[f]] = fields[f];
    }
    int value = 0;
    if (!TryStrToInt(TrimmedView(row[0]).toString(), value)) {
      out.result = TCsvArchive::BadNumber;
      out.badRecord = place;
      out.badNumber = row[0].toString();
      return;
    }
    number = QString::asprintf("%2d", value);
    row[0] = number;
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

void Write(const QStringList& captions, const ITextRows& rows, const std::function<void(const char*, qsizetype)>& put) {
  const int count = rows.RowCount();
  put("\xEF\xBB\xBF", 3);
  QString line;
  QString scratch;
  QByteArray bytes;
  // The record's columns, then any further ones the captions name.
  const int columns = std::max<int>(kColumns, int(captions.size()));
  for (int r = -1; r < count; ++r) {
    line.clear();
    for (int c = 0; c < columns; ++c) {
      if (c > 0) line += QLatin1Char(',');
      // As Field writes it, from a view of the cell: no copy of a text that
      // needs no quotes.
      if (r < 0) scratch = captions.value(c);
      const QStringView text = TrimmedView(r < 0 ? QStringView(scratch) : rows.CellView(r, c, scratch));
      bool quote = false;
      for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u == u',' || u == u'"' || u == u'\r' || u == u'\n') {
          quote = true;
          break;
        }
      }
      if (!quote) {
        line += text;
      } else {
        line += Field(text.toString());
      }
    }
    line += QStringLiteral("\r\n");
    bytes = line.toUtf8();
    put(bytes.constData(), bytes.size());
  }
}

QByteArray Bytes(const QStringList& captions, const ITextRows& rows) {
  QByteArray bytes;
  bytes.reserve(qsizetype(rows.RowCount() + 1) * 100);
  Write(captions, rows, [&](const char* data, qsizetype size) { bytes.append(data, size); });
  return bytes;
}

}  // namespace CsvFile
