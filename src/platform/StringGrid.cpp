#include "platform/StringGrid.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QTextLayout>
#include <QtMath>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>

namespace {

// Draws text centred in r, shifted dx pixels, on one baseline. The text box is
// the line as it is drawn: Chinese characters come from a fallback face that
// is taller than the Latin face the font names, and a box measured from the
// Latin face alone would cut their lower strokes.
void DrawCentredText(QPainter* p, const QRect& r, const QString& text, const QFont& font, int dx) {
  if (text.isEmpty()) return;
  QTextLayout layout(text, font);
  layout.beginLayout();
  QTextLine line = layout.createLine();
  layout.endLayout();
  const int tw = qRound(line.naturalTextWidth());
  const int th = qCeil(line.ascent() + line.descent());
  const int x = r.left() + (r.width() - tw) / 2 + dx;
  const int y = r.top() + (r.height() - th) / 2;
  p->setFont(font);
  p->drawText(QPointF(x, y + qRound(line.ascent())), text);
}

// Raised look of a fixed cell: widen the rectangle by one pixel right and
// down, fill with the button face, white left and top edges, black right and
// bottom edges, text centred and 2 pixels left of centre.
void PaintFixedCell(QPainter* p, const QRect& cell, const QString& text, const QFont& font) {
  QRect r(cell.left(), cell.top(), cell.width() + 1, cell.height() + 1);
  const QPalette pal = QApplication::palette();
  p->save();
  p->fillRect(r, pal.color(QPalette::Button));
  p->setPen(Qt::white);
  p->drawLine(r.left(), r.bottom(), r.left(), r.top());
  p->drawLine(r.left(), r.top(), r.right(), r.top());
  p->setPen(Qt::black);
  p->drawLine(r.right(), r.top(), r.right(), r.bottom());
  p->drawLine(r.right(), r.bottom(), r.left(), r.bottom());
  p->setPen(pal.color(QPalette::WindowText));
  DrawCentredText(p, r, text, font, -2);
  p->restore();
}

class TFixedHeader : public QHeaderView {
 public:
  explicit TFixedHeader(Qt::Orientation o, QWidget* parent) : QHeaderView(o, parent) {
    setSectionsClickable(false);
    setHighlightSections(false);
  }

 protected:
  void paintSection(QPainter* p, const QRect& rect, int section) const override {
    if (!rect.isValid()) return;
    const QString text = model() ? model()->headerData(section, orientation(), Qt::DisplayRole).toString()
                                 : QString();
    PaintFixedCell(p, rect.adjusted(0, 0, -1, -1), text, font());
  }
};

// Draws cell (0, 0) into the view's corner button, raised like the other
// fixed cells.
class TCornerPainter : public QObject {
 public:
  TCornerPainter(QWidget* corner, TGridModel* model) : QObject(corner), FCorner(corner), FModel(model) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != FCorner || event->type() != QEvent::Paint) return false;
    QPainter p(FCorner);
    PaintFixedCell(&p, FCorner->rect().adjusted(0, 0, -1, -1), FModel->Cell(0, 0), FCorner->font());
    return true;
  }

 private:
  QWidget* FCorner;
  TGridModel* FModel;
};

// Room a cell keeps between its text and its edges, pixels.
constexpr int kCellPadding = 4;

// The text cut with an ellipsis to fit width pixels; as it is when it fits.
QString FittedText(const QString& text, const QFont& font, int width) {
  const QFontMetrics metrics(font);
  const int room = width - kCellPadding;
  if (metrics.horizontalAdvance(text) <= room) return text;
  return metrics.elidedText(text, Qt::ElideRight, std::max(room, 0));
}

class TCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* p, const QStyleOptionViewItem& opt, const QModelIndex& index) const override {
    const QPalette pal = QApplication::palette();
    const bool selected = opt.state & (QStyle::State_Selected | QStyle::State_HasFocus);
    p->save();
    p->fillRect(opt.rect, selected ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base));
    p->setPen(selected ? Qt::white : Qt::black);
    // A text wider than its cell stays inside it, cut with an ellipsis.
    p->setClipRect(opt.rect);
    DrawCentredText(p, opt.rect, FittedText(index.data(Qt::DisplayRole).toString(), opt.font, opt.rect.width()),
                    opt.font, 0);
    p->restore();
  }
  // A cut text is shown whole as the cell's tip.
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& opt,
                 const QModelIndex& index) override {
    if (event->type() != QEvent::ToolTip) return QStyledItemDelegate::helpEvent(event, view, opt, index);
    const QString text = index.data(Qt::DisplayRole).toString();
    if (FittedText(text, opt.font, opt.rect.width()) == text) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(event->globalPos(), text, view, opt.rect);
    }
    return true;
  }
};

}  // namespace

