// The table report: its row model, the print buttons, and what lands in the
// PDF printed from the preview.
#include <QFile>
#include <QImage>

#include "report_fixture.h"

namespace {

const double kPtPerMm = 72.0 / 25.4;
// Left edge of a label in PDF points: left margin 5 mm plus report pixels.
double LeftPt(int px) { return (5.0 + px * 25.4 / 96.0) * kPtPerMm; }

QList<TPdfLine> RowLines(const QList<TPdfLine>& lines) {
  QList<TPdfLine> rows;
  for (const auto& l : lines) {
    // Row lines start with the position number in the number column.
    if (!l.Words.isEmpty() && l.Words.first().XMin < LeftPt(40) &&
        l.Words.first().Text.toInt() > 0) {
      rows << l;
    }
  }
  return rows;
}

}  // namespace

// ---- Row model -------------------------------------------------------------------

using ReportRows = ReportFixture;

TEST_F(ReportRows, SetRowCountKeepsOldTextsStartsNewRowsEmptyAndReleasesTheRest) {
  QRMain->SetRowCount(2);
  QRMain->Rows[1][9] = QStringLiteral("x");
  QRMain->SetRowCount(4);
  EXPECT_EQ(QRMain->RowCount, 4);
  ASSERT_EQ(QRMain->Rows.size(), 4u);
  EXPECT_EQ(QRMain->Rows[1][9], QStringLiteral("x"));
  for (const QString& t : QRMain->Rows[3]) EXPECT_TRUE(t.isEmpty());
  QRMain->SetRowCount(1);
  EXPECT_EQ(QRMain->Rows.size(), 1u);
  QRMain->SetRowCount(-3);
  EXPECT_EQ(QRMain->RowCount, 0);
  EXPECT_TRUE(QRMain->Rows.empty());
  QRMain->SetRowCount(3);
  QRMain->ClearRows();
  EXPECT_EQ(QRMain->RowCount, 0);
  EXPECT_TRUE(QRMain->Rows.empty());
}

TEST_F(ReportRows, PreparePlacesTheColumnsEmptiesTheFooterTextsAndRewindsTheRows) {
  QRMain->RowCursor = 7;
  QRMain->QRLTime->Left = 0;
  QRMain->QRTNo->Left = 0;
  QRMain->Prepare();
  const std::vector<std::pair<TQRLabel*, int>> lefts = {
      {QRMain->QRLNo, 10},          {QRMain->QRTNo, 13},          {QRMain->QRLTime, 75},
      {QRMain->QRTTime, 45},        {QRMain->QRLDeviceNo, 145},   {QRMain->QRTDeviceNo, 145},
      {QRMain->QRLTestUser, 215},   {QRMain->QRTTestUser, 215},   {QRMain->QRLAdd, 285},
      {QRMain->QRTAdd, 285},        {QRMain->QRLCurrentStep, 355}, {QRMain->QRTCurrentStep, 355},
      {QRMain->QRLLoadITime, 405},  {QRMain->QRTLoadITime, 405},  {QRMain->QRLPhase, 475},
      {QRMain->QRTPhase, 475},      {QRMain->QRLResA, 545},       {QRMain->QRTResA, 545},
      {QRMain->QRLResB, 615},       {QRMain->QRTResB, 615},       {QRMain->QRLResC, 685},
      {QRMain->QRTResC, 685}};
  for (const auto& [label, left] : lefts) EXPECT_EQ(label->Left, left) << label->Name().toStdString();
  EXPECT_TRUE(QRMain->QRLCoop->Caption.isEmpty());
  EXPECT_TRUE(QRMain->QRLTel->Caption.isEmpty());
  EXPECT_EQ(QRMain->RowCursor, 1);
}

