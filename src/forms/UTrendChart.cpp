#include "forms/UTrendChart.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>

#include "history/ResultValues.h"

QColor PhaseColour(int phase) {
  static const QColor colours[3] = {QColor(0xD4, 0xA0, 0x00), QColor(0x2F, 0xA0, 0x4A), QColor(0xD0, 0x30, 0x30)};
  return colours[phase >= 0 && phase < 3 ? phase : 0];
}

// Purple: far from each phase's colour, so the maximum is never taken for C相.
QColor MaxLineColour() { return QColor(0x80, 0x30, 0xC0); }

TTrendChart MakeTrendChart() {
  TTrendChart c;
  auto* chart = new QChart;
  c.Chart = chart;
  chart->setTitle(QStringLiteral("电阻趋势"));
  chart->legend()->setAlignment(Qt::AlignBottom);
  for (int p = 0; p < 3; ++p) {
    c.Phase[p] = new QLineSeries(chart);
    c.Phase[p]->setName(PhaseLabel(p));
    c.Phase[p]->setPen(QPen(PhaseColour(p), 2));
    c.Phase[p]->setPointsVisible(true);
    chart->addSeries(c.Phase[p]);
  }
  c.MaxLine = new QLineSeries(chart);
  c.MaxLine->setName(QStringLiteral("上限"));
  c.MaxLine->setPen(QPen(MaxLineColour(), 1.5, Qt::DashLine));
  chart->addSeries(c.MaxLine);
  for (int p = 0; p < 3; ++p) {
    c.ReferenceLine[p] = new QLineSeries(chart);
    c.ReferenceLine[p]->setName(PhaseLabel(p) + QStringLiteral("基准"));
    c.ReferenceLine[p]->setPen(QPen(PhaseColour(p), 1.5, Qt::DotLine));
    chart->addSeries(c.ReferenceLine[p]);
  }
  auto* x = new QDateTimeAxis(chart);
  x->setFormat(QStringLiteral("yy-MM-dd"));
  auto* y = new QValueAxis(chart);
  y->setTitleText(QStringLiteral("μΩ"));
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  for (QLineSeries* series :
       {c.Phase[0], c.Phase[1], c.Phase[2], c.MaxLine, c.ReferenceLine[0], c.ReferenceLine[1], c.ReferenceLine[2]}) {
    series->attachAxis(x);
    series->attachAxis(y);
  }
  return c;
}

bool FillTrend(const TTrendChart& c, const QString& device, const TTrendSeries& s) {
  for (int p = 0; p < 3; ++p) c.Phase[p]->replace(s.phase[p]);
  auto line = [&](QLineSeries* series, const std::optional<double>& v) {
    if (v) {
      series->replace(QList<QPointF>{QPointF(double(s.first), *v), QPointF(double(s.last), *v)});
    } else {
      series->clear();
    }
  };
  line(c.MaxLine, s.maxLine);
  c.MaxLine->setVisible(c.MaxLine->count() > 0);
  for (int p = 0; p < 3; ++p) {
    // A phase without a point of its own has no line of its own either.
    line(c.ReferenceLine[p], s.phase[p].isEmpty() ? std::nullopt : s.referenceLine[p]);
    c.ReferenceLine[p]->setVisible(c.ReferenceLine[p]->count() > 0);
  }
  c.Chart->setTitle(QStringLiteral("%1 电阻趋势").arg(device));
  auto* x = qobject_cast<QDateTimeAxis*>(c.Chart->axes(Qt::Horizontal).value(0));
  auto* y = qobject_cast<QValueAxis*>(c.Chart->axes(Qt::Vertical).value(0));
  if (s.any && x && y) {
    x->setRange(QDateTime::fromMSecsSinceEpoch(s.first), QDateTime::fromMSecsSinceEpoch(s.last));
    // Results of a few days apart are told apart by their hour.
    x->setFormat(s.last - s.first < 3 * 86400000LL ? QStringLiteral("MM-dd hh:mm") : QStringLiteral("yy-MM-dd"));
    y->setRange(s.low, s.high);
  }
  return s.any;
}
