#include "platform/TextTable.h"

#include <algorithm>

// ---- pool ---------------------------------------------------------------------

TTextPool::TTextPool() {
  FStarts.push_back(0);
  FLengths.push_back(0);
}

void TTextPool::Reserve(size_t texts) {
  FStarts.reserve(texts + 1);
  FLengths.reserve(texts + 1);
}

std::uint32_t TTextPool::Add(QStringView text) {
  if (text.isEmpty()) return 0;
  const size_t n = size_t(text.size());
  if (FUsed + n > kBlock) {
    // A text longer than a block gets a block of its own size.
    FBlocks.push_back(std::make_unique<char16_t[]>(std::max(n, kBlock)));
    FUsed = 0;
  }
  char16_t* at = FBlocks.back().get() + FUsed;
  std::copy(text.utf16(), text.utf16() + n, at);
  FStarts.push_back(std::uint64_t(FBlocks.size() - 1) << 32 | std::uint64_t(FUsed));
  FLengths.push_back(std::uint32_t(n));
  // A text longer than a block fills it: the next one starts a new block.
  FUsed = n >= kBlock ? kBlock : FUsed + n;
  return std::uint32_t(FLengths.size() - 1);
}

QStringView TTextPool::View(std::uint32_t index) const {
  if (index == 0 || index >= FLengths.size()) return {};
  const std::uint64_t start = FStarts[index];
  return QStringView(FBlocks[size_t(start >> 32)].get() + (start & 0xFFFFFFFFu), qsizetype(FLengths[index]));
}

// ---- table --------------------------------------------------------------------

TTextTable::TTextTable(int colCount, bool)
    : FColCount(colCount < 0 ? 0 : colCount), FRecent(size_t(FColCount) * kRecent, 0) {}

void TTextTable::Reserve(size_t rows) {
  FCells.reserve(rows * size_t(FColCount));
}

void TTextTable::Add(const QStringList& texts) {
  // The views of a row of the usual width stand on the stack.
  constexpr int kOnStack = 32;
  QStringView onStack[kOnStack];
  std::vector<QStringView> onHeap;
  QStringView* views = onStack;
  if (FColCount > kOnStack) {
    onHeap.resize(size_t(FColCount));
    views = onHeap.data();
  }
  for (int c = 0; c < FColCount; ++c) views[c] = c < texts.size() ? QStringView(texts[c]) : QStringView();
  Add(views);
}

void TTextTable::Add(const QStringView* texts) {
  for (int c = 0; c < FColCount; ++c) {
    const QStringView text = texts[c];
    if (text.isEmpty()) {
      FCells.push_back(0);
      continue;
    }
    // A column often repeats a text of its last rows (the same tester,
    // place, phase): that needs no look-up.
    std::uint32_t* recent = FRecent.data() + size_t(c) * kRecent;
    std::uint32_t found = 0;
    for (int k = 0; k < kRecent && recent[k] != 0; ++k) {
      if (FTexts.View(recent[k]) == text) {
        found = recent[k];
        std::rotate(recent, recent + k, recent + k + 1);
        break;
      }
    }
    if (found == 0) {
      found = FTexts.Add(text);
      std::copy_backward(recent, recent + kRecent - 1, recent + kRecent);
      recent[0] = found;
    }
    FCells.push_back(found);
  }
}

QString TTextTable::Cell(int row, int col) const {
  if (row < 0 || row >= RowCount() || col < 0 || col >= FColCount) return {};
  return FTexts.Text(FCells[size_t(row) * size_t(FColCount) + size_t(col)]);
}

QStringView TTextTable::CellView(int row, int col, QString&) const {
  if (row < 0 || row >= RowCount() || col < 0 || col >= FColCount) return {};
  return FTexts.View(FCells[size_t(row) * size_t(FColCount) + size_t(col)]);
}

QStringList TTextTable::Row(int row) const {
  QStringList out;
  out.reserve(FColCount);
  for (int c = 0; c < FColCount; ++c) out << Cell(row, c);
  return out;
}
