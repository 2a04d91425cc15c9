#pragma once
// The small conversions several parts use: byte-limited heads and tails of
// texts, the program's date-time texts, the names and codes of the current
// ranges and phase modes, the baud-rate list, and trimming.
#include <QDateTime>
#include <QString>

#include <cstdint>

// The baud rates of the settings dialog's list; giBaudRate is 1-based into it.
inline constexpr std::int32_t kBaudRates[] = {300,   600,   1200,  2400,   4800,  9600, 19200,
                                              38400, 43000, 56000, 57600, 115200, 256000};
inline constexpr int kBaudRateCount = static_cast<int>(sizeof kBaudRates / sizeof kBaudRates[0]);

// First / last n GBK bytes of s, never splitting a double-byte character.
QString HeadOf(const QString& s, std::int32_t n);
QString TailOf(const QString& s, std::int32_t n);
// "yy-mm-dd hh:nn"
QString DateTimeText(const QDateTime& t);
// "yy-mm-dd hh-nn-ss"
QString DateTimeFileText(const QDateTime& t);
std::int32_t BaudRateOf(std::uint32_t index);
QString CurrentStepName(std::int32_t index);
std::int32_t CurrentStepCode(const QString& text);
QString PhaseName(std::int32_t code);
std::int32_t PhaseCode(const QString& text);
// Trims leading and trailing characters whose code is at most 32.
QString TrimText(const QString& s);
// The same as a view of s, without a copy.
QStringView TrimmedView(QStringView s);
