#include "history/ResultValues.h"

#include <QRegularExpression>

#include <cmath>

std::optional<double> OhmsOfText(const QString& text) {
  // μ is the Greek small mu the program writes; µ (the micro sign) and u
  // come from files typed elsewhere. A prefix counts by its case, as SI has
  // it: m is milli, M is mega. The unit is Ω, the ohm sign, or the word.
  static const QRegularExpression re(QStringLiteral(
      "^\\s*([-+]?(?:\\d+(?:\\.\\d*)?|\\.\\d+))\\s*([μµumkM])?\\s*(Ω|\u2126|[oO][hH][mM][sS]?)\\s*$"));
  const QRegularExpressionMatch m = re.match(text);
  if (!m.hasMatch()) return std::nullopt;
  bool ok = false;
  const double v = m.captured(1).toDouble(&ok);
  if (!ok) return std::nullopt;
  const QString prefix = m.captured(2);
  if (prefix.isEmpty()) return v;
  switch (prefix[0].unicode()) {
    case u'm': return v * 1e-3;
    case u'k': return v * 1e3;
    case u'M': return v * 1e6;
    default: return v * 1e-6;  // μ, µ, u
  }
}

namespace {

// v cut after d decimals. The small allowance keeps a value read from a text
// ("45.5" is 45.4999...) at its own figure.
double Cut(double v, int d) {
  const double scale = std::pow(10.0, d);
  const double cut = std::floor(std::fabs(v) * scale + 1e-6) / scale;
  return v < 0 ? -cut : cut;
}

}  // namespace

QString PhaseLabel(int phase) {
  static const QString labels[3] = {QStringLiteral("A相"), QStringLiteral("B相"), QStringLiteral("C相")};
  return phase >= 0 && phase < 3 ? labels[phase] : QString();
}

QString MicroOhmText(double microOhm) { return QString::number(Cut(microOhm, 1), 'f', 1) + QStringLiteral(" μΩ"); }

QString TypedMicroOhmText(double microOhm) {
  QString t = QString::number(microOhm, 'f', 6);
  while (t.endsWith(QLatin1Char('0')) && t.indexOf(QLatin1Char('.')) < t.size() - 2) t.chop(1);
  return t + QStringLiteral(" μΩ");
}

QString AboveText(double value, double limit) {
  int d = 1;
  while (d < 6 && Cut(value, d) <= limit + 1e-9) ++d;
  return QString::number(Cut(value, d), 'f', d);
}

QString PercentAboveText(double percent, double limit) {
  int d = 0;
  while (d < 6 && QString::number(percent, 'f', d).toDouble() <= limit + 1e-9) ++d;
  return QString::number(percent, 'f', d);
}

QDateTime TimeOfText(const QString& text) {
  static const QRegularExpression re(QStringLiteral("^\\s*(\\d{2})-(\\d{2})-(\\d{2})\\s+(\\d{2}):(\\d{2})\\s*$"));
  const QRegularExpressionMatch m = re.match(text);
  if (!m.hasMatch()) return {};
  const QDate d(2000 + m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
  const QTime t(m.captured(4).toInt(), m.captured(5).toInt());
  if (!d.isValid() || !t.isValid()) return {};
  return QDateTime(d, t);
}
