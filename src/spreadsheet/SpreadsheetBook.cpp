#include "spreadsheet/SpreadsheetBook.h"

#include <algorithm>
#include <cmath>

#include "spreadsheet/Spreadsheet.h"

// ---- Sheet ------------------------------------------------------------------

void TSheetBudget::Check(std::int64_t bytes) const {
  if (Fits(bytes)) return;
  throw ESpreadsheetError(QStringLiteral("读入这个工作表需要的内存超过 %1 MB 的上限，文件可能已损坏或是恶意文件")
                              .arg(FLimit >> 20));
}

void TSheetBudget::Charge(std::int64_t bytes) {
  Check(bytes);
  FUsed += bytes;
}

TRowCell* TSheet::Slot(int row, int col) {
  if (row < 0 || col < 0 || row >= kMaxSheetRows || col >= kMaxSheetColumns) return nullptr;
  const auto r = static_cast<size_t>(row);
  if (r >= rows.size()) {
    if (r >= FRowsCounted) {
      budget.Charge(std::int64_t(r + 1 - FRowsCounted) * TSheetBudget::kRowBytes);
      FRowsCounted = r + 1;
    }
    rows.resize(r + 1);
  }
  TSheetRow& line = rows[r];
  const auto c = static_cast<std::uint16_t>(col);
  // Readers give a row's cells in column order: the usual place is the end.
  if (line.empty() || line.back().col < c) {
    budget.Charge(TSheetBudget::kCellBytes);
    line.push_back(TRowCell{0, c, TSheetCell::Kind::Empty});
    return &line.back();
  }
  auto it = std::lower_bound(line.begin(), line.end(), c, [](const TRowCell& a, std::uint16_t b) { return a.col < b; });
  if (it != line.end() && it->col == c) return &*it;
  budget.Charge(TSheetBudget::kCellBytes);
  return &*line.insert(it, TRowCell{0, c, TSheetCell::Kind::Empty});
}

std::uint32_t TSheet::AddText(const QString& text) {
  budget.Charge(TSheetBudget::TextBytes(text.size()));
  texts.push_back(text);
  return std::uint32_t(texts.size() - 1);
}

std::uint32_t TSheet::AddNumber(double value) {
  budget.Charge(TSheetBudget::kNumberBytes);
  numbers.push_back(value);
  return std::uint32_t(numbers.size() - 1);
}

void TSheet::SetNumberIndex(int row, int col, std::uint32_t index) {
  TRowCell* cell = Slot(row, col);
  if (!cell) return;
  cell->kind = TSheetCell::Kind::Number;
  cell->index = index;
}

void TSheet::ReserveRows(std::int64_t row) {
  if (row < 0 || row >= kMaxSheetRows || size_t(row) < FRowsCounted) return;
  budget.Charge(std::int64_t(size_t(row) + 1 - FRowsCounted) * TSheetBudget::kRowBytes);
  FRowsCounted = size_t(row) + 1;
  rows.reserve(FRowsCounted);
}

void TSheet::SetText(int row, int col, const QString& text) {
  TRowCell* cell = Slot(row, col);
  if (!cell) return;
  if (cell->kind == TSheetCell::Kind::Text) {
    texts[cell->index] = text;  // a cell written again reuses its slot
    return;
  }
  cell->index = AddText(text);
  cell->kind = TSheetCell::Kind::Text;
}

void TSheet::SetTextIndex(int row, int col, std::uint32_t index) {
  TRowCell* cell = Slot(row, col);
  if (!cell) return;
  cell->kind = TSheetCell::Kind::Text;
  cell->index = index;
}

void TSheet::SetNumber(int row, int col, double value) {
  TRowCell* cell = Slot(row, col);
  if (!cell) return;
  if (cell->kind == TSheetCell::Kind::Number) {
    numbers[cell->index] = value;
    return;
  }
  budget.Charge(TSheetBudget::kNumberBytes);
  cell->kind = TSheetCell::Kind::Number;
  cell->index = std::uint32_t(numbers.size());
  numbers.push_back(value);
}

