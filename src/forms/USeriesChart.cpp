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

// A chart a few hundred pixels wide shows no more than a point or two a
// pixel: a line that grows past kMostDrawn points is drawn from the lowest
// and highest point of every four, half as many, and grows again from there.
// Each append then stays cheap however long the test runs; the frames
// themselves are kept whole with the result.
constexpr int kMostDrawn = 1200;

// The top of the current's axis: 250 A steps, five ticks of 50 A and up.
double AmpereTop(double high) { return std::max(250.0, std::ceil(high * 1.1 / 250.0) * 250.0); }

void Thin(QXYSeries* series) {
  if (series->count() <= kMostDrawn) return;
  const QList<QPointF> all = series->points();
  QList<QPointF> kept;
  kept.reserve(all.size() / 2 + 2);
  for (qsizetype i = 0; i < all.size(); i += 4) {
    const qsizetype end = std::min<qsizetype>(i + 4, all.size());
    qsizetype low = i;
    qsizetype high = i;
    for (qsizetype k = i + 1; k < end; ++k) {
      if (all[k].y() < all[low].y()) low = k;
      if (all[k].y() > all[high].y()) high = k;
    }
    kept << all[std::min(low, high)];
    if (low != high) kept << all[std::max(low, high)];
  }
  series->replace(kept);
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
  c.Seconds->setTickCount(5);
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
    Thin(c.Phase[p]);
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
    Thin(c.Current);
    if (*f.current > c.highAmp) {
      c.highAmp = *f.current;
      if (c.highAmp > c.Amperes->max()) c.Amperes->setMax(AmpereTop(c.highAmp));
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
  for (int p = 0; p < 3; ++p) {
    c.Phase[p]->replace(phase[p]);
    while (c.Phase[p]->count() > kMostDrawn) Thin(c.Phase[p]);
  }
  c.Current->replace(current);
  while (c.Current->count() > kMostDrawn) Thin(c.Current);
  c.Faults->replace(faults);
  // Whole seconds at round ticks: 0 to 30 in steps of 5 or 6, and so on.
  const double top = std::max(10.0, std::ceil(c.lastSecond / 10.0) * 10.0);
  c.Seconds->setRange(0, top);
  c.Seconds->setTickCount(int(top) % 6 == 0 && top <= 60 ? 7 : 6);
  if (c.highAmp > 0) c.Amperes->setMax(AmpereTop(c.highAmp));
  FitOhmAxis(c);
}
