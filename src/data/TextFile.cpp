#include "data/TextFile.h"

#include <algorithm>
#include <vector>

#include "data/Conversions.h"
#include "data/RecordTable.h"
#include "platform/Gbk.h"
#include "platform/TextTable.h"

namespace TextFile {

namespace {
constexpr int kColumns = Record::kColumns;

QStringList EmptyRow() {
  QStringList row;
  row.reserve(kColumns);
  for (int c = 0; c < kColumns; ++c) row << QString();
  return row;
}
}  // namespace

QString LineValue(const QString& line) {
  const qsizetype eq = line.indexOf(QLatin1Char('='));
  return eq < 0 ? line : line.mid(eq + 1);
}

QString PhaseValueKey(int phase) {
  static const QString keys[3] = {QStringLiteral("A相电阻"), QStringLiteral("B相电阻"), QStringLiteral("C相电阻")};
  return keys[phase >= 0 && phase < 3 ? phase : 0];
}

int LineColumn(QStringView line) {
  const qsizetype eq = line.indexOf(QLatin1Char('='));
  // Views, not copies: a file of 100,000 records has 1.4 million lines.
  const QStringView key = eq < 0 ? line : line.left(eq);
  // A key is known by the caption it holds: the program writes the
  // captions, other programs and earlier versions wrote them with more
  // around them.
  auto has = [key](int column) { return key.contains(Record::Caption(column)); };
  if (has(Record::kNumber)) return kNewRecord;
  for (int p = 0; p < 3; ++p) {
    if (key.contains(PhaseValueKey(p))) return Record::OhmColumn(p);
  }
  if (has(Record::kTime)) return has(Record::kLoadTime) ? Record::kLoadTime : Record::kTime;
  for (const int column : {Record::kDevice, Record::kTester, Record::kPlace, Record::kRange, Record::kOhmA,
                           Record::kOhmB, Record::kOhmC, Record::kPhase}) {
    if (has(column)) return column;
  }
  if (key.contains(u"测试电阻")) return Record::kPhase;  // files of earlier versions
  return -1;
}

int Records(const QString& text, const std::function<void(const QStringList& row)>& onRow) {
  QStringList row = EmptyRow();
  int count = 0;
  const qsizetype n = text.size();
  qsizetype start = 0;
  while (start < n) {
    qsizetype end = start;
    while (end < n && text[end] != QLatin1Char('\r') && text[end] != QLatin1Char('\n')) ++end;
    const QStringView line = QStringView(text).mid(start, end - start);
    const int col = LineColumn(line);
    if (col == kNewRecord) {
      // Each record is handed on once the next one begins.
      if (count > 0) {
        onRow(row);
        row = EmptyRow();
      }
      ++count;
      row[0] = LineValue(line.toString());
    } else if (col >= 0) {
      row[col] = LineValue(line.toString());
    }
    // a line ends at CR LF, a lone LF or a lone CR
    if (end < n && text[end] == QLatin1Char('\r') && end + 1 < n && text[end + 1] == QLatin1Char('\n')) ++end;
    start = end + 1;
  }
  onRow(row);
  return count;
}

QByteArray Bytes(const QStringList& captionTexts, const ITextRows& rows) {
  // The record's columns, then any further ones (a judged history row's)
  // as lines of their own after the results.
  const int columns = std::max<int>(kColumns, int(captionTexts.size()));
  std::vector<QString> captions(static_cast<size_t>(columns), QString());
  for (int c = 0; c < columns; ++c) captions[size_t(c)] = TrimText(captionTexts.value(c));
  // The resistances go under keys of their own: "测试电阻(A)" holds the key
  // "测试电阻" by which readers of the earliest files fill 测试相.
  for (int p = 0; p < 3; ++p) captions[size_t(Record::OhmColumn(p))] = PhaseValueKey(p);
  const QString lineEnd = QStringLiteral("\r\n");
  const int count = rows.RowCount();
  QString text;
  text.reserve(count * 200);
  auto put = [&](int c, int r) {
    text += captions[size_t(c)];
    text += QLatin1Char('=');
    text += TrimText(rows.Cell(r, c));
    text += lineEnd;
  };
  for (int r = 0; r < count; ++r) {
    put(Record::kNumber, r);
    text += QStringLiteral("[参数]") + lineEnd;
    for (int c = Record::kTime; c <= Record::kLoadTime; ++c) put(c, r);
    text += QStringLiteral("[试验结果]") + lineEnd;
    for (int c = Record::kPhase; c <= Record::kOhmC; ++c) put(c, r);
    for (int c = kColumns; c < columns; ++c) put(c, r);
    text += lineEnd;
    text += lineEnd;
  }
  return ToGbk(GbkCompatible(text));
}

QString UnheldCharacters(const QStringList& captions, const ITextRows& rows) {
  // Only texts beyond ASCII can hold such a character.
  QString beyond;
  auto look = [&](const QString& text) {
    for (const QChar c : text) {
      if (c.unicode() >= 0x80) {
        beyond += text;
        return;
      }
    }
  };
  for (const QString& c : captions) look(c);
  for (int r = 0; r < rows.RowCount(); ++r) {
    for (int c = 0; c < rows.ColCount(); ++c) look(rows.Cell(r, c));
  }
  return GbkUnheld(beyond);
}

}  // namespace TextFile