TEST_F(ReportRows, NeedDataFeedsRowsByPositionThenSaysNoAndStartsOver) {
  Fill(SGSave, 3);
  LoadReport(SGSave, 3);
  for (int round = 0; round < 2; ++round) {
    for (int k = 1; k <= 3; ++k) {
      bool more = false;
      QRMain->QRSubDetail1NeedData(more);
      ASSERT_TRUE(more);
      EXPECT_EQ(QRMain->QRTNo->Caption, QStringLiteral(" %1").arg(k));
      EXPECT_EQ(QRMain->QRTTime->Caption, SampleRow(k)[1]);
      EXPECT_EQ(QRMain->QRTResC->Caption, SampleRow(k)[10]);
    }
    bool more = true;
    QRMain->QRSubDetail1NeedData(more);
    EXPECT_FALSE(more);
    EXPECT_EQ(QRMain->RowCursor, 1);
  }
}

TEST_F(ReportRows, LoadReportCopiesColumnsOneToTenUntrimmedOfTheCountedRowsOnly) {
  Fill(SGData, 5);
  SGData.SetCells(4, 2, QStringLiteral("  两端有空格  "));
  LoadReport(SGData, 3);  // an upload that stopped after 3 of 5 records
  EXPECT_EQ(QRMain->RowCount, 3);
  ASSERT_EQ(QRMain->Rows.size(), 3u);
  for (int r = 1; r <= 3; ++r) {
    for (int j = 1; j <= 10; ++j) {
      EXPECT_EQ(QRMain->Rows[r - 1][j - 1], SGData.Cells(j, r)) << r << "," << j;
    }
  }
  EXPECT_EQ(QRMain->Rows[1][3], QStringLiteral("  两端有空格  "));
  EXPECT_EQ(QRMain->RowCursor, 1);
}

// ---- Print buttons -----------------------------------------------------------------

class ReportButtons : public ReportFixture, public ::testing::WithParamInterface<bool> {
 protected:
  // true: the archive tab's button, false: the instrument tab's.
  void Press() {
    if (GetParam()) {
      PrintSaveGrid(&Owner, SGSave, giSaveCount);
    } else {
      PrintDataGrid(&Owner, SGData, giDataCount);
    }
    FlushEvents();
  }
  TStringGrid& Table() { return GetParam() ? SGSave : SGData; }
  std::int32_t& Count() { return GetParam() ? giSaveCount : giDataCount; }
};

TEST_P(ReportButtons, AnEmptyTableIsRefused) {
  Fill(Table(), 2);  // rows on screen, but the counter says none
  Count() = 0;
  bool opened = false;
  WhenPreviewOpens([&](TFrmPreview*) { opened = true; });
  Press();
  ASSERT_EQ(Messages.Boxes.size(), 1);
  EXPECT_EQ(Messages.Boxes[0].text, QStringLiteral("没有数据打印！"));
  EXPECT_EQ(Messages.Boxes[0].caption, QStringLiteral("三通道回路电阻测试仪"));
  EXPECT_EQ(Messages.Boxes[0].icon, TMsgIcon::Warning);
  EXPECT_EQ(Messages.Boxes[0].buttons, TMsgButtons::Ok);
  EXPECT_FALSE(opened);
  EXPECT_EQ(QRMain->RowCount, 0);
}

TEST_P(ReportButtons, ThreeRowsPrintNumberedByPositionWithTitleCaptionsAndPageNumber) {
  Fill(Table(), 3);
  Count() = 3;
  QString pdf;
  bool returned = false;
  WhenPreviewOpens([&](TFrmPreview* w) {
    EXPECT_FALSE(returned);  // the button waits for the preview
    pdf = PrintToPdf(w, QStringLiteral("three.pdf"));
  });
  Press();
  returned = true;
  EXPECT_TRUE(Messages.Boxes.isEmpty()) << Messages.Texts().join('|').toStdString();
  ASSERT_TRUE(QFile::exists(pdf));

  const QList<TPdfLine> lines = PdfLines(PdfWords(pdf));
  QStringList texts;
  for (const auto& l : lines) texts << l.Text();
  const QStringList expected = {
      QStringLiteral("回路电阻测试仪"),
      QStringLiteral("-----主报表"),
      QStringLiteral("序号 时间 设备编号 测试人员 测试地点 测试档位 载流时间 测试相 测试电阻A 测试电阻B 测试电阻C"),
      PrintedLine(1, 1),
      PrintedLine(2, 2),
      PrintedLine(3, 3),
      QStringLiteral("1")};  // the footer: its page number only
  EXPECT_EQ(texts, expected);
  const QString all = PdfText(pdf);
  EXPECT_EQ(all.count(QStringLiteral("回路电阻测试仪")), 1);
  EXPECT_EQ(all.count(QStringLiteral("-----主报表")), 1);
  EXPECT_FALSE(all.contains(QStringLiteral("第1条")));  // column 0 is not printed
}

