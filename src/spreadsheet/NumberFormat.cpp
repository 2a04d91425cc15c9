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

TCellFormat BuiltInFormat(int id) {
  TCellFormat f;
  f.show = BuiltInFormatShow(id);
  if (f.show != TNumberShow::Number) return f;
  switch (id) {
    case 1: f.code = QStringLiteral("0"); break;
    case 2: f.code = QStringLiteral("0.00"); break;
    case 3: f.code = QStringLiteral("#,##0"); break;
    case 4: f.code = QStringLiteral("#,##0.00"); break;
    case 9: f.code = QStringLiteral("0%"); break;
    case 10: f.code = QStringLiteral("0.00%"); break;
    case 11: f.code = QStringLiteral("0.00E+00"); break;
    case 37: f.code = QStringLiteral("#,##0 ;(#,##0)"); break;
    case 38: f.code = QStringLiteral("#,##0 ;[Red](#,##0)"); break;
    case 39: f.code = QStringLiteral("#,##0.00;(#,##0.00)"); break;
    case 40: f.code = QStringLiteral("#,##0.00;[Red](#,##0.00)"); break;
    case 48: f.code = QStringLiteral("##0.0E+0"); break;
    default: break;  // general, text, currencies of the locale, fractions
  }
  return f;
}

TCellFormat FormatOfCode(const QString& code) {
  TCellFormat f;
  f.show = FormatCodeShow(code);
  const QString c = code.trimmed();
  if (f.show == TNumberShow::Number && c.compare(QLatin1String("General"), Qt::CaseInsensitive) != 0 &&
      c != QLatin1String("@")) {
    f.code = code;
  }
  return f;
}

