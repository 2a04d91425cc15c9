// Excel 97-2003 workbooks written by the program: read back by the program's
// reader (FreeXL) and, where it is installed, by LibreOffice.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"
#include "spreadsheet/XlsWrite.h"

namespace {

// A sheet laid out as the program stores its tables: text cells, "@",
// centred, 9.5 wide and column B 17.5.
TWorkbook Book(int rows, const QString& longText = QString()) {
  TWorkbook book;
  book.sheets.emplace_back();
  TSheet& s = book.sheets.back();
  s.defaultWidth = 9.5;
  s.widths[1] = 17.5;
  s.align = kAlignCenter;
  s.numberFormat = QStringLiteral("@");
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < 11; ++c) {
      TSheetCell cell;
      cell.kind = TSheetCell::Kind::Text;
      cell.text = r == 0 ? QStringLiteral("列%1").arg(c) : QStringLiteral("第%1行%2 μΩ").arg(r).arg(c);
      s.Set(r, c, cell);
    }
  }
  if (!longText.isEmpty()) {
    TSheetCell cell;
    cell.kind = TSheetCell::Kind::Text;
    cell.text = longText;
    s.Set(rows, 0, cell);
  }
  return book;
}

void Write(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

// Thousands of distinct texts fill the shared strings over many CONTINUE
// records, one text is split across records; every cell reads back.
TEST(XlsWrite, EveryTextReadsBackThroughTheProgramsReader) {
  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("big.xls"));
  // A text split over two records (FreeXL 1.0 cannot read a text split over
  // more than two; LibreOffice can, see below).
  const QString longText = QString(5000, QChar(0x6D4B));
  Write(name, XlsFileBytes(Book(1500, longText)));
  auto app = NewEmbeddedSpreadsheet();
  app->WorkbooksOpen(name);
  ASSERT_EQ(app->UsedRangeRowsCount(), 1501);
  EXPECT_EQ(app->CellValue(1, 1), QStringLiteral("列0"));
  EXPECT_EQ(app->CellValue(2, 11), QStringLiteral("第1行10 μΩ"));
  EXPECT_EQ(app->CellValue(1500, 3), QStringLiteral("第1499行2 μΩ"));
  const QString back = app->CellValue(1501, 1);
  EXPECT_EQ(back.size(), longText.size());
  EXPECT_TRUE(back == longText) << "the text split across records differs";
}

TEST(XlsWrite, MoreRowsThanTheFormatHoldsAreRefused) {
  TWorkbook book;
  book.sheets.emplace_back();
  TSheetCell cell;
  cell.kind = TSheetCell::Kind::Text;
  cell.text = QStringLiteral("x");
  book.sheets.back().Set(65536, 0, cell);
  try {
    XlsFileBytes(book);
    FAIL() << "no error";
  } catch (const ESpreadsheetError& e) {
    EXPECT_TRUE(e.Text().contains(QStringLiteral(".xlsx"))) << e.Text().toStdString();
  }
}

// LibreOffice opens the file as Excel 97-2003 and sees every cell as text.
TEST(XlsWrite, LibreOfficeReadsEveryCell) {
  const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
  if (soffice.isEmpty()) GTEST_SKIP() << "LibreOffice is not installed";
  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("table.xls"));
  // The last text is split over three records of the shared strings.
  Write(name, XlsFileBytes(Book(4, QString(9000, QChar(0x6D4B)))));
  QProcess p;
  p.setWorkingDirectory(dir.path());
  p.start(soffice, {QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("profile")),
                    QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                    QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76"), QStringLiteral("--outdir"), dir.path(),
                    name});
  ASSERT_TRUE(p.waitForFinished(120000));
  QFile csv(dir.filePath(QStringLiteral("table.csv")));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly)) << p.readAllStandardError().toStdString();
  const QStringList lines = QString::fromUtf8(csv.readAll()).split(QStringLiteral("\n"), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 5);
  EXPECT_EQ(lines[4].trimmed(), QString(9000, QChar(0x6D4B)) + QStringLiteral(",,,,,,,,,,"));
  EXPECT_EQ(lines[0].trimmed(), QStringLiteral("列0,列1,列2,列3,列4,列5,列6,列7,列8,列9,列10"));
  EXPECT_TRUE(lines[3].startsWith(QStringLiteral("第3行0 μΩ,第3行1 μΩ"))) << lines[3].toStdString();
}

}  // namespace
