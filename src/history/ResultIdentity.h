#pragma once
// What makes a stored result the test it is, whatever brought it to the
// history (an upload, an archive, an import of any export, a colleague's
// file): its device number, its test time to the minute, its phase, current
// step and load time, and its three values at the digits the tables show.
// Two arrivals of one test have one identity; the store keeps it once.
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// The moment a time cell states, in every form the program's files and
// office programs write: "25-01-12 09:20" (years 2000-2099),
// "2025-01-12 09:20", "2025-01-12 09:20:00", "2025/1/12 9:20",
// "2025.01.12 09:20", "2025-01-12T09:20:00", "2025年1月12日 9:20", a date
// alone (its midnight), or a spreadsheet's date number (days since
// 1899-12-30) of the years 1990 to 2099. Invalid for any other text, for a
// date that does not exist ("25-02-30") and for a day-first or month-first
// date ("12/01/2025" could be either).
QDateTime ImportTimeOfText(const QString& text);

// The load time a text states in seconds: "60 秒", "60秒", "60", "60 s".
std::optional<int> LoadSecondsOfText(const QString& text);

// The identity of a result of the 11 record texts. The time is the
// minute the time text states; a value is compared in micro-ohms at the
// digits its text shows ("61.6 μΩ" and "61.60 μΩ" are one value, and so are
// "1.25 mΩ" and "1250.0 μΩ"); a text that is no value (empty, "--") stands
// as it is.
QString ResultIdentity(const QStringList& texts);