INSTANTIATE_TEST_SUITE_P(Tables, ReportButtons, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "SGSave" : "SGData"; });

// ---- What the PDF holds -----------------------------------------------------------------

using ReportPdf = ReportFixture;

TEST_F(ReportPdf, ColumnsStandAtTheirReportPixelPositionsAndNumbersArePaddedToTwo) {
  Fill(SGSave, 12);
  QString pdf;
  PrintArchive(12, [&](TFrmPreview* w) { pdf = PrintToPdf(w, QStringLiteral("twelve.pdf")); });
  const QList<TPdfLine> rows = RowLines(PdfLines(PdfWords(pdf)));
  ASSERT_EQ(rows.size(), 12);
  // Value columns: time, device, tester, place, range, load time, phase, A, B, C.
  const int valueLefts[] = {45, 145, 215, 285, 355, 405, 475, 545, 615, 685};
  for (const auto& row : rows) {
    ASSERT_EQ(row.Words.size(), 13) << row.Text().toStdString();  // time and load time are two words
    const int wordOfColumn[] = {1, 3, 4, 5, 6, 7, 9, 10, 11, 12};
    for (int c = 0; c < 10; ++c) {
      EXPECT_NEAR(row.Words[wordOfColumn[c]].XMin, LeftPt(valueLefts[c]), 1.0)
          << row.Text().toStdString() << " column " << c + 1;
    }
  }
  // "%2d": one to nine carry a leading blank, so their digit stands right of
  // where "10" begins, by the width of a blank; "10" starts at the label's left.
  const double ten = rows[9].Words[0].XMin;
  EXPECT_NEAR(ten, LeftPt(13), 1.0);
  for (int k = 1; k <= 9; ++k) {
    EXPECT_EQ(rows[k - 1].Words[0].Text, QString::number(k));
    EXPECT_GT(rows[k - 1].Words[0].XMin - ten, 1.5) << k;
    EXPECT_LT(rows[k - 1].Words[0].XMin - ten, 4.0) << k;
  }
  EXPECT_NEAR(rows[11].Words[0].XMin, ten, 0.3);
  // Captions: the time caption stands 30 pixels right of its values.
  for (const auto& l : PdfLines(PdfWords(pdf))) {
    if (l.Words.isEmpty() || l.Words.first().Text != QStringLiteral("序号")) continue;
    EXPECT_NEAR(l.Words[0].XMin, LeftPt(10), 1.0);
    EXPECT_NEAR(l.Words[1].XMin, LeftPt(75), 1.0);
    EXPECT_NEAR(l.Words[10].XMin, LeftPt(685), 1.0);
  }
}

TEST_F(ReportPdf, AHundredRowsMakeFourPagesWithCaptionsAndPageNumberOnEach) {
  Fill(SGSave, 100);
  QString pdf;
  PrintArchive(100, [&](TFrmPreview* w) { pdf = PrintToPdf(w, QStringLiteral("hundred.pdf")); });
  const QStringList pages = PdfPages(pdf);
  ASSERT_EQ(pages.size(), 4);
  const QList<TPdfLine> lines = PdfLines(PdfWords(pdf));
  for (int p = 1; p <= 4; ++p) {
    QStringList onPage;
    for (const auto& l : lines) {
      if (l.Page == p) onPage << l.Text();
    }
    EXPECT_EQ(onPage.count(QStringLiteral("序号 时间 设备编号 测试人员 测试地点 测试档位 载流时间 测试相 "
                                          "测试电阻A 测试电阻B 测试电阻C")),
              1)
        << p << onPage.join(QChar('\n')).left(600).toStdString();
    EXPECT_EQ(onPage.last(), QString::number(p)) << p;  // footer, last on the page
    EXPECT_EQ(onPage.contains(QStringLiteral("回路电阻测试仪")), p == 1) << p;
  }
  const QList<TPdfLine> rows = RowLines(lines);
  ASSERT_EQ(rows.size(), 100);
  // 26 rows under the title, then 29 a page.
  for (int k = 1; k <= 100; ++k) {
    EXPECT_EQ(rows[k - 1].Text(), PrintedLine(k, k));
    const int page = k >= 85 ? 4 : k >= 56 ? 3 : k >= 27 ? 2 : 1;
    EXPECT_EQ(rows[k - 1].Page, page) << k;
  }
}

