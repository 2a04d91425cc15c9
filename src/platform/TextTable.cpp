#include "platform/TextTable.h"

TTextTable::TTextTable(int colCount, bool findRepeats)
    : FColCount(colCount < 0 ? 0 : colCount), FFindRepeats(findRepeats) {
  FTexts.emplace_back();
}

void TTextTable::Reserve(size_t rows) {
  FCells.reserve(rows * size_t(FColCount));
  if (!FFindRepeats) FTexts.reserve(rows * size_t(FColCount) + 1);
}

std::uint32_t TTextTable::Intern(const QString& text) {
  if (text.isEmpty()) return 0;
  if (!FFindRepeats) {
    FTexts.push_back(text);
    return std::uint32_t(FTexts.size() - 1);
  }
  // A text handed in again is the same shared string (a workbook's shared
  // strings are): it is found by where its characters are, without reading
  // them. Texts that only look alike are kept apart, which costs memory but
  // never a wrong text.
  const void* at = text.constData();
  const auto it = FIndex.constFind(at);
  if (it != FIndex.cend() && FTexts[it.value()].size() == text.size()) return it.value();
  const auto index = std::uint32_t(FTexts.size());
  FTexts.push_back(text);
  FIndex.insert(at, index);
  return index;
}

void TTextTable::Add(const QStringList& texts) {
  const bool first = FCells.size() < size_t(FColCount);
  const size_t above = first ? 0 : FCells.size() - size_t(FColCount);
  for (int c = 0; c < FColCount; ++c) {
    const QString text = c < texts.size() ? texts[c] : QString();
    // A column often repeats the row above (the same tester, place, phase):
    // that needs no look-up.
    if (!first) {
      const std::uint32_t up = FCells[above + size_t(c)];
      if (FTexts[up] == text) {
        FCells.push_back(up);
        continue;
      }
    }
    FCells.push_back(Intern(text));
  }
}

QString TTextTable::Cell(int row, int col) const {
  if (row < 0 || row >= RowCount() || col < 0 || col >= FColCount) return {};
  return FTexts[FCells[size_t(row) * size_t(FColCount) + size_t(col)]];
}

QStringList TTextTable::Row(int row) const {
  QStringList out;
  out.reserve(FColCount);
  for (int c = 0; c < FColCount; ++c) out << Cell(row, c);
  return out;
}
