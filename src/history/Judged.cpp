#include "history/Judged.h"

#include <algorithm>
#include <cmath>

#include "data/RecordTable.h"
#include "history/ResultValues.h"

namespace Judged {
const QStringList& Captions() {
  static const QStringList captions = Record::Captions() + QStringList{QStringLiteral("最大值"), QStringLiteral("三相不平衡"),
                                                                         QStringLiteral("较基准变化"), QStringLiteral("结论")};
  return captions;
}
}  // namespace Judged

QString PercentText(double p) { return QString::number(p, 'f', 0) + QStringLiteral(" %"); }

QString SignedPercentText(double p) {
  const long r = std::lround(p);
  return (r > 0 ? QStringLiteral("+") : QString()) + QString::number(r) + QStringLiteral(" %");
}

THistoryRow JudgedRow(const TStoredResult& r, const TJudge& judge) {
  const TVerdict v = Assess(MicroOhmsOf(r.ohms), judge.criteria, judge.reference);
  THistoryRow row;
  row.texts = r.texts.mid(0, Record::kColumns);
  while (row.texts.size() < Record::kColumns) row.texts << QString();
  row.texts << (v.maxMicroOhm ? MicroOhmText(*v.maxMicroOhm) : QString())
            << (v.imbalancePercent ? PercentText(*v.imbalancePercent) : QString())
            << (v.risePercent ? SignedPercentText(*v.risePercent) : QString()) << v.Text();
  row.verdict = v.kind;
  row.reasons = v.reasons;
  row.series = r.series;
  return row;
}

namespace {

// A phase of more points than a chart's width can tell apart keeps, in
// each of kBuckets spans of time, its first, lowest, highest and last
// points: every extreme stays in view, and each point drawn is a result.
constexpr int kBuckets = 400;

QList<QPointF> Thinned(const QList<QPointF>& points) {
  if (points.size() <= 4 * kBuckets) return points;
  const double first = points.front().x();
  const double span = std::max(points.back().x() - first, 1.0);
  QList<QPointF> out;
  out.reserve(4 * kBuckets);
  qsizetype begin = 0;
  while (begin < points.size()) {
    const int bucket = std::min(int((points[begin].x() - first) / span * kBuckets), kBuckets - 1);
    qsizetype end = begin;
    qsizetype low = begin;
    qsizetype high = begin;
    while (end < points.size() && std::min(int((points[end].x() - first) / span * kBuckets), kBuckets - 1) == bucket) {
      if (points[end].y() < points[low].y()) low = end;
      if (points[end].y() > points[high].y()) high = end;
      ++end;
    }
    // In time order, each once.
    qsizetype kept[4] = {begin, std::min(low, high), std::max(low, high), end - 1};
    for (int k = 0; k < 4; ++k) {
      if (k > 0 && kept[k] == kept[k - 1]) continue;
      out.append(points[kept[k]]);
    }
    begin = end;
  }
  return out;
}

}  // namespace

TTrendSeries TrendSeries(const std::vector<TTrendPoint>& results, const TJudge& judge) {
  TTrendSeries s;
  for (const TTrendPoint& r : results) {
    const qint64 t = r.ms;
    const auto micro = MicroOhmsOf(r.ohms);
    for (int p = 0; p < 3; ++p) {
      if (!micro[size_t(p)]) continue;
      const double v = *micro[size_t(p)];
      s.phase[p].append(QPointF(double(t), v));
      s.low = s.any ? std::min(s.low, v) : v;
      s.high = s.any ? std::max(s.high, v) : v;
      s.first = s.any ? std::min(s.first, t) : t;
      s.last = s.any ? std::max(s.last, t) : t;
      s.any = true;
    }
  }
  for (int p = 0; p < 3; ++p) s.phase[p] = Thinned(s.phase[p]);
  s.maxLine = judge.criteria.maxMicroOhm;
  for (int p = 0; p < 3; ++p) s.referenceLine[p] = ReferenceOf(judge.criteria, judge.reference, p);
  if (s.last == s.first) {  // results of one moment stand in the middle of a day
    s.first -= 43200000;
    s.last += 43200000;
  }
  for (const std::optional<double>& line : {s.maxLine, s.referenceLine[0], s.referenceLine[1], s.referenceLine[2]}) {
    if (!line) continue;
    s.low = std::min(s.low, *line);
    s.high = std::max(s.high, *line);
  }
  const double margin = std::max((s.high - s.low) * 0.1, 1.0);
  s.low = std::max(0.0, s.low - margin);
  s.high += margin;
  return s;
}

QString TrendPointText(const std::vector<TTrendPoint>& points, const TJudge& judge, int phase, const QPointF& point) {
  // The result the point belongs to: at its time, with the value nearest
  // (results of one minute share a time).
  const TTrendPoint* found = nullptr;
  double distance = 0;
  for (const TTrendPoint& r : points) {
    const std::optional<double>& v = r.ohms[size_t(phase)];
    if (!v || double(r.ms) != point.x()) continue;
    const double d = std::fabs(*MicroOhms(*v) - point.y());
    if (!found || d < distance) {
      found = &r;
      distance = d;
    }
  }
  if (!found) return MicroOhmText(point.y());
  QStringList parts{found->Time().toString(QStringLiteral("yy-MM-dd hh:mm"))};
  const auto micro = MicroOhmsOf(found->ohms);
  for (size_t p = 0; p < 3; ++p) {
    if (micro[p]) parts << PhaseLabel(int(p)) + QLatin1Char(' ') + MicroOhmText(*micro[p]);
  }
  const TVerdict v = Assess(micro, judge.criteria, judge.reference);
  if (!v.Text().isEmpty()) {
    parts << (v.reasons.isEmpty() ? v.Text() : v.Text() + QStringLiteral("：") + v.reasons.join(QStringLiteral("；")));
  }
  return parts.join(QStringLiteral("  "));
}

std::vector<THistoryRow> JudgedRows(const TResultStore& store, const std::vector<TStoredResult>& results) {
  QStringList devices;
  for (const TStoredResult& r : results) {
    if (!devices.contains(r.device)) devices << r.device;
  }
  const auto criteria = store.CriteriaOf(devices);
  const auto first = store.FirstValuesOf(devices);
  std::vector<THistoryRow> rows;
  rows.reserve(results.size());
  for (const TStoredResult& r : results) rows.push_back(JudgedRow(r, TJudge{criteria.at(r.device), first.at(r.device)}));
  return rows;
}