TEST_F(ReportPdf, PrintingTwiceFromThePreviewPrintsEveryRowBothTimes) {
  Fill(SGSave, 60);
  QString first, second;
  PrintArchive(60, [&](TFrmPreview* w) {
    w->tbNext->click();
    w->tbNext->click();
    first = PrintToPdf(w, QStringLiteral("first.pdf"));
    w->tbFirst->click();
    second = PrintToPdf(w, QStringLiteral("second.pdf"));
  });
  for (const QString& pdf : {first, second}) {
    const QList<TPdfLine> rows = RowLines(PdfLines(PdfWords(pdf)));
    ASSERT_EQ(rows.size(), 60) << pdf.toStdString();
    for (int k = 1; k <= 60; ++k) EXPECT_EQ(rows[k - 1].Text(), PrintedLine(k, k));
  }
}

TEST_F(ReportPdf, TwoPressesOfThePrintButtonPrintEveryRowEachTime) {
  Fill(SGSave, 30);
  QStringList pdfs;
  for (int press = 0; press < 2; ++press) {
    PrintArchive(30, [&](TFrmPreview* w) {
      pdfs << PrintToPdf(w, QStringLiteral("press%1.pdf").arg(press));
    });
  }
  ASSERT_EQ(pdfs.size(), 2);
  for (const QString& pdf : pdfs) EXPECT_EQ(RowLines(PdfLines(PdfWords(pdf))).size(), 30);
}

TEST_F(ReportPdf, AnEmptyCellPrintsNothingAndTheRowKeepsItsPlace) {
  Fill(SGSave, 3);
  SGSave.SetCells(9, 2, QString());
  SGSave.SetCells(10, 2, QString());
  QString pdf;
  PrintArchive(3, [&](TFrmPreview* w) { pdf = PrintToPdf(w, QStringLiteral("gaps.pdf")); });
  const QList<TPdfLine> rows = RowLines(PdfLines(PdfWords(pdf)));
  ASSERT_EQ(rows.size(), 3);
  EXPECT_EQ(rows[1].Words.size(), 11);
  EXPECT_NEAR(rows[1].Y - rows[0].Y, 8.47 * kPtPerMm, 0.5);
  EXPECT_NEAR(rows[2].Y - rows[1].Y, 8.47 * kPtPerMm, 0.5);
}

// Text copied out of the PDF is the text printed: no Kangxi radicals for
// 人 一 工 入 口, whose glyphs some Chinese faces share with the radicals.
TEST_F(ReportPdf, ChineseTextComesOutOfThePdfExactly) {
  Fill(SGSave, 2);
  SGSave.SetCells(3, 2, QStringLiteral("一工入口人"));
  QString pdf;
  PrintArchive(2, [&](TFrmPreview* w) { pdf = PrintToPdf(w, QStringLiteral("kangxi.pdf")); });
  const QString all = PdfText(pdf);
  EXPECT_TRUE(all.contains(QStringLiteral("测试人员"))) << all.toStdString();
  EXPECT_TRUE(all.contains(QStringLiteral("一工入口人"))) << all.toStdString();
  for (const QChar c : all) EXPECT_FALSE(c.unicode() >= 0x2F00 && c.unicode() <= 0x2FDF) << all.toStdString();
}

