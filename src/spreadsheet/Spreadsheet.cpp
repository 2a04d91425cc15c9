#include "spreadsheet/Spreadsheet.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <utility>

#include "spreadsheet/SpreadsheetBook.h"

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
    budget.Charge(std::int64_t(r + 1 - rows.size()) * TSheetBudget::kRowBytes);
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

// ---- The engine ---------------------------------------------------------------

namespace {

class TEmbeddedSpreadsheet : public ISpreadsheetApp {
 public:
  void SetDisplayAlerts(bool on) override {
    Alive();
    FAlerts = on;
  }
  bool DisplayAlerts() const override { return FAlerts; }
  void SetVisible(bool on) override {
    Alive();
    FVisible = on;
  }
  bool Visible() const override { return FVisible; }

  void WorkbooksAdd(std::int32_t /*templateKind*/) override {
    Alive();
    auto book = std::make_unique<TWorkbook>();
    book->sheets.emplace_back();
    FBooks.push_back(std::move(book));
    FActive = static_cast<int>(FBooks.size()) - 1;
  }

  void WorkbooksOpen(const QString& fileName) override {
    Alive();
    FBooks.push_back(ReadWorkbookFile(fileName));
    FActive = static_cast<int>(FBooks.size()) - 1;
  }

  std::int32_t WorkbooksCount() const override {
    Alive();
    return static_cast<std::int32_t>(FBooks.size());
  }

  void WorkbooksItemClose(std::int32_t index, bool saveChanges) override {
    Alive();
    if (index < 1 || index > static_cast<std::int32_t>(FBooks.size())) {
      throw ESpreadsheetError(QStringLiteral("工作簿索引%1超出范围").arg(index));
    }
    const int i = index - 1;
    if (saveChanges && !FBooks[static_cast<size_t>(i)]->fileName.isEmpty()) {
      WriteWorkbookFile(*FBooks[static_cast<size_t>(i)], FBooks[static_cast<size_t>(i)]->fileName);
    }
    FBooks.erase(FBooks.begin() + i);
    if (FBooks.empty()) {
      FActive = -1;
    } else if (i == FActive) {
      FActive = static_cast<int>(FBooks.size()) - 1;
    } else if (i < FActive) {
      --FActive;
    }
  }

  void ActiveWorkbookSaveAs(const QString& fileName) override {
    TWorkbook& book = ActiveBook();
    if (fileName.isEmpty()) throw ESpreadsheetError(QStringLiteral("文件名为空"));
    const QString full = QFileInfo(fileName).absoluteFilePath();
    WriteWorkbookFile(book, full);
    book.fileName = full;
  }

  void ActiveWorkbookSave() override {
    TWorkbook& book = ActiveBook();
    if (book.fileName.isEmpty()) throw ESpreadsheetError(QStringLiteral("工作簿还没有文件名"));
    WriteWorkbookFile(book, book.fileName);
  }

  void CellsSetColumnWidth(double width) override {
    TSheet& s = ActiveSheet();
    CheckWidth(width);
    s.defaultWidth = width;
    s.widths.clear();
  }

  void CellsSetHorizontalAlignment(std::int32_t code) override {
    TSheet& s = ActiveSheet();
    switch (code) {
      case -4108: code = kAlignCenter; break;  // the same codes in the constant numbering
      case -4131: code = kAlignLeft; break;
      case -4152: code = kAlignRight; break;
      default: break;
    }
    if (code < kAlignGeneral || code > kAlignCenterAcross) {
      throw ESpreadsheetError(QStringLiteral("无效的对齐方式%1").arg(code));
    }
    s.align = code;
  }

  void CellsSetNumberFormat(const QString& format) override {
    TSheet& s = ActiveSheet();
    s.numberFormat = format.isEmpty() ? QStringLiteral("General") : format;
  }

  void ColumnsSetColumnWidth(std::int32_t column, double width) override {
    TSheet& s = ActiveSheet();
    if (column < 1 || column > kMaxSheetColumns) {
      throw ESpreadsheetError(QStringLiteral("列号%1超出范围").arg(column));
    }
    CheckWidth(width);
    s.widths[column - 1] = width;
  }

