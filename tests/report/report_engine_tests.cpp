// The banded report engine: fonts, page composition, row feeding, drawing to
// PDF, the page store and the preview control.
#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPainter>
#include <QPicture>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

#include "platform/MessageService.h"
#include "platform/Fonts.h"
#include "report/ReportEngine.h"
#include "report/ReportPreview.h"
#include "support/ReportSupport.h"

namespace {

// A report shaped like the program's: title 25.4 mm, caption band and rows
// 8.47 mm, footer 19.84 mm with the page number, A4 portrait, margins
// 10 / 10 / 5 / 5 mm. Rows are "R1", "R2", ... up to Rows.
class TSampleReport : public TQuickRep {
 public:
  TSampleReport() {
    ReportTitle = QStringLiteral("样例报表");
    Title = AddBand(QStringLiteral("Title"), TQRBandType::rbTitle, 25.4);
    TitleText = Title->AddLabel(QStringLiteral("TitleText"), ReportFont(QStringLiteral("宋体"), 14, true));
    TitleText->Caption = QStringLiteral("回路电阻测试仪");
    TitleText->Alignment = TQRAlignment::Center;
    TitleText->Top = 32;
    Caption = AddBand(QStringLiteral("Caption"), TQRBandType::rbGroupHeader, 8.47);
    Caption->FrameTop = Caption->FrameBottom = true;
    CaptionText = Caption->AddLabel(QStringLiteral("CaptionText"), Font);
    CaptionText->Caption = QStringLiteral("序号");
    CaptionText->Left = 10;
    CaptionText->Top = 10;
    Row = AddBand(QStringLiteral("Row"), TQRBandType::rbSubDetail, 8.47);
    Row->HeaderBand = Caption;
    RowText = Row->AddLabel(QStringLiteral("RowText"), Font);
    RowText->Left = 13;
    RowText->Top = 10;
    Row->OnNeedData = [this](bool& more) {
      ++Calls;
      more = Fed < Rows && (StopAt == 0 || Calls < StopAt);
      if (more) RowText->Caption = QStringLiteral("R%1").arg(++Fed);
    };
    Footer = AddBand(QStringLiteral("Footer"), TQRBandType::rbPageFooter, 19.84);
    Footer->FrameTop = true;
    PageNo = Footer->AddSysData(QStringLiteral("PageNo"), Font);
    PageNo->Alignment = TQRAlignment::Right;
    PageNo->Top = 8;
  }

  std::vector<TQRPage> Run() {
    Fed = 0;
    Calls = 0;
    return Generate(Page.Layout());
  }

  TQRBand* Title;
  TQRLabel* TitleText;
  TQRBand* Caption;
  TQRLabel* CaptionText;
  TQRBand* Row;
  TQRLabel* RowText;
  TQRBand* Footer;
  TQRSysData* PageNo;
  int Rows = 0;
  int Fed = 0;
  int Calls = 0;
  int StopAt = 0;  // answer false from this call on (0 = never)
};

QStringList AllTexts(const std::vector<TQRPage>& pages, const QString& label) {
  QStringList out;
  for (const auto& p : pages) out << p.TextsOf(label);
  return out;
}

QStringList Numbered(int from, int to) {
  QStringList out;
  for (int i = from; i <= to; ++i) out << QStringLiteral("R%1").arg(i);
  return out;
}

}  // namespace

// ---- Fonts ---------------------------------------------------------------------

TEST(ReportFonts, LayoutFamiliesFallBackToInstalledFontsThatWriteChinese) {
  for (const QString& family : {QStringLiteral("Arial"), QStringLiteral("宋体")}) {
    const QStringList families = FontFamilies(family, TFontMedium::Print);
    ASSERT_FALSE(families.isEmpty()) << family.toStdString();
    for (const QString& f : families) EXPECT_TRUE(QFontDatabase::hasFamily(f)) << f.toStdString();
    const QFontInfo info(ReportFont(family, 9));
    bool chinese = false;
    for (const QString& f : families) {
      chinese = chinese || QFontDatabase::writingSystems(f).contains(QFontDatabase::SimplifiedChinese);
    }
    EXPECT_TRUE(chinese) << family.toStdString();
    EXPECT_TRUE(families.contains(info.family())) << info.family().toStdString();
  }
  // Arial's stand-in is a Latin face first, Chinese only as the fallback.
  const QString arial = FontFamilies(QStringLiteral("Arial"), TFontMedium::Print).first();
  EXPECT_FALSE(QFontDatabase::writingSystems(arial).contains(QFontDatabase::SimplifiedChinese))
      << arial.toStdString();
  const QFont bold = ReportFont(QStringLiteral("宋体"), 14, true);
  EXPECT_TRUE(bold.bold());
  EXPECT_DOUBLE_EQ(bold.pointSizeF(), 14.0);
}

