#pragma once
// What a cell's number format makes of its number: the workbook readers show
// a date, a time or a date with time as the program itself writes them
// ("yy-mm-dd hh:nn", "yy-mm-dd", "hh:nn"); every other number keeps the text
// of a general number.
#include <QString>

#include <cstdint>

enum class TNumberShow : std::uint8_t { Number, Date, Time, DateTime };

// The kind of a built-in number format of Excel (ECMA-376 part 1, 18.8.30;
// ids 27 to 36 and 50 to 58 are the East Asian date and time formats).
TNumberShow BuiltInFormatShow(int id);
// The kind of a format code ("yy-mm-dd hh:mm", "0.00%", "[h]:mm:ss",
// "yyyy\"年\"m\"月\"d\"日\"", ...). Only the first section counts; quoted
// texts, escaped characters, colours and locale tags are not format letters.
TNumberShow FormatCodeShow(const QString& code);

// How a cell style shows a number: its kind and, for a number shown by a
// format of its own (decimals, a unit, a percent), the format code.
struct TCellFormat {
  TNumberShow show = TNumberShow::Number;
  QString code;  // empty: the general format
};
// The built-in number format id of Excel as a cell format.
TCellFormat BuiltInFormat(int id);
// A format code as a cell format.
TCellFormat FormatOfCode(const QString& code);

// The text a spreadsheet shows for a number under a number format code:
// sections for positive, negative and zero numbers; digit placeholders
// 0 # ?, the decimal point, thousands separators and scaling commas, percent,
// scientific notation, quoted and escaped texts and any other character as
// itself; colours and locale tags are not shown. A code this cannot show (a
// fraction, a condition) gives the general number text.
QString FormattedNumberText(double value, const QString& code);

// The text of a spreadsheet serial number (days since 1899-12-30, or since
// 1904-01-01 when date1904) shown as kind. A serial outside the years 1900 to
// 9999 cannot be a date and comes back as the general number text.
QString SerialText(double serial, TNumberShow kind, bool date1904 = false);

// The text of an ISO 8601 date or date with time ("2024-05-02",
// "2024-05-02T09:07:00"), as OpenDocument stores them; empty when the text is
// no such date.
QString IsoDateText(const QString& iso);
// The text of an ISO 8601 duration used as a time of day ("PT09H07M00S");
// empty when the text is no such duration.
QString IsoTimeText(const QString& iso);
