#include "history/ResultIdentity.h"

#include <QRegularExpression>

#include <cmath>

#include "data/RecordTable.h"
#include "history/ResultValues.h"

namespace {

// Spreadsheet date numbers of 1990-01-01 and 2100-01-01: a bare number
// outside them is no test time (a sequence number, a typed value).
constexpr double kFirstSerial = 32874;
constexpr double kLastSerial = 73051;
constexpr int kFirstYear = 1990;

QString Squeezed(const QString& text) {
  QString out = text.trimmed();
  out.remove(QLatin1Char(' '));
  return out;
}

QString ValueKey(const QString& text) {
  const std::optional<double> ohms = OhmsOfText(text);
  if (!ohms || !std::isfinite(*ohms)) return Squeezed(text);
  // Micro-ohms to the thousandth: the finest digit any table shows.
  const double micro = std::round(*ohms * 1e9) / 1e3;
  return QString::number(micro, 'f', 3);
}

}  // namespace

QDateTime ImportTimeOfText(const QString& text) {
  // Year first: two or four digits, then month and day, each separated by
  // one of - / . or the characters of a Chinese date; a time may follow.
  static const QRegularExpression dated(QStringLiteral(
      "^\\s*(\\d{4}|\\d{2})\\s*[-/.年]\\s*(\\d{1,2})\\s*[-/.月]\\s*(\\d{1,2})\\s*日?"
      "(?:(?:\\s+|T)(\\d{1,2})[:：](\\d{2})(?:[:：](\\d{2})(?:\\.\\d+)?)?)?\\s*$"));
  const QRegularExpressionMatch m = dated.match(text);
  if (m.hasMatch()) {
    int year = m.captured(1).toInt();
    if (m.captured(1).size() == 2) year += 2000;
    // No instrument of this kind tested before 1990: "0024/5/2" is no time.
    if (year < kFirstYear) return {};
    const QDate d(year, m.captured(2).toInt(), m.captured(3).toInt());
    if (!d.isValid()) return {};
    if (m.captured(4).isEmpty()) return QDateTime(d, QTime(0, 0));
    const QTime t(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).isEmpty() ? 0 : m.captured(6).toInt());
    if (!t.isValid()) return {};
    return QDateTime(d, t);
  }
  static const QRegularExpression serial(QStringLiteral("^\\s*\\d+(?:\\.\\d+)?\\s*$"));
  if (serial.match(text).hasMatch()) {
    const double days = text.trimmed().toDouble();
    if (days < kFirstSerial || days >= kLastSerial) return {};
    const qint64 seconds = std::llround(days * 86400.0);
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0)).addSecs(seconds);
  }
  return {};
}

std::optional<int> LoadSecondsOfText(const QString& text) {
  static const QRegularExpression re(QStringLiteral("^\\s*(\\d{1,6})\\s*(?:秒|[sS]|sec)?\\s*$"));
  const QRegularExpressionMatch m = re.match(text);
  if (!m.hasMatch()) return std::nullopt;
  return m.captured(1).toInt();
}

QString ResultIdentity(const QStringList& texts) {
  const QString timeText = texts.value(Record::kTime);
  const QDateTime time = ImportTimeOfText(timeText);
  const std::optional<int> load = LoadSecondsOfText(texts.value(Record::kLoadTime));
  const QChar sep(0x1F);
  QString id = texts.value(Record::kDevice).trimmed();
  id += sep;
  id += time.isValid() ? time.toString(QStringLiteral("yyyy-MM-ddTHH:mm")) : QLatin1Char('?') + Squeezed(timeText);
  id += sep;
  id += Squeezed(texts.value(Record::kPhase));
  id += sep;
  id += Squeezed(texts.value(Record::kRange)).toUpper();
  id += sep;
  id += load ? QString::number(*load) : Squeezed(texts.value(Record::kLoadTime));
  for (int p = 0; p < 3; ++p) {
    id += sep;
    id += ValueKey(texts.value(Record::OhmColumn(p)));
  }
  return id;
}
