#include "data/CsvFile.h"

#include <QStringDecoder>

#include "platform/Gbk.h"

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

QString Field(const QString& text) {
  const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
                     text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) ||
                     text.startsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char(' '));
  if (!quote) return text;
  QString q = text;
  q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + q + QLatin1Char('"');
}

}  // namespace CsvFile
