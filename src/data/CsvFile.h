#pragma once
// CSV archives as spreadsheet programs and the program write them: UTF-8
// (with or without a byte-order mark) or GBK; comma or semicolon; fields
// quoted as RFC 4180 describes, holding separators, quotes and line breaks.
// No widget and no file here: text in, records out.
#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>

namespace CsvFile {

// The text of a CSV file: UTF-8 (with or without a byte-order mark), or GBK
// as spreadsheet programs in a Chinese locale save it.
QString Decode(const QByteArray& bytes);
// The separator of the text: a semicolon when its first line has semicolons
// and no comma, else a comma.
QChar Separator(QStringView text);
// Calls onRecord with the fields of each record of text, in order. A quoted
// field may hold separators, quotes (doubled) and line breaks; a line ends at
// CR LF, LF or CR; blank lines are no records. A quote left open runs to the
// end of the text. Returns the number of records.
int Parse(QStringView text, QChar sep, const std::function<void(QStringList& fields)>& onRecord);
// A field as RFC 4180 writes it: quoted when it holds a separator, a quote or
// a line break, or begins or ends with a blank; quotes inside are doubled.
QString Field(const QString& text);

}  // namespace CsvFile