// ---- Composition ---------------------------------------------------------------

struct TPagination {
  int rows;
  int pages;
  int rowsOnLastPage;
};

class ReportPagination : public ::testing::TestWithParam<TPagination> {};

// A4 less 20 mm leaves 277 mm: page 1 takes 26 rows under the title, every
// further page 29.
TEST_P(ReportPagination, RowsRunOverPagesWithCaptionsOnEveryPageAndFooterOnEach) {
  const TPagination c = GetParam();
  TSampleReport report;
  report.Rows = c.rows;
  const auto pages = report.Run();
  ASSERT_EQ(static_cast<int>(pages.size()), c.pages);
  EXPECT_EQ(AllTexts(pages, QStringLiteral("RowText")), Numbered(1, c.rows));
  EXPECT_EQ(AllTexts(pages, QStringLiteral("TitleText")), QStringList{QStringLiteral("回路电阻测试仪")});
  EXPECT_EQ(pages.front().TextsOf(QStringLiteral("TitleText")).size(), 1);
  for (int i = 0; i < c.pages; ++i) {
    const TQRPage& p = pages[static_cast<std::size_t>(i)];
    EXPECT_EQ(p.TextsOf(QStringLiteral("CaptionText")), QStringList{QStringLiteral("序号")}) << i;
    EXPECT_EQ(p.TextsOf(QStringLiteral("PageNo")), QStringList{QString::number(i + 1)}) << i;
    // Nothing but the footer below the footer's top edge.
    for (const auto& item : p.Items) {
      if (item.BandName != QLatin1String("Footer")) {
        EXPECT_LE(item.Rect.top(), 277.0 - 19.84 + 1e-6) << item.BandName.toStdString();
      }
    }
  }
  const int expectedPerPage[] = {26, 29};
  for (int i = 0; i + 1 < c.pages; ++i) {
    EXPECT_EQ(pages[static_cast<std::size_t>(i)].TextsOf(QStringLiteral("RowText")).size(),
              expectedPerPage[i == 0 ? 0 : 1]);
  }
  EXPECT_EQ(pages.back().TextsOf(QStringLiteral("RowText")).size(), c.rowsOnLastPage);
  // Asked once per row and once more for the answer that ends the rows.
  EXPECT_EQ(report.Calls, c.rows + 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, ReportPagination,
                         ::testing::Values(TPagination{1, 1, 1}, TPagination{26, 1, 26},
                                           TPagination{27, 2, 1}, TPagination{55, 2, 29},
                                           TPagination{56, 3, 1}, TPagination{100, 4, 16}));

TEST(ReportComposition, BandsStackInMillimetresAndLabelsSitAtReportPixels) {
  TSampleReport report;
  report.Rows = 2;
  const auto pages = report.Run();
  ASSERT_EQ(pages.size(), 1u);
  const TQRPage& p = pages.front();
  std::vector<TQRPageItem> rules, rows;
  const TQRPageItem* title = nullptr;
  const TQRPageItem* caption = nullptr;
  const TQRPageItem* pageNo = nullptr;
  for (const auto& item : p.Items) {
    if (item.Kind == TQRPageItem::ikRule) rules.push_back(item);
    if (item.LabelName == QLatin1String("RowText")) rows.push_back(item);
    if (item.LabelName == QLatin1String("TitleText")) title = &item;
    if (item.LabelName == QLatin1String("CaptionText")) caption = &item;
    if (item.LabelName == QLatin1String("PageNo")) pageNo = &item;
  }
  ASSERT_TRUE(title && caption && pageNo);
  ASSERT_EQ(rows.size(), 2u);
  const double px = 25.4 / 96.0;
  // Title: centred over the 200 mm band, 32 px down.
  EXPECT_NEAR(title->Rect.left(), 0.0, 1e-9);
  EXPECT_NEAR(title->Rect.width(), 200.0, 1e-9);
  EXPECT_NEAR(title->Rect.top(), 32 * px, 1e-9);
  EXPECT_TRUE(title->Flags & Qt::AlignHCenter);
  // Caption band right under the title, its label 10 px right and down.
  EXPECT_NEAR(caption->Rect.left(), 10 * px, 1e-9);
  EXPECT_NEAR(caption->Rect.top(), 25.4 + 10 * px, 1e-9);
  EXPECT_TRUE(caption->Flags & Qt::AlignLeft);
  // Rows one band height apart, below the caption band.
  EXPECT_NEAR(rows[0].Rect.left(), 13 * px, 1e-9);
  EXPECT_NEAR(rows[0].Rect.top(), 25.4 + 8.47 + 10 * px, 1e-9);
  EXPECT_NEAR(rows[1].Rect.top() - rows[0].Rect.top(), 8.47, 1e-9);
  // Footer at the bottom of the printable area, page number right-aligned.
  EXPECT_NEAR(pageNo->Rect.top(), 277.0 - 19.84 + 8 * px, 1e-9);
  EXPECT_TRUE(pageNo->Flags & Qt::AlignRight);
  EXPECT_NEAR(pageNo->Rect.right(), 200.0, 1e-9);
  // Rules: caption band top and bottom, footer top.
  ASSERT_EQ(rules.size(), 3u);
  EXPECT_NEAR(rules[0].Rect.top(), 25.4, 1e-9);
  EXPECT_NEAR(rules[1].Rect.top(), 25.4 + 8.47, 1e-9);
  EXPECT_NEAR(rules[2].Rect.top(), 277.0 - 19.84, 1e-9);
  for (const auto& r : rules) EXPECT_NEAR(r.Rect.width(), 200.0, 1e-9);
}

TEST(ReportComposition, RowsStopAtTheFirstNoAndCaptionsAndLeftsFollowRunTimeChanges) {
  TSampleReport report;
  report.Rows = 10;
  report.StopAt = 4;  // the fourth call says no; later calls would say yes
  auto pages = report.Run();
  EXPECT_EQ(AllTexts(pages, QStringLiteral("RowText")), Numbered(1, 3));
  EXPECT_EQ(report.Calls, 4);

  report.StopAt = 0;
  report.Rows = 1;
  report.CaptionText->Caption = QStringLiteral("编号");
  report.CaptionText->Left = 96;  // one inch
  report.TitleText->Caption.clear();  // an empty label prints nothing
  pages = report.Run();
  EXPECT_EQ(AllTexts(pages, QStringLiteral("CaptionText")), QStringList{QStringLiteral("编号")});
  EXPECT_TRUE(AllTexts(pages, QStringLiteral("TitleText")).isEmpty());
  for (const auto& item : pages.front().Items) {
    if (item.LabelName == QLatin1String("CaptionText")) {
      EXPECT_NEAR(item.Rect.left(), 25.4, 1e-9);
    }
  }
}

TEST(ReportComposition, AReportWithoutRowsStillPrintsTitleCaptionsAndFooterButNoOldValues) {
  TSampleReport report;
  report.Rows = 3;
  report.Run();  // leaves "R3" in the row label
  report.Rows = 0;
  const auto pages = report.Run();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].TextsOf(QStringLiteral("CaptionText")).size(), 1);
  EXPECT_EQ(pages[0].TextsOf(QStringLiteral("TitleText")).size(), 1);
  EXPECT_EQ(pages[0].TextsOf(QStringLiteral("PageNo")), QStringList{QStringLiteral("1")});
  EXPECT_TRUE(pages[0].TextsOf(QStringLiteral("RowText")).isEmpty());
  EXPECT_EQ(report.Calls, 1);
}

