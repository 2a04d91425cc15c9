#pragma once
// Tables of texts kept compactly: each cell an index to its text, the
// texts' characters one after the other in large blocks (12 bytes a text
// besides its characters, no allocation of its own), a text handed in again
// (one of the last few texts of its column) kept once. A million records of eleven cells take 44 MB
// of indices and about the bytes of their texts. The record tables of the
// files and the grids keep their rows this way.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

// Rows of texts as a writer reads them.
class ITextRows {
 public:
  virtual ~ITextRows() = default;
  virtual int RowCount() const = 0;
  virtual int ColCount() const = 0;
  // The text of a cell; empty outside the table.
  virtual QString Cell(int row, int col) const = 0;
  // The same as a view, valid until the next call or scratch changes; a
  // table that keeps its texts hands a view of them without a copy.
  virtual QStringView CellView(int row, int col, QString& scratch) const {
    scratch = Cell(row, col);
    return scratch;
  }
};

// Texts by number, their characters packed in blocks; text 0 is the empty
// text. Texts are only appended.
class TTextPool {
 public:
  TTextPool();
  std::uint32_t Add(QStringView text);
  QString Text(std::uint32_t index) const { return View(index).toString(); }
  QStringView View(std::uint32_t index) const;
  size_t Size() const { return FLengths.size(); }
  void Reserve(size_t texts);

 private:
  static constexpr size_t kBlock = size_t(1) << 20;  // characters
  std::vector<std::unique_ptr<char16_t[]>> FBlocks;
  size_t FUsed = kBlock;  // characters used in the last block
  std::vector<std::uint64_t> FStarts;  // block << 32 | offset
  std::vector<std::uint32_t> FLengths;
};

class TTextTable : public ITextRows {
 public:
  // Each text is looked for among the last few of its column (a tester, a
  // place, a phase repeat); findRepeats is kept for callers of earlier
  // versions and changes nothing.
  explicit TTextTable(int colCount, bool findRepeats = true);
  // Room for rows rows.
  void Reserve(size_t rows);
  // Appends a row of the first colCount texts (missing ones empty).
  void Add(const QStringList& texts);
  // The same from colCount views.
  void Add(const QStringView* texts);
  int RowCount() const override { return FColCount > 0 ? int(FCells.size() / size_t(FColCount)) : 0; }
  int ColCount() const override { return FColCount; }
  QString Cell(int row, int col) const override;
  QStringView CellView(int row, int col, QString& scratch) const override;
  QStringList Row(int row) const;

 private:
  friend class TGridModel;

  int FColCount;
  std::vector<std::uint32_t> FCells;  // row by row
  TTextPool FTexts;
  // The last few texts of each column, looked at before a text is added.
  static constexpr int kRecent = 4;
  std::vector<std::uint32_t> FRecent;  // kRecent a column
};
