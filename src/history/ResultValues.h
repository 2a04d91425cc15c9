#pragma once
// Values of result texts: "30.5 μΩ", "1.25 mΩ", "2.500 Ω" in ohms; the
// instrument's time "24-05-02 09:07" as a date-time.
#include <QDateTime>
#include <QString>

#include <optional>

// The resistance a value text shows, in ohms; none for a text that is no
// number with a unit of resistance (empty, "--", a bare number whose unit
// is unknown).
std::optional<double> OhmsOfText(const QString& text);
// A resistance in micro-ohms as the history shows it ("61.6 μΩ").
QString MicroOhmText(double microOhm);
// "yy-mm-dd hh:nn" as the instrument and the archive write it (years
// 2000-2099); invalid for any other text.
QDateTime TimeOfText(const QString& text);
