#pragma once
// Test-data text files: GBK, CR LF, one "key=value" line per column of a
// record. No widget and no file here: text in, records out.
#include <QString>
#include <QStringList>
#include <QStringView>

#include <QByteArray>

#include <functional>

class ITextRows;

namespace TextFile {

// Classification of a line by its key (the text before the first "=", the
// whole line when it has none): the column it fills, or -1 when the line is
// ignored. kNewRecord marks a "序号" line, which starts a record.
constexpr int kNewRecord = 100;
int LineColumn(QStringView line);
// The key the resistance of phase 0, 1 or 2 is written under: "A相电阻",
// "B相电阻", "C相电阻" (files of earlier versions: "测试电阻(A)"…, still read).
QString PhaseValueKey(int phase);
// The value of a line: the text after its first "=", the whole line if none.
QString LineValue(const QString& line);

// Reads the records of a text file's text and hands each row (11 texts) to
// onRow in order: the lines before the first "序号" line fill the first row
// too, and a row is handed on even when no "序号" line came at all. Lines end
// at CR LF, LF or CR. Returns the number of "序号" lines (the records).
int Records(const QString& text, const std::function<void(const QStringList& row)>& onRow);

// The bytes of a text file of rows (each of the record table's columns):
// one "caption=value" line per column, captions and values trimmed, GBK,
// CR LF, the parameters under "[参数]" and the results under "[试验结果]",
// two empty lines after each record.
QByteArray Bytes(const QStringList& captions, const ITextRows& rows);
// The characters of the captions and rows that a text file cannot keep
// (GBK holds them in no form; they would be written as '?'), each once, at
// most 20.
QString UnheldCharacters(const QStringList& captions, const ITextRows& rows);

}  // namespace TextFile
