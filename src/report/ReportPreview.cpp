#include "report/ReportPreview.h"

#include <QPainter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QVBoxLayout>

#include "report/ReportEngine.h"

TQRPreview::TQRPreview(QWidget* parent) : QWidget(parent) {
  FLayout = new QVBoxLayout(this);
  FLayout->setContentsMargins(0, 0, 0, 0);
}

TQRPreview::~TQRPreview() {
  Release();
  // The view draws with the page printer: it goes first.
  delete FView;
  FView = nullptr;
}

void TQRPreview::Release() {
  TQRPrinter* printer = FQRPrinter.data();
  FQRPrinter = nullptr;
  if (!printer) return;
  disconnect(printer, nullptr, this, nullptr);
  printer->Detach(this);
}

void TQRPreview::SetQRPrinter(TQRPrinter* printer) {
  if (printer == FQRPrinter.data()) return;
  Release();
  if (!printer) return;

  delete FView;
  FView = nullptr;
  FQRPrinter = printer;
  printer->Attach(this);
  connect(printer, &TQRPrinter::PagesChanged, this, &TQRPreview::Reload);
  connect(printer, &TQRPrinter::CloseRequested, this, [this] {
    if (QWidget* w = window()) w->close();
  });

  // The preview keeps its own page printer: whatever the operator chooses
  // for printing (another printer, a file) never disturbs the pages shown.
  FPagePrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
  FPagePrinter->setOutputFormat(QPrinter::PdfFormat);
  FView = new QPrintPreviewWidget(FPagePrinter.get(), this);
  FView->setObjectName(QStringLiteral("View"));
  FView->setViewMode(QPrintPreviewWidget::SinglePageView);
  FView->setZoomFactor(1.0);
  connect(FView, &QPrintPreviewWidget::paintRequested, this, [this](QPrinter* device) {
    if (!FQRPrinter) return;
    QPainter painter(device);
    DrawReportPages(painter, *device, FQRPrinter->Pages());
  });
  connect(FView, &QPrintPreviewWidget::previewChanged, this, [this] {
    if (!FView || FView->pageCount() == 0) return;
    const int page = FView->currentPage();
    if (page == FShownPage) return;
    FShownPage = page;
    emit PageChanged(page);
  });
  FLayout->addWidget(FView);
  Reload();
}

void TQRPreview::Reload() {
  if (!FQRPrinter || !FView) return;
  TQRPrinter* store = FQRPrinter.data();
  FPagePrinter->setPageLayout(store->Layout());
  FPagePrinter->setDocName(store->Title());
  FView->updatePreview();
  FShownPage = FView->pageCount() > 0 ? FView->currentPage() : 0;
  const int n = FView->pageCount();
  QPointer<TQRPreview> self(this);
  for (int page = 1; page <= n; ++page) {
    emit PageAvailable(page);
    if (!self || FQRPrinter.data() != store) return;
    emit ProgressUpdate(page * 100 / n);
    if (!self || FQRPrinter.data() != store) return;
  }
}

int TQRPreview::PageCount() const { return FView ? FView->pageCount() : 0; }

int TQRPreview::PageNumber() const {
  return FView && FView->pageCount() > 0 ? FView->currentPage() : 0;
}

void TQRPreview::SetPageNumber(int page) {
  if (!FView || page < 1 || page > FView->pageCount()) return;
  FShownPage = page;  // no PageChanged for a page asked for
  FView->setCurrentPage(page);
  FShownPage = FView->currentPage();
}

void TQRPreview::ZoomToFit() {
  if (FView) FView->fitInView();
}

void TQRPreview::ZoomToWidth() {
  if (FView) FView->fitToWidth();
}

void TQRPreview::SetZoom(int percent) {
  if (FView && percent > 0) FView->setZoomFactor(percent / 100.0);
}

int TQRPreview::Zoom() const { return FView ? qRound(FView->zoomFactor() * 100.0) : 100; }