void TSheet::SetBoolean(int row, int col, bool value) {
  TRowCell* cell = Slot(row, col);
  if (!cell) return;
  cell->kind = TSheetCell::Kind::Boolean;
  cell->index = value ? 1 : 0;
}

void TSheet::Clear(int row, int col) {
  if (row < 0 || col < 0 || size_t(row) >= rows.size()) return;
  TSheetRow& line = rows[size_t(row)];
  auto it = std::lower_bound(line.begin(), line.end(), col, [](const TRowCell& a, int b) { return a.col < b; });
  if (it != line.end() && it->col == col) line.erase(it);
}

TSheetCell TSheet::At(int row, int col) const {
  if (row < 0 || col < 0 || size_t(row) >= rows.size()) return {};
  const TSheetRow& line = rows[size_t(row)];
  auto it = std::lower_bound(line.begin(), line.end(), col, [](const TRowCell& a, int b) { return a.col < b; });
  if (it == line.end() || it->col != col) return {};
  return TSheetCell{it->kind, it->index};
}

namespace {
bool RowUsed(const TSheetRow& row) {
  for (const auto& c : row) {
    if (c.kind != TSheetCell::Kind::Empty) return true;
  }
  return false;
}
}  // namespace

std::pair<int, int> TSheet::UsedRows() const {
  int first = -1;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (RowUsed(rows[r])) {
      first = static_cast<int>(r);
      break;
    }
  }
  if (first < 0) return {-1, -1};
  int last = first;
  for (size_t r = rows.size(); r-- > static_cast<size_t>(first);) {
    if (RowUsed(rows[r])) {
      last = static_cast<int>(r);
      break;
    }
  }
  return {first, last};
}

QString TSheet::CellText(int row, int col) const {
  const TSheetCell c = At(row, col);
  switch (c.kind) {
    case TSheetCell::Kind::Empty: return {};
    case TSheetCell::Kind::Text: return Text(c);
    case TSheetCell::Kind::Number: return GeneralNumberText(Number(c));
    case TSheetCell::Kind::Boolean: return c.index != 0 ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
  }
  return {};
}

int TSheet::UsedRowCount() const {
  const auto used = UsedRows();
  return used.first < 0 ? 1 : used.second - used.first + 1;
}

int TSheet::LastUsedColumn() const {
  int last = -1;
  for (const TSheetRow& row : rows) {
    for (auto it = row.rbegin(); it != row.rend(); ++it) {
      if (it->kind == TSheetCell::Kind::Empty) continue;
      last = std::max(last, int(it->col));
      break;
    }
  }
  return last;
}

double TSheet::ColumnWidth(int col) const {
  const auto it = widths.find(col);
  return it == widths.end() ? defaultWidth : it->second;
}

// ---- Number text ------------------------------------------------------------

QString GeneralNumberText(double value) {
  if (std::isnan(value)) return QStringLiteral("#NUM!");
  if (std::isinf(value)) return QStringLiteral("#NUM!");
  if (value == 0) return QStringLiteral("0");
  const double mag = std::fabs(value);
  QString s;
  if (mag >= 1e-9 && mag < 1e15) {
    // Plain notation with at most 15 significant digits.
    const int exp10 = static_cast<int>(std::floor(std::log10(mag)));
    const int decimals = std::max(0, 14 - exp10);
    s = QString::number(value, 'f', decimals);
    if (s.contains(QLatin1Char('.'))) {
      while (s.endsWith(QLatin1Char('0'))) s.chop(1);
      if (s.endsWith(QLatin1Char('.'))) s.chop(1);
    }
  } else {
    s = QString::number(value, 'E', 14);  // d.ddddddddddddddE+xx
    const int e = static_cast<int>(s.indexOf(QLatin1Char('E')));
    QString mant = s.left(e);
    const QString tail = s.mid(e);
    if (mant.contains(QLatin1Char('.'))) {
      while (mant.endsWith(QLatin1Char('0'))) mant.chop(1);
      if (mant.endsWith(QLatin1Char('.'))) mant.chop(1);
    }
    s = mant + tail;
  }
  if (s == QLatin1String("-0")) s = QStringLiteral("0");
  return s;
}