TEST(ReportComposition, TheLayoutsPrintableAreaDecidesThePages) {
  TSampleReport report;
  report.Rows = 100;
  report.Page.Orientation = QPageLayout::Landscape;  // 190 mm high: 16 rows, then 19 a page
  const auto pages = report.Run();
  ASSERT_EQ(pages.size(), 6u);  // 16 + 4 * 19 = 92, 8 left
  EXPECT_EQ(pages.front().TextsOf(QStringLiteral("RowText")).size(), 16);
  EXPECT_EQ(pages.back().TextsOf(QStringLiteral("RowText")).size(), 8);
  for (const auto& item : pages.front().Items) {
    if (item.Kind == TQRPageItem::ikRule) {
      EXPECT_NEAR(item.Rect.width(), 287.0, 1e-9);
    }
  }
  EXPECT_EQ(AllTexts(pages, QStringLiteral("RowText")), Numbered(1, 100));
}

// ---- Drawing to PDF ----------------------------------------------------------------

TEST(ReportPdf, PrintedPagesCarryEveryTextInChineseAndLatin) {
  QTemporaryDir dir;
  TSampleReport report;
  report.Rows = 30;
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(dir.filePath(QStringLiteral("r.pdf")));
  printer.setPageLayout(report.Page.Layout());
  EXPECT_EQ(report.Print(printer), 2);
  const QStringList pages = PdfPages(printer.outputFileName());
  ASSERT_EQ(pages.size(), 2);
  EXPECT_EQ(pages[0].count(QStringLiteral("回路电阻测试仪")), 1);
  EXPECT_EQ(pages[1].count(QStringLiteral("回路电阻测试仪")), 0);
  for (const QString& page : pages) EXPECT_EQ(page.count(QStringLiteral("序号")), 1);
  const QString all = pages.join(QChar('\n'));
  for (int i = 1; i <= 30; ++i) {
    EXPECT_TRUE(all.contains(QRegularExpression(QStringLiteral("\\bR%1\\b").arg(i)))) << i;
  }
  // Page numbers sit at the right margin, in the footer.
  const auto words = PdfWords(printer.outputFileName());
  int numbers = 0;
  for (const auto& w : words) {
    if ((w.Text == QLatin1String("1") && w.Page == 1) || (w.Text == QLatin1String("2") && w.Page == 2)) {
      ++numbers;
      EXPECT_NEAR(w.XMax, (5 + 200) / 25.4 * 72, 2.0);
      EXPECT_GT(w.YMin, (10 + 277 - 19.84) / 25.4 * 72);
    }
  }
  EXPECT_EQ(numbers, 2);
}

