#pragma once
// Integer conversion as the program's inputs use it everywhere (the load time,
// a record number of a table or a spreadsheet, an integer of the settings
// file): leading blanks, an optional sign, decimal digits (or $ / 0x
// hexadecimal), nothing after them, within the 32-bit range.
#include <QString>

bool TryStrToInt(const QString& text, int& value);
