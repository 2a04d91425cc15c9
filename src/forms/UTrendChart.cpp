#include "forms/UTrendChart.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>

#include <algorithm>

#include "history/ResultValues.h"

TTrendChart MakeTrendChart() {
  TTrendChart c;
  auto* chart = new QChart;
  c.Chart = chart;
  chart->setTitle(QStringLiteral("电阻趋势"));
  chart->legend()->setAlignment(Qt::AlignBottom);
  const QColor colours[3] = {QColor(0xD4, 0xA0, 0x00), QColor(0x2F, 0xA0, 0x4A), QColor(0xD0, 0x30, 0x30)};
  for (int p = 0; p < 3; ++p) {
    c.Phase[p] = new QLineSeries(chart);
    c.Phase[p]->setName(PhaseLabel(p));
    c.Phase[p]->setPen(QPen(colours[p], 2));
    c.Phase[p]->setPointsVisible(true);
    chart->addSeries(c.Phase[p]);
  }
  c.MaxLine = new QLineSeries(chart);
  c.MaxLine->setName(QStringLiteral("上限"));
  c.MaxLine->setPen(QPen(Qt::red, 1, Qt::DashLine));
  c.ReferenceLine = new QLineSeries(chart);
  c.ReferenceLine->setName(QStringLiteral("基准"));
  c.ReferenceLine->setPen(QPen(Qt::darkBlue, 1, Qt::DashLine));
  chart->addSeries(c.MaxLine);
  chart->addSeries(c.ReferenceLine);
  auto* x = new QDateTimeAxis(chart);
  x->setFormat(QStringLiteral("yy-MM-dd"));
  auto* y = new QValueAxis(chart);
  y->setTitleText(QStringLiteral("μΩ"));
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  for (QLineSeries* series : {c.Phase[0], c.Phase[1], c.Phase[2], c.MaxLine, c.ReferenceLine}) {
    series->attachAxis(x);
    series->attachAxis(y);
  }
  return c;
}

bool FillTrend(const TTrendChart& c, const QString& device, const std::vector<TTrendPoint>& results,
               const TCriteria& criteria, const std::array<std::optional<double>, 3>& reference) {
  QList<QPointF> points[3];
  double low = 0;
  double high = 0;
  qint64 first = 0;
  qint64 last = 0;
  bool any = false;
  for (const TTrendPoint& r : results) {
    const qint64 t = r.time.toMSecsSinceEpoch();
    for (int p = 0; p < 3; ++p) {
      if (!r.ohms[size_t(p)]) continue;
      const double v = *r.ohms[size_t(p)] * 1e6;
      points[p].append(QPointF(double(t), v));
      low = any ? std::min(low, v) : v;
      high = any ? std::max(high, v) : v;
      first = any ? std::min(first, t) : t;
      last = any ? std::max(last, t) : t;
      any = true;
    }
  }
  for (int p = 0; p < 3; ++p) c.Phase[p]->replace(points[p]);
  const std::optional<double> ref = criteria.referenceMicroOhm ? criteria.referenceMicroOhm : reference[0];
  if (last == first) {  // results of one moment stand in the middle of a day
    first -= 43200000;
    last += 43200000;
  }
  auto line = [&](QLineSeries* s, const std::optional<double>& v) {
    if (v) {
      s->replace(QList<QPointF>{QPointF(double(first), *v), QPointF(double(last), *v)});
      low = std::min(low, *v);
      high = std::max(high, *v);
    } else {
      s->clear();
    }
  };
  line(c.MaxLine, criteria.maxMicroOhm);
  line(c.ReferenceLine, ref);
  c.Chart->setTitle(QStringLiteral("%1 电阻趋势").arg(device));
  auto* x = qobject_cast<QDateTimeAxis*>(c.Chart->axes(Qt::Horizontal).value(0));
  auto* y = qobject_cast<QValueAxis*>(c.Chart->axes(Qt::Vertical).value(0));
  if (any && x && y) {
    x->setRange(QDateTime::fromMSecsSinceEpoch(first), QDateTime::fromMSecsSinceEpoch(last));
    // Results of a few days apart are told apart by their hour.
    x->setFormat(last - first < 3 * 86400000LL ? QStringLiteral("MM-dd hh:mm") : QStringLiteral("yy-MM-dd"));
    const double margin = std::max((high - low) * 0.1, 1.0);
    y->setRange(std::max(0.0, low - margin), high + margin);
  }
  return any;
}
