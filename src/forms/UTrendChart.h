#pragma once
// The resistance trend of one device: phases A, B and C over time, with the
// maximum and the reference as dashed lines. The history tab shows it and the
// assessment report prints it.
#include <QString>

#include <array>
#include <optional>
#include <vector>

#include "history/Assessment.h"
#include "history/ResultStore.h"

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

// Shows the device's points (oldest first) and its criteria; the reference
// line is the typed-in reference, else the first value of phase A. Returns
// false when no point has a value.
bool FillTrend(const TTrendChart& chart, const QString& device, const std::vector<TTrendPoint>& points,
               const TCriteria& criteria, const std::array<std::optional<double>, 3>& reference);
