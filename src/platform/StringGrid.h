#pragma once
// A read-only text grid with one fixed header row and one fixed first column,
// addressed like the instrument tables: Cells(column, row), row 0 the
// captions, column 0 the row numbers. It is a model/view table, so tens of
// thousands of rows stay smooth.
//
// Row 0 is drawn as the horizontal header and column 0 as the vertical
// header, so both stay in place while the data scroll. Fixed cells are drawn
// raised (white top-left edges, black bottom-right edges) with their text
// centred and shifted 2 pixels left; data cells are centred, a selected row is
// filled with the highlight colour and written in white.
#include <QAbstractTableModel>
#include <QHash>
#include <QHeaderView>
#include <QStringList>
#include <QTableView>

#include "platform/TextTable.h"

#include <cstdint>
#include <vector>

// Rows read aside (from a file) for a table, kept as the table keeps them.
using TGridRows = TTextTable;

class TGridModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  TGridModel(int colCount, int rowCount, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  int RowCount() const { return FRowCount; }
  int ColCount() const { return FColCount; }
  void SetRowCount(int n);
  QString Cell(int col, int row) const;
  // The same without a copy, valid until the grid changes.
  QStringView CellView(int col, int row) const;
  void SetCell(int col, int row, const QString& text);
  // Replaces data rows 1.. at once (row 0 stays); each row is padded or cut to
  // ColCount texts.
  void ReplaceDataRows(std::vector<QStringList> rows);
  // The same with rows read aside for this table (of ColCount texts).
  void ReplaceDataRows(TGridRows rows);

 signals:
  // Cell (0, 0), drawn in the corner above the row numbers, changed.
  void CornerChanged();

 private:
  // Index of a text in FTexts, appended; texts no cell uses any more are
  // dropped now and then.
  std::uint32_t Add(const QString& text);
  void Compact();

  int FColCount;
  int FRowCount = 0;  // row 0 is the caption row
  // Each cell an index into FTexts, row by row; text 0 is the empty text.
  std::vector<std::uint32_t> FCells;
  TTextPool FTexts;
};

class TStringGrid : public QTableView {
  Q_OBJECT
 public:
  TStringGrid(int colCount, int rowCount, QWidget* parent = nullptr);

  int RowCount() const { return FModel->RowCount(); }
  void SetRowCount(int n) { FModel->SetRowCount(n); }
  int ColCount() const { return FModel->ColCount(); }
  QString Cells(int col, int row) const { return FModel->Cell(col, row); }
  QStringView CellsView(int col, int row) const { return FModel->CellView(col, row); }
  // The texts of a whole row, column 0 first.
  QStringList RowTexts(int row) const;
  void SetCells(int col, int row, const QString& text) { FModel->SetCell(col, row, text); }
  // Empties every cell of the row.
  void ClearRow(int row);
  void ReplaceDataRows(std::vector<QStringList> rows) { FModel->ReplaceDataRows(std::move(rows)); }
  void ReplaceDataRows(TGridRows rows) { FModel->ReplaceDataRows(std::move(rows)); }

  // Selected row (1-based data row, as in Cells), or -1 when nothing is selected.
  int Row() const;
  // Selects the whole row and scrolls to it; an index outside the data rows
  // clears the selection.
  void SetRow(int row);

  int ColWidths(int col) const;
  void SetColWidths(int col, int width);
  int RowHeights(int row) const;
  void SetRowHeights(int row, int height);
  int DefaultRowHeight() const { return FDefaultRowHeight; }

  TGridModel* Model() const { return FModel; }
  // The text a data cell shows: cut with an ellipsis inside its own cell
  // when it does not fit (the cell's tip then shows it whole).
  QString ShownText(int col, int row) const;

 protected:
  void changeEvent(QEvent* event) override;

 private:
  TGridModel* FModel;
  int FDefaultRowHeight = 24;
};
