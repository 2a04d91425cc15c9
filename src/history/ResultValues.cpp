#include "history/ResultValues.h"

#include <QRegularExpression>

std::optional<double> OhmsOfText(const QString& text) {
  // μ is the Greek small mu the program writes; µ (the micro sign) and u
  // come from files typed elsewhere.
  static const QRegularExpression re(QStringLiteral("^\\s*([-+]?\\d+(?:\\.\\d*)?|[-+]?\\.\\d+)\\s*([μµu]|m)?\\s*(Ω|ohm)\\s*$"),
                                     QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch m = re.match(text);
  if (!m.hasMatch()) return std::nullopt;
  bool ok = false;
  const double v = m.captured(1).toDouble(&ok);
  if (!ok) return std::nullopt;
  const QString prefix = m.captured(2);
  if (prefix.isEmpty()) return v;
  if (prefix == QLatin1String("m") || prefix == QLatin1String("M")) return v * 1e-3;
  return v * 1e-6;
}

QString MicroOhmText(double microOhm) { return QString::number(microOhm, 'f', 1) + QStringLiteral(" μΩ"); }

QDateTime TimeOfText(const QString& text) {
  static const QRegularExpression re(QStringLiteral("^\\s*(\\d{2})-(\\d{2})-(\\d{2})\\s+(\\d{2}):(\\d{2})\\s*$"));
  const QRegularExpressionMatch m = re.match(text);
  if (!m.hasMatch()) return {};
  const QDate d(2000 + m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
  const QTime t(m.captured(4).toInt(), m.captured(5).toInt());
  if (!d.isValid() || !t.isValid()) return {};
  return QDateTime(d, t);
}
