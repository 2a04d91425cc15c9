#pragma once
// The course of a live test as a chart: each phase's resistance (μΩ) against
// the seconds since the test started, in the phase colours of the trend, the
// current on a second axis, and the frames of an out-of-range or wiring
// error marked. The test dialog appends frame by frame; the history and the
// assessment report show a kept course whole.
#include <QString>

#include "data/TestSeries.h"

class QChart;
class QFont;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

struct TSeriesChart {
  QChart* Chart = nullptr;  // owned by whoever shows it
  QLineSeries* Phase[3] = {nullptr, nullptr, nullptr};
  QLineSeries* Current = nullptr;
  QScatterSeries* Faults = nullptr;
  QValueAxis* Seconds = nullptr;
  QValueAxis* MicroOhms = nullptr;
  QValueAxis* Amperes = nullptr;
  // The ranges the values reached (the axes follow them).
  double lowOhm = 0, highOhm = 0, highAmp = 0, lastSecond = 0;
  bool anyOhm = false;
};

// A new, empty chart in the program's fonts (or the given ones).
TSeriesChart MakeSeriesChart(const QString& title = QString());
void SetSeriesChartFonts(TSeriesChart& chart, const QFont& title, const QFont& labels);

// Appends one frame's points: a point each, no redraw of what is there.
void AppendFrame(TSeriesChart& chart, const TSeriesFrame& frame);
// Empties the chart.
void ClearSeriesChart(TSeriesChart& chart);
// Shows a whole course (a kept one).
void FillSeriesChart(TSeriesChart& chart, const TTestSeries& series);
