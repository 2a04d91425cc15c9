#pragma once
// A record table, the report object and the answered dialogs for the report
// tests; the table prints through the preview window into PDF files.
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "data/UDataCenter.h"
#include "forms/UDlgPreview.h"
#include "forms/UQRMain.h"
#include "platform/StringGrid.h"
#include "support/ReportSupport.h"
#include "support/TestServices.h"

// Row r of the sample table: every text differs from row to row.
inline QStringList SampleRow(int r) {
  return {QStringLiteral("第%1条").arg(r),  // column 0 holds no plain number
          QStringLiteral("24-05-%1 %2:%3")
              .arg(1 + r % 28, 2, 10, QChar('0'))
              .arg(r / 60 % 24, 2, 10, QChar('0'))
              .arg(r % 60, 2, 10, QChar('0')),
          QStringLiteral("QK%1").arg(r, 4, 10, QChar('0')),
          QStringLiteral("张工%1").arg(r),
          QStringLiteral("变电站%1").arg(r),
          r % 2 ? QStringLiteral("100A") : QStringLiteral("200A"),
          QStringLiteral("%1 秒").arg(10 + r % 50),
          r % 2 ? QStringLiteral("三相") : QStringLiteral("单相"),
          QStringLiteral("%1.1μΩ").arg(r),
          QStringLiteral("%1.2μΩ").arg(r),
          QStringLiteral("%1.3μΩ").arg(r)};
}

// The printed line of table row r at report position k.
inline QString PrintedLine(int k, int r) {
  QStringList parts = SampleRow(r).mid(1);
  parts.prepend(QString::number(k));
  return parts.join(QChar(' '));
}

class ReportFixture : public ::testing::Test {
 protected:
  // The row counters of the two tables.
  std::int32_t giDataCount = 0;
  std::int32_t giSaveCount = 0;
  void SetUp() override { CreateReport(); }
  void TearDown() override {
    FreeReport();
    FlushEvents();
  }

  // n sample rows into the table (row count n + 1).
  void Fill(TStringGrid& grid, int n) {
    grid.SetRowCount(n + 1);
    for (int r = 1; r <= n; ++r) {
      const QStringList row = SampleRow(r);
      for (int c = 0; c < 11; ++c) grid.SetCells(c, r, row[c]);
    }
  }

  QString Pdf(const QString& name) const { return Dir.filePath(name); }

  // Presses the archive tab's print button with count rows; action runs on
  // the preview window, which is closed afterwards.
  void PrintArchive(int count, const std::function<void(TFrmPreview*)>& action) {
    const auto shown = WhenPreviewOpens(action);
    PrintSaveGrid(&Owner, SGSave, count);
    FlushEvents();
    EXPECT_TRUE(*shown) << "no preview window opened";
  }

  // Prints the open preview to a new PDF file and returns its name.
  QString PrintToPdf(TFrmPreview* window, const QString& name) {
    Dialogs.PdfFiles << Pdf(name);
    window->tbPrinter->click();
    return Pdf(name);
  }

  QTemporaryDir Dir;
  TRecordingMessages Messages;
  TScriptedPrintDialogs Dialogs;
  QWidget Owner;
  TStringGrid SGData{11, 2};
  TStringGrid SGSave{11, 2};
};