// ---- model -----------------------------------------------------------------------

TGridModel::TGridModel(int colCount, int rowCount, QObject* parent)
    : QAbstractTableModel(parent), FColCount(colCount < 0 ? 0 : colCount), FRowCount(rowCount < 1 ? 1 : rowCount) {
  FCells.assign(size_t(FRowCount) * size_t(FColCount), 0);
}

int TGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : FRowCount - 1;
}

int TGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : FColCount - 1;
}

QVariant TGridModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return Cell(index.column() + 1, index.row() + 1);
}

QVariant TGridModel::headerData(int section, Qt::Orientation o, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (o == Qt::Horizontal) return Cell(section + 1, 0);
  return Cell(0, section + 1);
}

Qt::ItemFlags TGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void TGridModel::SetRowCount(int n) {
  if (n < 1) n = 1;
  const int old = RowCount();
  if (n == old) return;
  if (n > old) {
    beginInsertRows({}, old - 1, n - 2);
    FRowCount = n;
    FCells.resize(size_t(n) * size_t(FColCount), 0);
    endInsertRows();
  } else {
    beginRemoveRows({}, n - 1, old - 2);
    FRowCount = n;
    FCells.resize(size_t(n) * size_t(FColCount));
    FCells.shrink_to_fit();
    endRemoveRows();
    Compact();
  }
}

QString TGridModel::Cell(int col, int row) const {
  if (row < 0 || row >= RowCount() || col < 0 || col >= FColCount) return {};
  return FTexts.Text(FCells[size_t(row) * size_t(FColCount) + size_t(col)]);
}

QStringView TGridModel::CellView(int col, int row) const {
  if (row < 0 || row >= RowCount() || col < 0 || col >= FColCount) return {};
  return FTexts.View(FCells[size_t(row) * size_t(FColCount) + size_t(col)]);
}

std::uint32_t TGridModel::Add(const QString& text) {
  if (text.isEmpty()) return 0;
  // Cells written one by one (the instrument table, an archived result)
  // append their texts; what overwritten cells leave behind goes once it
  // outweighs the cells.
  if (FTexts.Size() > 2 * FCells.size() + 1024) Compact();
  return FTexts.Add(text);
}

void TGridModel::Compact() {
  std::vector<std::uint32_t> moved(FTexts.Size(), 0);
  TTextPool kept;
  for (std::uint32_t& cell : FCells) {
    if (cell == 0) continue;
    if (moved[cell] == 0) moved[cell] = kept.Add(FTexts.View(cell));
    cell = moved[cell];
  }
  FTexts = std::move(kept);
}

void TGridModel::SetCell(int col, int row, const QString& text) {
  if (row < 0 || row >= RowCount() || col < 0 || col >= FColCount) return;
  FCells[size_t(row) * size_t(FColCount) + size_t(col)] = Add(text);
  if (row == 0 && col == 0) {
    emit CornerChanged();
  } else if (row == 0 && col > 0) {
    emit headerDataChanged(Qt::Horizontal, col - 1, col - 1);
  } else if (col == 0 && row > 0) {
    emit headerDataChanged(Qt::Vertical, row - 1, row - 1);
  } else if (row > 0) {
    const QModelIndex i = index(row - 1, col - 1);
    emit dataChanged(i, i, {Qt::DisplayRole});
  }
}

void TGridModel::ReplaceDataRows(std::vector<QStringList> rows) {
  // Rows built text by text from a file: their texts are their own.
  TGridRows packed(FColCount, false);
  packed.Reserve(rows.size());
  for (QStringList& r : rows) {
    packed.Add(r);
    r = QStringList();  // each row's list goes as soon as it is taken in
  }
  rows = {};
  ReplaceDataRows(std::move(packed));
}

