#pragma once
// Tables of texts kept compactly: each cell an index to its text, a text
// handed in again (the same shared string, or the same as the row above)
// kept once. A million rows of eleven cells take 44 MB of indices; the
// texts themselves are shared with whoever handed them in. The record
// tables of the files and the grids keep their rows this way.
#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// Rows of texts as a writer reads them.
class ITextRows {
 public:
  virtual ~ITextRows() = default;
  virtual int RowCount() const = 0;
  virtual int ColCount() const = 0;
  // The text of a cell; empty outside the table.
  virtual QString Cell(int row, int col) const = 0;
};

class TTextTable : public ITextRows {
 public:
  // findRepeats: look up each text among those handed in before; without,
  // only a text the same as the row above's is kept once (for rows whose
  // texts are all their own, where a look-up would find nothing).
  explicit TTextTable(int colCount, bool findRepeats = true);
  // Room for rows rows.
  void Reserve(size_t rows);
  // Appends a row of the first colCount texts (missing ones empty).
  void Add(const QStringList& texts);
  int RowCount() const override { return FColCount > 0 ? int(FCells.size() / size_t(FColCount)) : 0; }
  int ColCount() const override { return FColCount; }
  QString Cell(int row, int col) const override;
  QStringList Row(int row) const;

 private:
  friend class TGridModel;
  std::uint32_t Intern(const QString& text);

  int FColCount;
  bool FFindRepeats;
  std::vector<std::uint32_t> FCells;  // row by row
  std::vector<QString> FTexts;        // FTexts[0] is the empty text
  QHash<const void*, std::uint32_t> FIndex;  // where a text's characters are
};
