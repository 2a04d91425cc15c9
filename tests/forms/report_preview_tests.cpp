// The report preview window: its toolbar, paging and page label, zoom,
// printer set-up, printing and closing.
#include <QApplication>
#include <QButtonGroup>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <memory>

#include "report/ReportEngine.h"
#include "report/ReportPreview.h"
#include "report_fixture.h"

namespace {

int PreviewWindows() {
  int n = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (qobject_cast<TFrmPreview*>(w)) ++n;
  }
  return n;
}

QString Label(int page, int count) {
  return QStringLiteral(" 第 %1 页   总 %2 页").arg(page).arg(count);
}

}  // namespace

using ReportPreview = ReportFixture;

TEST_F(ReportPreview, OpensMaximisedWithTheTitleAndToolbarAtPageOneOfAll) {
  Fill(SGSave, 100);
  PrintArchive(100, [&](TFrmPreview* w) {
    EXPECT_EQ(w->windowTitle(), QStringLiteral("回路电阻测试仪 主报表"));
    EXPECT_TRUE(w->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(w->minimumSize(), QSize(200, 100));
    EXPECT_EQ(w->Report.data(), QRMain);
    EXPECT_EQ(w->PageCount, 4);
    EXPECT_EQ(w->PageLabel(), Label(1, 4));
    EXPECT_EQ(w->QRPreview1->Zoom(), 100);
    EXPECT_TRUE(w->tbZToWidth->isChecked());
    EXPECT_EQ(w->palClient->palette().color(QPalette::Window), QColor(207, 207, 207));

    struct TButton {
      const char* name;
      QString hint;
      bool toggle;
    };
    const TButton buttons[] = {
        {"tbZToFit", QStringLiteral("整张纸缩微显示"), true},
        {"tb100", QStringLiteral("100%显示"), true},
        {"tbZToWidth", QStringLiteral("调整为宽度适合"), true},
        {"tbFirst", QStringLiteral("第一页"), false},
        {"tbPrior", QStringLiteral("上一页"), false},
        {"tbNext", QStringLiteral("下一页"), false},
        {"tbLast", QStringLiteral("最后一页"), false},
        {"tbPrinterSetup", QStringLiteral("打印机设置"), false},
        {"tbPrinter", QStringLiteral("打印"), false},
        {"tbExit", QStringLiteral("退出预览"), false},
    };
    int lastX = -1;
    for (const auto& b : buttons) {
      auto* button = w->findChild<QToolButton*>(QLatin1String(b.name));
      ASSERT_TRUE(button) << b.name;
      EXPECT_EQ(button->toolTip(), b.hint) << b.name;
      EXPECT_EQ(button->isCheckable(), b.toggle) << b.name;
      EXPECT_FALSE(button->icon().isNull()) << b.name;
      EXPECT_GT(button->x(), lastX) << b.name;  // left to right in this order
      lastX = button->x();
    }
    for (const char* name : {"palClient", "CoolBar1", "ToolBar1", "QRPreview1", "StatusBar1"}) {
      EXPECT_TRUE(w->findChild<QWidget*>(QLatin1String(name))) << name;
    }
    EXPECT_GE(w->CoolBar1->height(), 22);
  });
}

struct TPaging {
  const char* clicks;  // f first, p prior, n next, l last
  int page;
};

class ReportPaging : public ReportFixture, public ::testing::WithParamInterface<TPaging> {};

TEST_P(ReportPaging, ButtonsMoveWithinTheAvailablePagesAndTheLabelFollows) {
  Fill(SGSave, 100);  // four pages
  PrintArchive(100, [&](TFrmPreview* w) {
    for (const char* c = GetParam().clicks; *c; ++c) {
      switch (*c) {
        case 'f': w->tbFirst->click(); break;
        case 'p': w->tbPrior->click(); break;
        case 'n': w->tbNext->click(); break;
        case 'l': w->tbLast->click(); break;
      }
    }
    EXPECT_EQ(w->QRPreview1->PageNumber(), GetParam().page);
    EXPECT_EQ(w->PageLabel(), Label(GetParam().page, 4));
  });
}

INSTANTIATE_TEST_SUITE_P(Clicks, ReportPaging,
                         ::testing::Values(TPaging{"p", 1}, TPaging{"pp", 1}, TPaging{"n", 2},
                                           TPaging{"nnn", 4}, TPaging{"nnnnn", 4}, TPaging{"l", 4},
                                           TPaging{"ln", 4}, TPaging{"lp", 3}, TPaging{"lf", 1},
                                           TPaging{"nnp", 2}, TPaging{"lpppp", 1}));

TEST_F(ReportPreview, TheTotalGrowsWithEachPageMadeAvailableAndLastGoesToTheLatest) {
  Fill(SGSave, 60);  // three pages
  LoadReport(SGSave, 60);
  TQRPrinter store(QRMain, std::make_shared<QPrinter>(QPrinter::HighResolution));
  const QPageLayout layout = QRMain->Page.Layout();
  store.SetPages(QRMain->Generate(layout), layout);

  auto* w = new TFrmPreview;
  EXPECT_EQ(w->PageCount, 0);
  EXPECT_TRUE(w->PageLabel().isEmpty());  // nothing before the first page
  w->show();
  QStringList labels;
  QObject::connect(w->QRPreview1, &TQRPreview::PageAvailable, w, [&, w](int) {
    w->tbLast->click();
    labels << w->PageLabel();
  });
  w->QRPreview1->SetQRPrinter(&store);
  EXPECT_EQ(labels, (QStringList{Label(1, 1), Label(2, 2), Label(3, 3)}));
  EXPECT_TRUE(store.Shown());
  w->tbExit->click();
  EXPECT_FALSE(store.Shown());
  FlushEvents();
  EXPECT_EQ(PreviewWindows(), 0);
}

// A long archive opens on page 1 with its page count known, having drawn
// only what is in view; going to the last page draws that page, not the
// pages between.
TEST_F(ReportPreview, ALongReportShowsPageOneAndItsCountBeforeTheOtherPagesAreDrawn) {
  constexpr int kRows = 3000;  // 104 pages
  Fill(SGSave, kRows);
  PrintArchive(kRows, [&](TFrmPreview* w) {
    w->grab().save(QStringLiteral(QK_TEST_OUTPUT_DIR "/preview-long.png"));
    TQRPageView* view = w->QRPreview1->View();
    EXPECT_GE(w->PageCount, 1);
    EXPECT_EQ(w->PageLabel(), Label(1, w->PageCount));
    // The remaining pages are counted in the background, none drawn.
    QElapsedTimer waited;
    waited.start();
    while (!w->QRPreview1->QRPrinter()->Complete() && waited.elapsed() < 60000) {
      QCoreApplication::processEvents();
    }
    EXPECT_EQ(w->PageCount, 104);
    EXPECT_EQ(w->PageLabel(), Label(1, 104));
    EXPECT_GE(view->PagesDrawn(), 1);
    EXPECT_LE(view->PagesDrawn(), 2);
    w->tbLast->click();
    w->grab();
    EXPECT_EQ(w->PageLabel(), Label(104, 104));
    EXPECT_LE(view->PagesDrawn(), 4);
    w->tbZToFit->click();
    w->grab();
    EXPECT_LE(view->PagesDrawn(), 6);
    EXPECT_EQ(w->PageLabel(), Label(104, 104));
  });
}

TEST_F(ReportPreview, AOnePageReportShowsPageOneOfOne) {
  Fill(SGData, 2);
  giDataCount = 2;
  const auto shown = WhenPreviewOpens([&](TFrmPreview* w) {
    EXPECT_EQ(w->PageLabel(), Label(1, 1));
    w->tbNext->click();
    w->tbLast->click();
    EXPECT_EQ(w->PageLabel(), Label(1, 1));
  });
  PrintDataGrid(&Owner, SGData, giDataCount);
  FlushEvents();
  EXPECT_TRUE(*shown) << "no preview window opened";
}

TEST_F(ReportPreview, ZoomButtonsAreExclusiveAndLeaveThePageLabelAlone) {
  Fill(SGSave, 60);
  PrintArchive(60, [&](TFrmPreview* w) {
    w->tbNext->click();
    const QString label = w->PageLabel();
    TQRPageView* view = w->QRPreview1->View();
    w->tbZToFit->click();
    EXPECT_EQ(view->ZoomMode(), TQRPageView::FitInView);
    EXPECT_TRUE(w->tbZToFit->isChecked());
    EXPECT_FALSE(w->tbZToWidth->isChecked());
    w->tb100->click();
    EXPECT_EQ(view->ZoomMode(), TQRPageView::CustomZoom);
    EXPECT_EQ(w->QRPreview1->Zoom(), 100);
    EXPECT_FALSE(w->tbZToFit->isChecked());
    w->tbZToWidth->click();
    EXPECT_EQ(view->ZoomMode(), TQRPageView::FitToWidth);
    EXPECT_TRUE(w->tbZToWidth->isChecked());
    EXPECT_FALSE(w->tb100->isChecked());
    EXPECT_EQ(w->PageLabel(), label);
  });
}

TEST_F(ReportPreview, ClosingOnPageThreeLeavesNothingAndTheNextPrintStartsAtPageOne) {
  Fill(SGSave, 100);
  bool inPreview = false;
  PrintArchive(100, [&](TFrmPreview* w) {
    inPreview = true;
    w->tbLast->click();
    w->tbPrior->click();
    EXPECT_EQ(w->PageLabel(), Label(3, 4));
    w->tbExit->click();
    EXPECT_FALSE(w->isVisible());
  });
  EXPECT_TRUE(inPreview);
  EXPECT_EQ(PreviewWindows(), 0);
  EXPECT_FALSE(QRMain->Previewing());
  PrintArchive(100, [&](TFrmPreview* w) {
    EXPECT_EQ(w->QRPreview1->PageNumber(), 1);
    EXPECT_EQ(w->PageLabel(), Label(1, 4));
  });
  EXPECT_EQ(PreviewWindows(), 0);
}

TEST_F(ReportPreview, PrinterSetUpLaysThePagesOutAgainAndPrintingFollowsIt) {
  Fill(SGSave, 100);
  QString pdf;
  PrintArchive(100, [&](TFrmPreview* w) {
    w->tbPrinterSetup->click();  // cancelled: nothing changes
    EXPECT_EQ(w->PageCount, 4);
    Dialogs.Layouts << QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                   QMarginsF(5, 10, 5, 10), QPageLayout::Millimeter);
    w->tbPrinterSetup->click();
    EXPECT_EQ(Dialogs.PageSetupCalls, 2);
    EXPECT_EQ(w->PageCount, 6);  // 190 mm high: 16 rows, then 19 a page
    EXPECT_EQ(w->QRPreview1->PageCount(), 6);
    w->tbLast->click();
    EXPECT_EQ(w->PageLabel(), Label(6, 6));
    pdf = PrintToPdf(w, QStringLiteral("landscape.pdf"));
    EXPECT_TRUE(w->isVisible());  // the window stays open after printing
  });
  EXPECT_TRUE(Messages.Boxes.isEmpty()) << Messages.Texts().join('|').toStdString();
  EXPECT_EQ(PdfPages(pdf).size(), 6);
  const QString text = PdfText(pdf);
  for (int k : {1, 16, 17, 50, 100}) EXPECT_TRUE(text.contains(SampleRow(k)[2])) << k;
}

