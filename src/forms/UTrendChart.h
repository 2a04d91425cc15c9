#pragma once
// The resistance trend of one device: phases A, B and C over time, with the
// maximum as a dashed line and each phase's reference as a dotted line in
// the phase's colour. The history tab shows it and the
// assessment report prints it.
#include <QString>

#include <array>
#include <optional>
#include <vector>

#include "history/Judged.h"

class QChart;
class QColor;
class QLineSeries;

struct TTrendChart {
  QChart* Chart = nullptr;  // owned by whoever shows it
  QLineSeries* Phase[3] = {nullptr, nullptr, nullptr};
  QLineSeries* MaxLine = nullptr;
  QLineSeries* ReferenceLine[3] = {nullptr, nullptr, nullptr};
};

// The colours of phases A, B, C (yellow, green and red, as the phases of a
// switchyard are marked) and of the maximum's line.
QColor PhaseColour(int phase);
QColor MaxLineColour();

// A new, empty chart with its series and axes.
TTrendChart MakeTrendChart();

// Shows a device's trend (history/Judged.h). Returns false when no point has
// a value.
bool FillTrend(const TTrendChart& chart, const QString& device, const TTrendSeries& series);
