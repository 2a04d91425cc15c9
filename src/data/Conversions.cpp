#include "data/Conversions.h"

#include "data/RecordTable.h"
#include "platform/Gbk.h"

QString HeadOf(const QString& s, std::int32_t n) { return GbkHead(s, n); }

QString TailOf(const QString& s, std::int32_t n) { return GbkTail(s, n); }

QString DateTimeText(const QDateTime& t) {
  const QDate d = t.date();
  const QTime h = t.time();
  return QString::asprintf("%02d-%02d-%02d %02d:%02d", d.year() % 100, d.month(), d.day(), h.hour(),
                           h.minute());
}

QString DateTimeFileText(const QDateTime& t) {
  const QDate d = t.date();
  const QTime h = t.time();
  return QString::asprintf("%02d-%02d-%02d %02d-%02d-%02d", d.year() % 100, d.month(), d.day(),
                           h.hour(), h.minute(), h.second());
}

std::int32_t BaudRateOf(std::uint32_t index) {
  if (index < 1 || index > static_cast<std::uint32_t>(kBaudRateCount)) return 57600;
  return kBaudRates[index - 1];
}

QString CurrentStepName(std::int32_t index) {
  if (index == 0) return QStringLiteral("100A");
  if (index == 1) return QStringLiteral("200A");
  return {};
}

std::int32_t CurrentStepCode(const QString& text) {
  if (text == QLatin1String("100A")) return 0;
  if (text == QLatin1String("200A")) return 1;
  return -1;
}

QString PhaseName(std::int32_t code) {
  if (code == 1) return Record::kSinglePhase;
  if (code == 3) return Record::kThreePhases;
  return {};
}

std::int32_t PhaseCode(const QString& text) {
  if (text == Record::kSinglePhase) return 1;
  if (text == Record::kThreePhases) return 3;
  return -1;
}

QString TrimText(const QString& s) {
  const QStringView t = TrimmedView(s);
  return t.size() == s.size() ? s : t.toString();
}

QStringView TrimmedView(QStringView s) {
  qsizetype b = 0;
  qsizetype e = s.size();
  while (b < e && s[b].unicode() <= 32) ++b;
  while (e > b && s[e - 1].unicode() <= 32) --e;
  return s.mid(b, e - b);
}
