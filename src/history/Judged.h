#pragma once
// Stored results as the history shows and reports them: judged against the
// criteria of their device, and a device's trend as series of points. The
// history tab and the assessment report both read them from here.
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

#include "history/Assessment.h"
#include "history/ResultStore.h"

// The columns of a judged row: the record table's, then these.
namespace Judged {
enum TColumn : int { kMax = 11, kImbalance = 12, kRise = 13, kVerdict = 14 };
constexpr int kColumns = 15;
// The captions: the record table's, then "最大值", "三相不平衡", "较基准变化",
// "结论".
const QStringList& Captions();
}  // namespace Judged

struct THistoryRow {
  QStringList texts;  // Judged::kColumns texts
  TVerdictKind verdict = TVerdictKind::NotJudged;
  QStringList reasons;
  QString series;  // the live test's course as text (data/TestSeries.h); empty: none
};

// The criteria and reference a device's results are judged by.
struct TJudge {
  TCriteria criteria;
  std::array<std::optional<double>, 3> reference;  // μΩ, the device's first values
};

// A stored result as the history shows it: its 11 texts, then "最大值",
// "三相不平衡", "较基准变化" and "结论" as the criteria judge it.
THistoryRow JudgedRow(const TStoredResult& result, const TJudge& judge);

// "58 %", and the change against the reference with its sign, "+12 %".
QString PercentText(double percent);
QString SignedPercentText(double percent);

// A device's trend: each phase's points (x the time in ms since the epoch, y
// μΩ; of more results than a chart can tell apart, the first, lowest,
// highest and last of each span of time), the maximum and each phase's
// reference as lines across the time range, and the ranges of both axes.
struct TTrendSeries {
  QList<QPointF> phase[3];
  std::optional<double> maxLine;
  std::optional<double> referenceLine[3];  // each phase's own, as its verdicts use
  qint64 first = 0;  // a single moment stands in the middle of its day
  qint64 last = 0;
  double low = 0;    // with a margin
  double high = 0;
  bool any = false;  // some point has a value
};
TTrendSeries TrendSeries(const std::vector<TTrendPoint>& points, const TJudge& judge);

// What a point of the trend tells when hovered: its result's time, the
// values of its phases and its verdict with the reasons. The result is the
// one at the point's time whose phase value is nearest.
QString TrendPointText(const std::vector<TTrendPoint>& points, const TJudge& judge, int phase, const QPointF& point);

// Results judged by the criteria and the reference of their devices, each
// device's read from the store once. Throws EAppError.
std::vector<THistoryRow> JudgedRows(const TResultStore& store, const std::vector<TStoredResult>& results);
