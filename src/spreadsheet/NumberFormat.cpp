#include "spreadsheet/NumberFormat.h"

#include <QDate>
#include <QRegularExpression>

#include <cmath>

#include "spreadsheet/Spreadsheet.h"

TNumberShow BuiltInFormatShow(int id) {
  if (id >= 14 && id <= 17) return TNumberShow::Date;
  if (id >= 18 && id <= 21) return TNumberShow::Time;
  if (id == 22) return TNumberShow::DateTime;
  if ((id >= 27 && id <= 31) || id == 36) return TNumberShow::Date;
  if (id >= 32 && id <= 35) return TNumberShow::Time;
  if (id >= 45 && id <= 47) return TNumberShow::Time;
  if (id >= 50 && id <= 54) return TNumberShow::Date;
  if (id == 55 || id == 56) return TNumberShow::Time;
  if (id == 57 || id == 58) return TNumberShow::Date;
  return TNumberShow::Number;
}

TNumberShow FormatCodeShow(const QString& code) {
  bool date = false;
  bool time = false;
  bool month = false;  // an "m" that is not next to an hour or second
  QChar previous;      // the last format letter seen, for "h:mm" and "mm:ss"
  const int n = int(code.size());
  for (int i = 0; i < n; ++i) {
    const QChar ch = code[i];
    if (ch == u';') break;  // the first section decides
    if (ch == u'"') {
      const int end = int(code.indexOf(u'"', i + 1));
      if (end < 0) break;
      i = end;
      continue;
    }
    if (ch == u'\\' || ch == u'_' || ch == u'*') {
      ++i;  // the next character is shown, not interpreted
      continue;
    }
    if (ch == u'[') {
      const int end = int(code.indexOf(u']', i + 1));
      if (end < 0) break;
      const QString tag = code.mid(i + 1, end - i - 1).toLower();
      // Elapsed time ([h], [mm], [ss]); colours, conditions and locales are no letters.
      if (!tag.isEmpty() && (tag[0] == u'h' || tag[0] == u'm' || tag[0] == u's') &&
          tag.count(tag[0]) == tag.size()) {
        time = true;
        previous = tag[0];
      }
      i = end;
      continue;
    }
    if (code.mid(i, 5).compare(QLatin1String("am/pm"), Qt::CaseInsensitive) == 0) {
      time = true;
      i += 4;
      continue;
    }
    if (code.mid(i, 3).compare(QLatin1String("a/p"), Qt::CaseInsensitive) == 0) {
      time = true;
      i += 2;
      continue;
    }
    const QChar c = ch.toLower();
    if (c == u'y' || c == u'd') {
      date = true;
      previous = c;
    } else if (c == u'h' || c == u's') {
      time = true;
      previous = c;
    } else if (c == u'm') {
      int j = i;
      while (j + 1 < n && code[j + 1].toLower() == u'm') ++j;
      // Minutes follow an hour or precede a second; otherwise it is the month.
      int k = j + 1;
      while (k < n && (code[k] == u':' || code[k] == u' ')) ++k;
      const bool beforeSecond = k < n && code[k].toLower() == u's';
      if (previous == u'h' || beforeSecond) {
        time = true;
      } else {
        month = true;
      }
      previous = u'm';
      i = j;
    }
  }
  if (month) date = true;
  if (date && time) return TNumberShow::DateTime;
  if (date) return TNumberShow::Date;
  if (time) return TNumberShow::Time;
  return TNumberShow::Number;
}

namespace {

QString DateText(const QDate& d) {
  return QString::asprintf("%02d-%02d-%02d", d.year() % 100, d.month(), d.day());
}

QString ClockText(int hour, int minute) { return QString::asprintf("%02d:%02d", hour, minute); }

}  // namespace

QString SerialText(double serial, TNumberShow kind, bool date1904) {
  if (kind == TNumberShow::Number || !std::isfinite(serial) || serial < 0 || serial >= 2958466) {
    return GeneralNumberText(serial);
  }
  // Whole seconds, rounded: 45414.3798611111 is 09:07:00, not 09:06:59.
  const auto seconds = static_cast<long long>(std::llround(serial * 86400.0));
  long long days = seconds / 86400;
  const long long inDay = seconds % 86400;
  if (kind == TNumberShow::Time) return ClockText(int(inDay / 3600), int(inDay / 60 % 60));
  QDate base;
  if (date1904) {
    base = QDate(1904, 1, 1);
  } else {
    // Serials below 61 count the 29 February 1900 that never was.
    base = QDate(1899, 12, 30);
    if (days < 61 && days > 0) days += 1;
  }
  // A time of day alone in a date-and-time format has no day worth showing.
  if (days == 0 && !date1904 && kind == TNumberShow::DateTime) {
    return ClockText(int(inDay / 3600), int(inDay / 60 % 60));
  }
  const QDate d = base.addDays(days);
  if (d.year() < 1900) return GeneralNumberText(serial);
  if (kind == TNumberShow::Date) return DateText(d);
  return DateText(d) + u' ' + ClockText(int(inDay / 3600), int(inDay / 60 % 60));
}

QString IsoDateText(const QString& iso) {
  static const QRegularExpression re(
      QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})(?:T(\\d{2}):(\\d{2})(?::(\\d{2})(?:[.,]\\d+)?)?)?"
                     "(?:Z|[+-]\\d{2}:?\\d{2})?$"));
  const QRegularExpressionMatch m = re.match(iso.trimmed());
  if (!m.hasMatch()) return {};
  const QDate d(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
  if (!d.isValid()) return {};
  if (m.captured(4).isEmpty()) return DateText(d);
  return DateText(d) + u' ' + ClockText(m.captured(4).toInt(), m.captured(5).toInt());
}

QString IsoTimeText(const QString& iso) {
  static const QRegularExpression re(
      QStringLiteral("^-?P(?:(\\d+)D)?T(?:(\\d+)H)?(?:(\\d+)M)?(?:(\\d+(?:[.,]\\d+)?)S)?$"));
  const QRegularExpressionMatch m = re.match(iso.trimmed());
  if (!m.hasMatch()) return {};
  double s = m.captured(1).toDouble() * 86400 + m.captured(2).toDouble() * 3600 + m.captured(3).toDouble() * 60 +
             QString(m.captured(4)).replace(u',', u'.').toDouble();
  const auto total = static_cast<long long>(std::llround(s)) % 86400;
  return ClockText(int(total / 3600), int(total / 60 % 60));
}