  void SetCellValue(std::int32_t row, std::int32_t column, const QString& text) override {
    TSheet& s = ActiveSheet();
    CheckCell(row, column);
    if (text.isEmpty()) {
      s.Clear(row - 1, column - 1);
      return;
    }
    bool number = false;
    double v = 0;
    if (s.numberFormat != QLatin1String("@")) v = ParseNumber(text, &number);
    if (number) {
      s.SetNumber(row - 1, column - 1, v);
    } else {
      s.SetText(row - 1, column - 1, text);
    }
  }

  QString CellValue(std::int32_t row, std::int32_t column) const override {
    const TSheet& s = ActiveSheet();
    CheckCell(row, column);
    const TSheetCell c = s.At(row - 1, column - 1);
    switch (c.kind) {
      case TSheetCell::Kind::Empty: return {};
      case TSheetCell::Kind::Text: return s.Text(c);
      case TSheetCell::Kind::Number: return GeneralNumberText(s.Number(c));
      case TSheetCell::Kind::Boolean: return c.index != 0 ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    }
    return {};
  }

  std::int32_t UsedRangeRowsCount() const override {
    const TSheet& s = ActiveSheet();
    const auto used = s.UsedRows();
    if (used.first < 0) return 1;
    return used.second - used.first + 1;
  }

  void Quit() override {
    Alive();
    FBooks.clear();
    FActive = -1;
    FQuit = true;
  }

 private:
  void Alive() const {
    if (FQuit) throw ESpreadsheetError(QStringLiteral("电子表格程序已经退出"));
  }
  const TWorkbook& ActiveBook() const {
    Alive();
    if (FActive < 0 || FActive >= static_cast<int>(FBooks.size())) {
      throw ESpreadsheetError(QStringLiteral("没有活动的工作簿"));
    }
    return *FBooks[static_cast<size_t>(FActive)];
  }
  TWorkbook& ActiveBook() { return const_cast<TWorkbook&>(std::as_const(*this).ActiveBook()); }
  const TSheet& ActiveSheet() const {
    const TWorkbook& b = ActiveBook();
    if (b.activeSheet < 0 || b.activeSheet >= static_cast<int>(b.sheets.size())) {
      throw ESpreadsheetError(QStringLiteral("没有活动的工作表"));
    }
    return b.sheets[static_cast<size_t>(b.activeSheet)];
  }
  TSheet& ActiveSheet() { return const_cast<TSheet&>(std::as_const(*this).ActiveSheet()); }
  static void CheckWidth(double width) {
    if (!(width >= 0 && width <= 255)) throw ESpreadsheetError(QStringLiteral("无效的列宽%1").arg(width));
  }
  static void CheckCell(std::int32_t row, std::int32_t column) {
    if (row < 1 || row > kMaxSheetRows || column < 1 || column > kMaxSheetColumns) {
      throw ESpreadsheetError(QStringLiteral("单元格(%1, %2)超出范围").arg(row).arg(column));
    }
  }
  // A value typed into a cell that is not formatted as text becomes a number
  // when it reads as one.
  static double ParseNumber(const QString& text, bool* ok) {
    static const QRegularExpression re(QStringLiteral("^\\s*[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?\\s*$"));
    *ok = false;
    if (!re.match(text).hasMatch()) return 0;
    const double v = text.trimmed().toDouble(ok);
    if (*ok && !std::isfinite(v)) *ok = false;
    return v;
  }

  std::vector<std::unique_ptr<TWorkbook>> FBooks;
  int FActive = -1;
  bool FQuit = false;
  bool FAlerts = true;
  bool FVisible = false;
};

TSpreadsheetFactory gFactory;

}  // namespace

std::unique_ptr<ISpreadsheetApp> NewEmbeddedSpreadsheet() { return std::make_unique<TEmbeddedSpreadsheet>(); }

std::unique_ptr<ISpreadsheetApp> CreateSpreadsheetApp() {
  if (gFactory) return gFactory();
  return NewEmbeddedSpreadsheet();
}

void SetSpreadsheetFactory(TSpreadsheetFactory factory) { gFactory = std::move(factory); }
