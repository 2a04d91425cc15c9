#pragma once
// The resistance trend of one device: phases A, B and C over time, with the
// maximum and the reference as dashed lines. The history tab shows it and the
// assessment report prints it.
#include <QString>

#include <array>
#include <optional>
#include <vector>

#include "history/Judged.h"

class QChart;
class QLineSeries;

struct TTrendChart {
  QChart* Chart = nullptr;  // owned by whoever shows it
  QLineSeries* Phase[3] = {nullptr, nullptr, nullptr};
  QLineSeries* MaxLine = nullptr;
  QLineSeries* ReferenceLine = nullptr;
};

// A new, empty chart with its series and axes.
TTrendChart MakeTrendChart();

// Shows a device's trend (history/Judged.h). Returns false when no point has
// a value.
bool FillTrend(const TTrendChart& chart, const QString& device, const TTrendSeries& series);
