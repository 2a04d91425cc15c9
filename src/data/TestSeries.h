#pragma once
// The course of a live test: one frame a second of each phase's resistance
// and the current, from the start of the test. It is shown as the test runs,
// judged settled or not, kept with the archived result (as text) and
// exported as CSV.
#include <QString>

#include <array>
#include <optional>
#include <vector>

struct TSeriesFrame {
  double seconds = 0;                          // since the test started
  std::array<std::optional<double>, 3> ohms;   // phases A, B, C, ohms; none where not measured
  std::optional<double> current;               // amperes (phase A's channel)
  bool fault = false;                          // an out-of-range or wiring-error frame: no values
};

using TTestSeries = std::vector<TSeriesFrame>;

// How settled is judged: the last Frames values of a phase within ±Percent %
// of their mean.
struct TSettleRule {
  int frames = 5;
  double percent = 1.0;
};

class TIniFile;
// The rule of the settings file ([LiveTest] SettleFrames 2..60, SettlePercent
// 0.1..20), 5 frames and 1 % where it holds none.
TSettleRule SettleRuleOf(const TIniFile& ini);
void WriteSettleRule(TIniFile& ini, const TSettleRule& rule);

// Whether any frame carries a value of phase p (0..2).
bool PhaseMeasured(const TTestSeries& series, int phase);

// Whether phase p (0..2) has settled by the rule: the last rule.frames
// frames all carry a value and lie within the band. A fault frame among
// them, or fewer frames, is not settled.
bool PhaseSettled(const TTestSeries& series, int phase, const TSettleRule& rule);

// The series as the history keeps it: one line a frame, "seconds;A;B;C;I"
// (ohms and amperes, empty where there is no value, "!" for a fault frame).
QString SeriesText(const TTestSeries& series);
// The series of such a text; lines that do not read are left out, and at
// most kMaxFrames frames are read.
TTestSeries SeriesOfText(const QString& text);
inline constexpr int kMaxSeriesFrames = 100000;

// The series as a CSV file's text, one row a frame under a caption row:
// seconds, the three resistances in μΩ, the current in A.
QString SeriesCsv(const TTestSeries& series);
