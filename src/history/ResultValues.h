#pragma once
// Values of result texts: "30.5 μΩ", "1.25 mΩ", "2.500 Ω" in ohms; the
// instrument's time "24-05-02 09:07" as a date-time.
#include <QDateTime>
#include <QString>

#include <array>
#include <optional>

// The resistance a value text shows, in ohms; none for a text that is no
// number with a unit of resistance (empty, "--", a bare number whose unit
// is unknown).
std::optional<double> OhmsOfText(const QString& text);
// Ohms in micro-ohms, the unit the history shows and judges in; an empty
// phase stays empty.
inline std::optional<double> MicroOhms(const std::optional<double>& ohms) {
  return ohms ? std::optional<double>(*ohms * 1e6) : std::nullopt;
}
inline std::array<std::optional<double>, 3> MicroOhmsOf(const std::array<std::optional<double>, 3>& ohms) {
  return {MicroOhms(ohms[0]), MicroOhms(ohms[1]), MicroOhms(ohms[2])};
}
// The name of phase 0, 1 or 2: "A相", "B相", "C相".
QString PhaseLabel(int phase);
// A measured resistance in micro-ohms as the instrument writes it: one
// decimal, the rest cut off ("61.6 μΩ" for 61.68), so that the history shows
// the figure the record's own text shows.
QString MicroOhmText(double microOhm);
// A resistance the operator typed (a maximum, a reference) as typed, with one
// decimal at least ("55.0 μΩ", "55.05 μΩ").
QString TypedMicroOhmText(double microOhm);
// A measured value cut after as many decimals (one at least, six at most) as
// it takes to show it above limit: "72.03" for 72.034 over 72.
QString AboveText(double value, double limit);
// A percentage rounded to as many decimals (none at least) as it takes to
// show it above limit: "34" for 33.9 over 20, "20.04" for 20.04 over 20.
QString PercentAboveText(double percent, double limit);
// "yy-mm-dd hh:nn" as the instrument and the archive write it (years
// 2000-2099); invalid for any other text.
QDateTime TimeOfText(const QString& text);