// A picture on the title band lands where its band and place say, scaled to
// fill it; its text prints as text, as large as the scale makes it; a place
// without a picture prints nothing.
TEST(ReportPdf, APictureFillsItsPlaceAndItsTextsStayTexts) {
  QTemporaryDir dir;
  TSampleReport report;
  report.Rows = 1;
  TQRImage* image = report.Title->AddImage(QStringLiteral("Chart"));
  image->Left = 96;  // 25.4 mm
  image->Top = 0;
  image->Width = 384;  // 101.6 mm wide, 50.8 mm high
  image->Height = 192;
  TQRImage* empty = report.Title->AddImage(QStringLiteral("Empty"));
  empty->Width = empty->Height = 96;
  auto picture = std::make_shared<QPicture>();
  {
    // 200 x 100 units: the picture is drawn at twice its size.
    QPainter p(picture.get());
    QFont f = ReportFont(QStringLiteral("宋体"), 10);
    f.setPixelSize(20);
    p.setFont(f);
    p.drawRect(0, 0, 199, 99);
    p.drawText(QPointF(10, 40), QStringLiteral("趋势图"));
  }
  picture->setBoundingRect(QRect(0, 0, 200, 100));
  image->Picture = picture;

  const std::vector<TQRPage> pages = report.Run();
  int pictures = 0;
  for (const TQRPageItem& item : pages[0].Items) {
    if (item.Kind != TQRPageItem::ikPicture) continue;
    ++pictures;
    EXPECT_EQ(item.LabelName, QStringLiteral("Chart"));
    EXPECT_NEAR(item.Rect.left(), 25.4, 1e-9);
    EXPECT_NEAR(item.Rect.width(), 101.6, 1e-9);
    EXPECT_NEAR(item.Rect.height(), 50.8, 1e-9);
  }
  EXPECT_EQ(pictures, 1);

  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(dir.filePath(QStringLiteral("p.pdf")));
  printer.setPageLayout(report.Page.Layout());
  report.Print(printer);
  bool found = false;
  for (const TPdfWord& w : PdfWords(printer.outputFileName())) {
    if (w.Text != QStringLiteral("趋势图")) continue;
    found = true;
    // Left margin 5 mm + 25.4 mm + 10 units of 0.508 mm.
    EXPECT_NEAR(w.XMin, (5 + 25.4 + 5.08) / 25.4 * 72, 3.0);
    // Three glyphs of 20 units, 0.508 mm each: about 30 mm wide.
    EXPECT_NEAR(w.XMax - w.XMin, 3 * 20 * 0.508 / 25.4 * 72, 8.0);
  }
  EXPECT_TRUE(found) << PdfText(printer.outputFileName()).toStdString();
}