namespace {

// The sections of a code, split at the semicolons outside quotes, brackets
// and escapes.
QStringList Sections(const QString& code) {
  QStringList out;
  QString part;
  for (int i = 0; i < code.size(); ++i) {
    const QChar ch = code[i];
    if (ch == u'"') {
      const int end = int(code.indexOf(u'"', i + 1));
      const int stop = end < 0 ? int(code.size()) - 1 : end;
      part += code.mid(i, stop - i + 1);
      i = stop;
    } else if (ch == u'[') {
      const int end = int(code.indexOf(u']', i + 1));
      const int stop = end < 0 ? int(code.size()) - 1 : end;
      part += code.mid(i, stop - i + 1);
      i = stop;
    } else if ((ch == u'\\' || ch == u'_' || ch == u'*') && i + 1 < code.size()) {
      part += code.mid(i, 2);
      ++i;
    } else if (ch == u';') {
      out << part;
      part.clear();
    } else {
      part += ch;
    }
  }
  out << part;
  return out;
}

// "1234567" as "1,234,567".
QString Grouped(const QString& digits) {
  QString out;
  const int n = int(digits.size());
  for (int i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += u',';
    out += digits[i];
  }
  return out;
}

// One section of a code shown for a value that is not negative; empty with
// ok false when the section holds what this does not show.
QString ShowSection(double v, const QString& section, bool& ok) {
  ok = true;
  struct TPiece {
    bool number;
    QString text;
  };
  std::vector<TPiece> pieces;  // literals, and one place for the number
  int intZeros = 0;            // '0' placeholders before the point
  int intPlaces = 0;           // every placeholder before the point
  int decZeros = 0;
  int decPlaces = 0;
  bool point = false;
  bool grouping = false;
  int scale = 0;  // commas after the last placeholder: thousands each
  bool percent = false;
  int expZeros = -1;  // placeholders of the exponent; -1: no exponent
  bool expPlus = false;
  bool general = false;
  bool placed = false;
  auto literal = [&](const QString& t) {
    if (!pieces.empty() && !pieces.back().number) {
      pieces.back().text += t;
    } else {
      pieces.push_back({false, t});
    }
  };
  const int n = int(section.size());
  for (int i = 0; i < n; ++i) {
    const QChar ch = section[i];
    if (ch == u'"') {
      const int end = int(section.indexOf(u'"', i + 1));
      const int stop = end < 0 ? n : end;
      literal(section.mid(i + 1, stop - i - 1));
      i = stop;
    } else if (ch == u'\\') {
      if (i + 1 < n) literal(QString(section[++i]));
    } else if (ch == u'_') {
      ++i;
      literal(QStringLiteral(" "));
    } else if (ch == u'*') {
      ++i;  // a fill character: nothing at a cell's natural width
    } else if (ch == u'[') {
      const int end = int(section.indexOf(u']', i + 1));
      const QString tag = section.mid(i + 1, (end < 0 ? n : end) - i - 1);
      if (tag.startsWith(u'$')) {
        // A currency and locale: "[$€-407]" shows "€".
        const int dash = int(tag.indexOf(u'-'));
        literal(tag.mid(1, dash < 0 ? -1 : dash - 1));
      } else if (!tag.isEmpty() && (tag[0] == u'<' || tag[0] == u'>' || tag[0] == u'=')) {
        ok = false;  // a condition
        return {};
      }
      i = end < 0 ? n : end;
    } else if (section.mid(i, 7).compare(QLatin1String("General"), Qt::CaseInsensitive) == 0) {
      general = true;
      if (!placed) pieces.push_back({true, {}});
      placed = true;
      i += 6;
    } else if (ch == u'0' || ch == u'#' || ch == u'?') {
      if (expZeros >= 0) {
        ++expZeros;
        continue;
      }
      if (!placed) pieces.push_back({true, {}});
      placed = true;
      if (point) {
        ++decPlaces;
        if (ch != u'#') ++decZeros;
      } else {
        ++intPlaces;
        if (ch != u'#') ++intZeros;
        scale = 0;
      }
    } else if (ch == u'.' && placed && !point && expZeros < 0) {
      point = true;
    } else if (ch == u'.' && !placed && i + 1 < n && (section[i + 1] == u'0' || section[i + 1] == u'#' || section[i + 1] == u'?')) {
      pieces.push_back({true, {}});
      placed = true;
      point = true;
    } else if (ch == u',' && placed && expZeros < 0) {
      // Between placeholders: thousands; after the last: a scale of 1000.
      const bool more = i + 1 < n && (section[i + 1] == u'0' || section[i + 1] == u'#' || section[i + 1] == u'?');
      if (more && !point) {
        grouping = true;
      } else if (!point) {
        ++scale;
      }
    } else if (ch == u'%') {
      percent = true;
      literal(QStringLiteral("%"));
    } else if ((ch == u'E' || ch == u'e') && placed && i + 1 < n && (section[i + 1] == u'+' || section[i + 1] == u'-')) {
      expPlus = section[i + 1] == u'+';
      expZeros = 0;
      ++i;
    } else if (ch == u'/' && placed) {
      ok = false;  // a fraction
      return {};
    } else if (ch == u'@') {
      literal(GeneralNumberText(v));
    } else {
      literal(QString(ch));
    }
  }
  if (!placed) {
    // A section of text alone shows only its text.
    QString out;
    for (const TPiece& p : pieces) out += p.text;
    return out;
  }
  double x = v;
  if (percent) x *= 100;
  for (int s = 0; s < scale; ++s) x /= 1000;
  QString number;
  if (general) {
    number = GeneralNumberText(x);
  } else if (expZeros >= 0) {
    int exponent = 0;
    double mantissa = x;
    if (x != 0) {
      // "##0.0E+0" keeps the exponent a multiple of the integer places.
      const int step = std::max(intPlaces, 1);
      exponent = int(std::floor(std::log10(x)));
      if (step > 1) exponent = int(std::floor(double(exponent) / step)) * step;
      mantissa = x / std::pow(10.0, exponent);
      if (QString::number(mantissa, 'f', decPlaces).toDouble() >= std::pow(10.0, step)) {
        exponent += step;
        mantissa = x / std::pow(10.0, exponent);
      }
    }
    number = QString::number(mantissa, 'f', decPlaces);
    QString e = QString::number(std::abs(exponent)).rightJustified(std::max(expZeros, 1), u'0');
    number += QStringLiteral("E") + (exponent < 0 ? QStringLiteral("-") : expPlus ? QStringLiteral("+") : QString()) + e;
  } else {
    QString fixed = QString::number(x, 'f', decPlaces);
    QString intPart = fixed.section(u'.', 0, 0);
    QString decPart = decPlaces > 0 ? fixed.section(u'.', 1, 1) : QString();
    while (decPart.size() > decZeros && decPart.endsWith(u'0')) decPart.chop(1);
    if (intPart == QLatin1String("0") && intZeros == 0) intPart.clear();
    while (intPart.size() < intZeros) intPart.prepend(u'0');
    if (grouping) intPart = Grouped(intPart);
    // "0.#" of 5 shows "5.", as spreadsheet programs show it.
    number = point ? intPart + u'.' + decPart : intPart;
  }
  QString out;
  for (const TPiece& p : pieces) out += p.number ? number : p.text;
  return out;
}

}  // namespace

QString FormattedNumberText(double value, const QString& code) {
  if (!std::isfinite(value)) return GeneralNumberText(value);
  const QStringList sections = Sections(code);
  QString section = sections.value(0);
  bool sign = value < 0;
  if (value < 0 && sections.size() >= 2) {
    section = sections[1];
    sign = false;  // the negative section writes its own sign, or none
  } else if (value == 0 && sections.size() >= 3) {
    section = sections[2];
  }
  bool ok = true;
  const QString shown = ShowSection(std::fabs(value), section, ok);
  if (!ok) return GeneralNumberText(value);
  return sign ? QLatin1Char('-') + shown : shown;
}