TEST_F(ReportPreview, ACancelledPrintDialogPrintsNothing) {
  Fill(SGSave, 3);
  PrintArchive(3, [&](TFrmPreview* w) {
    Dialogs.PdfFiles << QString();
    w->tbPrinter->click();
    EXPECT_EQ(Dialogs.PrintSetupCalls, 1);
    EXPECT_TRUE(w->isVisible());
  });
  EXPECT_TRUE(Messages.Boxes.isEmpty());
  EXPECT_TRUE(QDir(Dir.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(ReportPreview, APrinterThatCannotPrintIsReportedAndThePreviewStays) {
  Fill(SGSave, 3);
  PrintArchive(3, [&](TFrmPreview* w) {
    Dialogs.PdfFiles << QStringLiteral("/nonexistent-folder/sub/r.pdf");
    w->tbPrinter->click();
    EXPECT_TRUE(w->isVisible());
  });
  ASSERT_EQ(Messages.Boxes.size(), 1);
  EXPECT_EQ(Messages.Boxes[0].text, QStringLiteral("打印失败，打印机无法使用！"));
  EXPECT_EQ(Messages.Boxes[0].icon, TMsgIcon::Error);
}

TEST_F(ReportPreview, FreeingTheReportWhileItsPreviewIsOpenClosesThePreview) {
  Fill(SGSave, 10);
  bool opened = false;
  PrintArchive(10, [&](TFrmPreview*) {
    opened = true;
    FreeReport();  // the main window closes meanwhile
  });
  EXPECT_TRUE(opened);
  EXPECT_EQ(QRMain, nullptr);
  EXPECT_EQ(PreviewWindows(), 0);
}

TEST_F(ReportPreview, PrintingAgainWhileAPreviewIsOpenReplacesThatPreview) {
  Fill(SGSave, 10);
  Fill(SGData, 40);
  QPointer<TFrmPreview> first;
  int secondPages = 0;
  PrintArchive(10, [&](TFrmPreview* w) {
    first = w;
    giDataCount = 40;
    WhenPreviewOpens([&](TFrmPreview* second) {
      EXPECT_NE(second, first.data());
      EXPECT_TRUE(first.isNull() || !first->isVisible());
      secondPages = second->PageCount;
    });
    PrintDataGrid(&Owner, SGData, giDataCount);
  });
  EXPECT_EQ(secondPages, 2);
  EXPECT_EQ(PreviewWindows(), 0);
}

// The Qt dialogs themselves: the print dialog offers no page range (the
// report always prints whole) and, accepted with "print to file", writes the
// PDF; the page set-up dialog hands its layout to the preview.
TEST_F(ReportPreview, TheQtPrintDialogPrintsAllPagesToTheChosenPdfFile) {
  SetPrintDialogs(nullptr);
  Fill(SGSave, 40);
  const QString pdf = Pdf(QStringLiteral("dialog.pdf"));
  QRMain->Printer().setOutputFormat(QPrinter::PdfFormat);
  QRMain->Printer().setOutputFileName(pdf);
  bool sawPrintDialog = false;
  bool sawSetup = false;
  PrintArchive(40, [&](TFrmPreview* w) {
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
      ASSERT_TRUE(dialog);
      sawPrintDialog = true;
      EXPECT_FALSE(dialog->testOption(QAbstractPrintDialog::PrintPageRange));
      EXPECT_FALSE(dialog->testOption(QAbstractPrintDialog::PrintSelection));
      EXPECT_EQ(dialog->windowTitle(), QStringLiteral("打印"));
      dialog->accept();
    });
    w->tbPrinter->click();
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QPageSetupDialog*>(QApplication::activeModalWidget());
      ASSERT_TRUE(dialog);
      sawSetup = true;
      EXPECT_EQ(dialog->windowTitle(), QStringLiteral("打印机设置"));
      dialog->accept();
    });
    w->tbPrinterSetup->click();
    EXPECT_EQ(w->PageCount, 2);  // still A4 portrait
  });
  SetPrintDialogs(&Dialogs);
  EXPECT_TRUE(sawPrintDialog);
  EXPECT_TRUE(sawSetup);
  EXPECT_TRUE(Messages.Boxes.isEmpty()) << Messages.Texts().join('|').toStdString();
  const QStringList pages = PdfPages(pdf);
  ASSERT_EQ(pages.size(), 2);
  for (int k : {1, 26, 27, 40}) EXPECT_TRUE(pages.join('\n').contains(SampleRow(k)[2])) << k;
}
