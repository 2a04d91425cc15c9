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
#include <vector>

class ITextRows;

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
// The same with each field as a view, valid during the call: into the text
// where the field stands as it is, else into a copy without its quotes.
int ParseViews(QStringView text, QChar sep, const std::function<void(const std::vector<QStringView>& fields)>& onRecord);
// What reading an archive from a CSV file gave.
struct TCsvArchive {
  enum TResult {
    Read,       // every record was read
    Empty,      // no caption row: the text is blank, or holds only empty quoted fields
    BadNumber,  // a record's number is no integer; the records before it were handed on
  };
  TResult result = Read;
  int records = 0;     // handed on
  int badRecord = 0;   // BadNumber: the record's place, the caption row being 1
  QString badNumber;   // BadNumber: the number as the file has it
};
// Reads the records of a CSV archive and hands each to onRow as the 11
// texts of a record table row (views valid during the call), its number
// written "%2d". The caption row says which column is which (read as the
// text file's keys are); without a known caption the columns are taken in
// the program's order. The file's bytes go as soon as they are decoded.
TCsvArchive ReadArchive(QByteArray bytes, const std::function<void(const QStringView* row)>& onRow);

// A field as RFC 4180 writes it: quoted when it holds a separator, a quote or
// a line break, or begins or ends with a blank; quotes inside are doubled.
QString Field(const QString& text);

// The bytes of a CSV file: the caption row, then the rows; all of the
// record table's columns, trimmed; UTF-8 with a byte-order mark and CR LF
// line ends, so a spreadsheet program in a Chinese locale opens it right.
QByteArray Bytes(const QStringList& captions, const ITextRows& rows);
// The same bytes handed to put a row at a time.
void Write(const QStringList& captions, const ITextRows& rows, const std::function<void(const char*, qsizetype)>& put);

}  // namespace CsvFile