void TGridModel::ReplaceDataRows(TGridRows rows) {
  beginResetModel();
  // The caption row stays: its texts join the new rows' texts.
  QStringList captions;
  for (int c = 0; c < FColCount; ++c) captions << Cell(c, 0);
  FTexts = std::move(rows.FTexts);
  FCells.clear();
  FCells.shrink_to_fit();
  FCells.reserve(size_t(FColCount) + rows.FCells.size());
  for (const QString& caption : captions) FCells.push_back(FTexts.Add(caption));
  if (rows.FColCount == FColCount) {
    FCells.insert(FCells.end(), rows.FCells.begin(), rows.FCells.end());
  } else {
    // Rows read for another width: padded or cut to this table's columns.
    for (int r = 0; r < rows.RowCount(); ++r) {
      for (int c = 0; c < FColCount; ++c) {
        FCells.push_back(c < rows.FColCount ? rows.FCells[size_t(r) * size_t(rows.FColCount) + size_t(c)] : 0);
      }
    }
  }
  rows.FCells = {};
  FRowCount = FColCount > 0 ? int(FCells.size() / size_t(FColCount)) : 1 + rows.RowCount();
  endResetModel();
}

QString TStringGrid::ShownText(int col, int row) const {
  return FittedText(Cells(col, row), font(), ColWidths(col));
}

QStringList TStringGrid::RowTexts(int row) const {
  QStringList texts;
  texts.reserve(ColCount());
  for (int c = 0; c < ColCount(); ++c) texts << Cells(c, row);
  return texts;
}

TStringGrid::TStringGrid(int colCount, int rowCount, QWidget* parent)
    : QTableView(parent), FModel(new TGridModel(colCount, rowCount, this)) {
  setHorizontalHeader(new TFixedHeader(Qt::Horizontal, this));
  setVerticalHeader(new TFixedHeader(Qt::Vertical, this));
  setModel(FModel);
  setItemDelegate(new TCellDelegate(this));
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setShowGrid(true);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setMinimumSectionSize(4);
  verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  verticalHeader()->setMinimumSectionSize(4);
  verticalHeader()->setDefaultSectionSize(FDefaultRowHeight);
  horizontalHeader()->setFixedHeight(FDefaultRowHeight);
  horizontalHeader()->setDefaultSectionSize(64);
  // The corner above the row numbers shows cell (0, 0).
  if (auto* corner = findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly)) {
    corner->installEventFilter(new TCornerPainter(corner, FModel));
    connect(FModel, &TGridModel::CornerChanged, corner, [corner] { corner->update(); });
  }
}

void TStringGrid::changeEvent(QEvent* event) {
  QTableView::changeEvent(event);
  // Both header directions are drawn in the grid's own font.
  if (event->type() == QEvent::FontChange) {
    horizontalHeader()->setFont(font());
    verticalHeader()->setFont(font());
  }
}

void TStringGrid::ClearRow(int row) {
  for (int c = 0; c < ColCount(); ++c) SetCells(c, row, QString());
}

int TStringGrid::Row() const {
  const QModelIndex cur = currentIndex();
  if (!cur.isValid() || !selectionModel()->isRowSelected(cur.row(), {})) return -1;
  return cur.row() + 1;
}

void TStringGrid::SetRow(int row) {
  if (row < 1 || row >= RowCount()) {
    clearSelection();
    setCurrentIndex(QModelIndex());
    return;
  }
  const QModelIndex i = FModel->index(row - 1, 0);
  setCurrentIndex(i);
  selectRow(row - 1);
  scrollTo(i);
}

int TStringGrid::ColWidths(int col) const {
  if (col == 0) return verticalHeader()->width();
  return horizontalHeader()->sectionSize(col - 1);
}

void TStringGrid::SetColWidths(int col, int width) {
  if (col == 0) {
    verticalHeader()->setFixedWidth(width);
    return;
  }
  horizontalHeader()->resizeSection(col - 1, width);
}

int TStringGrid::RowHeights(int row) const {
  if (row == 0) return horizontalHeader()->height();
  return verticalHeader()->sectionSize(row - 1);
}

void TStringGrid::SetRowHeights(int row, int height) {
  if (row == 0) {
    horizontalHeader()->setFixedHeight(height);
    return;
  }
  verticalHeader()->resizeSection(row - 1, height);
}
