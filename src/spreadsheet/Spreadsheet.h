#pragma once
// The spreadsheet layer: workbooks in memory (SpreadsheetBook.h), written as
// Office Open XML or Excel 97-2003 files and read from Office Open XML,
// OpenDocument, XML spreadsheet 2003 and Excel 97-2003 files, told apart by
// their content. Every failure is an ESpreadsheetError with a Chinese reason.
#include <QString>

#include <cstdint>
#include <stdexcept>

class ESpreadsheetError : public std::runtime_error {
 public:
  explicit ESpreadsheetError(const QString& text) : std::runtime_error(text.toStdString()) {}
  QString Text() const { return QString::fromUtf8(what()); }
};

// Horizontal alignment codes of a sheet (TSheet::align), as spreadsheet
// programs number them.
enum : std::int32_t {
  kAlignGeneral = 1,
  kAlignLeft = 2,
  kAlignCenter = 3,
  kAlignRight = 4,
  kAlignFill = 5,
  kAlignJustify = 6,
  kAlignCenterAcross = 7,
};

// The text a spreadsheet shows for a number in the general format.
QString GeneralNumberText(double value);