TEST_F(ReportPdf, ThePageRendersAsACleanReport) {
  Fill(SGSave, 40);
  QString pdf;
  PrintArchive(40, [&](TFrmPreview* w) { pdf = PrintToPdf(w, QStringLiteral("look.pdf")); });
  // QK_REPORT_PNG=<prefix> keeps the page (<prefix>.png) and the PDF
  // (<prefix>.pdf) for a look by eye.
  const QString prefix = qEnvironmentVariableIsSet("QK_REPORT_PNG")
                             ? qEnvironmentVariable("QK_REPORT_PNG")
                             : Pdf(QStringLiteral("look-1"));
  if (qEnvironmentVariableIsSet("QK_REPORT_PNG")) {
    QFile::remove(prefix + QStringLiteral(".pdf"));
    QFile::copy(pdf, prefix + QStringLiteral(".pdf"));
  }
  const QImage page = PdfPagePng(pdf, 1, 100, prefix);
  ASSERT_FALSE(page.isNull());
  EXPECT_NEAR(page.width(), 827, 2);  // A4 at 100 dpi
  EXPECT_NEAR(page.height(), 1169, 2);
  auto inkIn = [&](double x0, double y0, double x1, double y1) {  // millimetres
    int ink = 0;
    for (int y = int(y0 / 25.4 * 100); y < int(y1 / 25.4 * 100); ++y) {
      for (int x = int(x0 / 25.4 * 100); x < int(x1 / 25.4 * 100); ++x) {
        if (qGray(page.pixel(x, y)) < 128) ++ink;
      }
    }
    return ink;
  };
  EXPECT_GT(inkIn(80, 16, 130, 24), 50);    // "回路电阻测试仪", centred
  EXPECT_EQ(inkIn(0, 0, 210, 9.5), 0);      // top margin blank
  EXPECT_EQ(inkIn(0, 0, 4.5, 297), 0);      // left margin blank
  EXPECT_EQ(inkIn(205.5, 0, 210, 297), 0);  // right margin blank
  EXPECT_EQ(inkIn(0, 287.5, 210, 297), 0);  // bottom margin blank
  // Footer: the rule and the page number at the right, nothing in the middle.
  EXPECT_EQ(inkIn(10, 269, 195, 286), 0);
  EXPECT_GT(inkIn(198, 269, 205.2, 275), 5);
}

namespace {

// A 测试地点 longer than its column wraps inside it and its row grows: no
// word of it reaches 测试档位's column, the next row stands below its last
// line, and every other column keeps its place.
TEST_F(ReportPdf, ALongPlaceWrapsInsideItsColumnAndTheRowGrows) {
  Fill(SGSave, 3);
  const QString place = QStringLiteral("110kV东郊变电站 3号间隔, 第二进线");
  SGSave.SetCells(4, 2, place);
  QString pdf;
  PrintArchive(3, [&](TFrmPreview* w) { pdf = PrintToPdf(w, QStringLiteral("long-place.pdf")); });
  const QList<TPdfWord> words = PdfWords(pdf);
  QString printed;
  double placeBottom = 0;
  double rowTop = 0;
  for (const TPdfWord& w : words) {
    if (w.XMin >= LeftPt(285) - 1 && w.XMin < LeftPt(355) - 1 && w.YMin > 100 &&
        !QRegularExpression(QStringLiteral("^变电站\\d+$")).match(w.Text).hasMatch()) {
      if (w.Text == QStringLiteral("测试地点")) continue;
      printed += w.Text;
      EXPECT_LE(w.XMax, LeftPt(355)) << w.Text.toStdString() << " runs into 测试档位";
      placeBottom = std::max(placeBottom, w.YMax);
    }
    if (w.Text == QStringLiteral("QK0003")) rowTop = w.YMin;
  }
  QString expected = place;
  expected.remove(QLatin1Char(' '));
  EXPECT_EQ(printed, expected);
  EXPECT_GT(rowTop, placeBottom) << "the next row overprints the wrapped place";
  PdfPagePng(pdf, 1, 100, QStringLiteral(QK_TEST_OUTPUT_DIR "/long-place"));  // to be looked at
}

}  // namespace
