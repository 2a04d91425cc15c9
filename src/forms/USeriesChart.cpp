#include "forms/USeriesChart.h"

#include <QChart>
#include <QLegend>
#include <QLineSeries>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

#include "forms/UTrendChart.h"
#include "forms/uWaitForm.h"

namespace {

const char* const kPhaseNames[3] = {"A相", "B相", "C相"};

// Axis bounds a little outside the values, so that a flat course is a line
// in the middle and not on the frame.
void FitOhmAxis(TSeriesChart& c) {
  if (!c.anyOhm) return;
  const double span = std::max(c.highOhm - c.lowOhm, std::max(std::abs(c.highOhm) * 0.02, 0.01));
  c.MicroOhms->setRange(c.lowOhm - span * 0.1, c.highOhm + span * 0.1);
}

}  // namespace

TSeriesChart MakeSeriesChart(const QString& title) {
  TSeriesChart c;
  c.Chart = new QChart;
  c.Chart->setTitle(title);
  c.Chart->setAnimationOptions(QChart::NoAnimation);
  c.Chart->setMargins(QMargins(4, 4, 4, 4));
  c.Chart->legend()->setAlignment(Qt::AlignBottom);
  c.Seconds = new QValueAxis;
  c.Seconds->setTitleText(QStringLiteral("秒"));
  c.Seconds->setLabelFormat(QStringLiteral("%.0f"));
  c.Seconds->setRange(0, 60);
  c.MicroOhms = new QValueAxis;
  c.MicroOhms->setTitleText(QStringLiteral("μΩ"));
  c.MicroOhms->setLabelFormat(QStringLiteral("%.1f"));
  c.MicroOhms->setRange(0, 100);
  c.Amperes = new QValueAxis;
  c.Amperes->setTitleText(QStringLiteral("A"));
  c.Amperes->setLabelFormat(QStringLiteral("%.0f"));
  c.Amperes->setRange(0, 250);
  c.Amperes->setTickCount(6);
  c.Chart->addAxis(c.Seconds, Qt::AlignBottom);
  c.Chart->addAxis(c.MicroOhms, Qt::AlignLeft);
  c.Chart->addAxis(c.Amperes, Qt::AlignRight);
  for (int p = 0; p < 3; ++p) {
    c.Phase[p] = new QLineSeries;
    c.Phase[p]->setName(QString::fromUtf8(kPhaseNames[p]));
    QPen pen(PhaseColour(p));
    pen.setWidthF(2);
    c.Phase[p]->setPen(pen);
    c.Chart->addSeries(c.Phase[p]);
    c.Phase[p]->attachAxis(c.Seconds);
    c.Phase[p]->attachAxis(c.MicroOhms);
  }
  c.Current = new QLineSeries;
  c.Current->setName(QStringLiteral("电流"));
  QPen pen(QColor(0x40, 0x60, 0xC0));
  pen.setStyle(Qt::DashLine);
  c.Current->setPen(pen);
  c.Chart->addSeries(c.Current);
  c.Current->attachAxis(c.Seconds);
  c.Current->attachAxis(c.Amperes);
  c.Faults = new QScatterSeries;
  c.Faults->setName(QStringLiteral("超量程/接线错误"));
  c.Faults->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
  c.Faults->setMarkerSize(9);
  c.Faults->setColor(Qt::black);
  c.Chart->addSeries(c.Faults);
  c.Faults->attachAxis(c.Seconds);
  c.Faults->attachAxis(c.Amperes);
  SetSeriesChartFonts(c, SongFont(13), SongFont(12));
  return c;
}

void SetSeriesChartFonts(TSeriesChart& c, const QFont& title, const QFont& labels) {
  c.Chart->setTitleFont(title);
  c.Chart->legend()->setFont(labels);
  for (QValueAxis* axis : {c.Seconds, c.MicroOhms, c.Amperes}) {
    axis->setLabelsFont(labels);
    axis->setTitleFont(labels);
  }
}

void ClearSeriesChart(TSeriesChart& c) {
  for (QLineSeries* s : c.Phase) s->clear();
  c.Current->clear();
  c.Faults->clear();
  c.Seconds->setRange(0, 60);
  c.MicroOhms->setRange(0, 100);
  c.Amperes->setRange(0, 250);
  c.lowOhm = c.highOhm = c.highAmp = c.lastSecond = 0;
  c.anyOhm = false;
}

void AppendFrame(TSeriesChart& c, const TSeriesFrame& f) {
  c.lastSecond = std::max(c.lastSecond, f.seconds);
  if (c.lastSecond > c.Seconds->max()) c.Seconds->setMax(std::ceil(c.lastSecond / 30.0) * 30.0);
  if (f.fault) {
    // Marked at the foot of the current's axis: the frame carries no value.
    c.Faults->append(f.seconds, 0);
    return;
  }
  bool widened = false;
  for (int p = 0; p < 3; ++p) {
    if (!f.ohms[size_t(p)]) continue;
    const double v = *f.ohms[size_t(p)] * 1e6;
    c.Phase[p]->append(f.seconds, v);
    if (!c.anyOhm) {
      c.lowOhm = c.highOhm = v;
      c.anyOhm = true;
      widened = true;
    } else if (v < c.lowOhm || v > c.highOhm) {
      c.lowOhm = std::min(c.lowOhm, v);
      c.highOhm = std::max(c.highOhm, v);
      widened = true;
    }
  }
  if (widened) FitOhmAxis(c);
  if (f.current) {
    c.Current->append(f.seconds, *f.current);
    if (*f.current > c.highAmp) {
      c.highAmp = *f.current;
      if (c.highAmp > c.Amperes->max()) c.Amperes->setMax(std::ceil(c.highAmp * 1.2 / 50.0) * 50.0);
    }
  }
}

void FillSeriesChart(TSeriesChart& c, const TTestSeries& series) {
  ClearSeriesChart(c);
  QList<QPointF> phase[3];
  QList<QPointF> current;
  QList<QPointF> faults;
  for (const TSeriesFrame& f : series) {
    c.lastSecond = std::max(c.lastSecond, f.seconds);
    if (f.fault) {
      faults << QPointF(f.seconds, 0);
      continue;
    }
    for (int p = 0; p < 3; ++p) {
      if (!f.ohms[size_t(p)]) continue;
      const double v = *f.ohms[size_t(p)] * 1e6;
      phase[p] << QPointF(f.seconds, v);
      c.lowOhm = c.anyOhm ? std::min(c.lowOhm, v) : v;
      c.highOhm = c.anyOhm ? std::max(c.highOhm, v) : v;
      c.anyOhm = true;
    }
    if (f.current) {
      current << QPointF(f.seconds, *f.current);
      c.highAmp = std::max(c.highAmp, *f.current);
    }
  }
  for (int p = 0; p < 3; ++p) c.Phase[p]->replace(phase[p]);
  c.Current->replace(current);
  c.Faults->replace(faults);
  c.Seconds->setRange(0, std::max(10.0, std::ceil(c.lastSecond / 10.0) * 10.0));
  if (c.highAmp > 0) c.Amperes->setMax(std::ceil(c.highAmp * 1.2 / 50.0) * 50.0);
  FitOhmAxis(c);
}