TEST(ReportPdf, APrinterThatCannotStartIsAnError) {
  TSampleReport report;
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QStringLiteral("/nonexistent-folder/x/r.pdf"));
  EXPECT_THROW(report.Print(printer), EAppError);
}

// ---- Page store and preview control -------------------------------------------------

TEST(ReportPreviewControl, ShowsTheStoresPagesAndReportsEachPage) {
  TSampleReport report;
  report.Rows = 60;  // 3 pages
  auto store = std::make_unique<TQRPrinter>(&report, std::make_shared<QPrinter>(QPrinter::HighResolution));
  store->SetPages(report.Run(), report.Page.Layout());
  EXPECT_EQ(store->Title(), QStringLiteral("样例报表"));

  TQRPreview preview;
  preview.resize(600, 800);
  QList<int> available;
  QObject::connect(&preview, &TQRPreview::PageAvailable, [&](int n) { available << n; });
  preview.SetQRPrinter(store.get());
  preview.show();
  FlushEvents();
  EXPECT_EQ(available, (QList<int>{1, 2, 3}));
  EXPECT_EQ(preview.PageCount(), 3);
  EXPECT_EQ(preview.PageNumber(), 1);
  EXPECT_EQ(preview.Zoom(), 100);
  EXPECT_TRUE(store->Shown());

  preview.SetPageNumber(3);
  EXPECT_EQ(preview.PageNumber(), 3);
  preview.SetPageNumber(0);
  preview.SetPageNumber(4);
  EXPECT_EQ(preview.PageNumber(), 3);

  // New pages (another layout) are shown again and reported again.
  available.clear();
  report.Page.Orientation = QPageLayout::Landscape;
  store->SetPages(report.Run(), report.Page.Layout());
  EXPECT_EQ(available, (QList<int>{1, 2, 3, 4}));

  bool finished = false;
  QObject::connect(store.get(), &TQRPrinter::PreviewFinished, [&] { finished = true; });
  preview.SetQRPrinter(nullptr);
  EXPECT_TRUE(finished);
  EXPECT_FALSE(store->Shown());
}

TEST(ReportPreviewCall, WaitsWithEventsFlowingUntilThePreviewCloses) {
  TSampleReport report;
  report.Rows = 5;
  bool timerRan = false;
  int pagesSeen = 0;
  report.OnPreview = [&](TQRPrinter& printer) {
    pagesSeen = printer.PageCount();
    auto* preview = new TQRPreview;
    preview->setAttribute(Qt::WA_DeleteOnClose);
    preview->SetQRPrinter(&printer);
    preview->show();
    QTimer::singleShot(0, [&timerRan] { timerRan = true; });
    QTimer::singleShot(20, preview, [preview] { preview->close(); });
  };
  report.Preview();
  EXPECT_TRUE(timerRan);  // the call returned only after the close, events flowed
  EXPECT_EQ(pagesSeen, 1);
  EXPECT_FALSE(report.Previewing());
  FlushEvents();
}

TEST(ReportPreviewCall, DestroyingTheReportClosesItsPreviewAndEndsTheCall) {
  auto* report = new TSampleReport;
  report->Rows = 5;
  QPointer<TQRPreview> shown;
  report->OnPreview = [&](TQRPrinter& printer) {
    shown = new TQRPreview;
    shown->setAttribute(Qt::WA_DeleteOnClose);
    shown->SetQRPrinter(&printer);
    shown->show();
    QTimer::singleShot(0, [report] { delete report; });
  };
  report->Preview();  // returns although nobody closed the preview by hand
  FlushEvents();
  EXPECT_TRUE(shown.isNull());
}

TEST(ReportPreviewCall, WithoutAPreviewShownTheCallReturnsAtOnce) {
  TSampleReport report;
  report.Rows = 2;
  int calls = 0;
  report.OnPreview = [&](TQRPrinter& printer) {
    ++calls;
    EXPECT_EQ(printer.Pages().front().TextsOf(QStringLiteral("RowText")).size(), 2);
  };
  report.Preview();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(report.Previewing());
}
