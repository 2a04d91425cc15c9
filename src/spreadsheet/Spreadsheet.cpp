#include "spreadsheet/Spreadsheet.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <utility>

#include "spreadsheet/SpreadsheetBook.h"

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
