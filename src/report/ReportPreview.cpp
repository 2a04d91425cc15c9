#include "report/ReportPreview.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

#include "report/ReportEngine.h"

namespace {

constexpr int kMargin = 10;   // screen pixels around the pages
constexpr int kGap = 10;      // between two pages
constexpr size_t kKept = 8;   // page pictures kept for scrolling back

}  // namespace

// ---- Page view ---------------------------------------------------------------

TQRPageView::TQRPageView(QWidget* parent) : QAbstractScrollArea(parent) {
  setObjectName(QStringLiteral("View"));
  viewport()->setAutoFillBackground(true);
  QPalette p = viewport()->palette();
  p.setColor(QPalette::Window, QColor(128, 128, 128));
  viewport()->setPalette(p);
  verticalScrollBar()->setSingleStep(20);
  horizontalScrollBar()->setSingleStep(20);
}

void TQRPageView::SetStore(TQRPrinter* store) {
  FStore = store;
  FCache.clear();
  FPagesDrawn = 0;
  FLastCurrent = 0;
  Reload();
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
  NoteCurrentPage();
}

void TQRPageView::Reload() {
  FCache.clear();
  if (FStore) FLayout = FStore->Layout();
  const int page = std::min(FLastCurrent, PageCount());
  const bool held = FHold;
  FHold = true;
  ApplyMode();
  UpdateScrollBars();
  if (page > 0) SetCurrentPage(page);
  FLastCurrent = page;
  FHold = held;
  viewport()->update();
}

void TQRPageView::PagesAdded() {
  const bool held = FHold;
  FHold = true;
  UpdateScrollBars();
  FHold = held;
  if (FLastCurrent == 0) NoteCurrentPage();
  viewport()->update();
}

int TQRPageView::PageCount() const { return FStore ? FStore->PageCount() : 0; }

QSizeF TQRPageView::PaperPixels() const {
  const QSizeF mm = FLayout.fullRect(QPageLayout::Millimeter).size();
  return QSizeF(mm.width() * logicalDpiX() / 25.4, mm.height() * logicalDpiY() / 25.4);
}

QSize TQRPageView::PageSize() const {
  const QSizeF paper = PaperPixels();
  return QSize(std::max(1, int(std::lround(paper.width() * FZoom))),
               std::max(1, int(std::lround(paper.height() * FZoom))));
}

int TQRPageView::Stride() const { return PageSize().height() + kGap; }

void TQRPageView::ApplyMode() {
  const QSizeF paper = PaperPixels();
  if (FMode == CustomZoom || paper.isEmpty()) return;
  const double width = std::max(1, viewport()->width() - 2 * kMargin) / paper.width();
  const double height = std::max(1, viewport()->height() - 2 * kMargin) / paper.height();
  const double zoom = FMode == FitToWidth ? width : std::min(width, height);
  if (std::abs(zoom - FZoom) > 1e-9) {
    FZoom = zoom;
    FCache.clear();
  }
}

void TQRPageView::UpdateScrollBars() {
  const int n = PageCount();
  const QSize page = PageSize();
  // Long reports can exceed what a scroll bar counts: the height is held
  // in 64 bits and capped.
  const qint64 height = n > 0 ? 2 * kMargin + qint64(n) * Stride() - kGap : 0;
  const int total = int(std::min<qint64>(height, std::numeric_limits<int>::max() / 2));
  const int width = n > 0 ? page.width() + 2 * kMargin : 0;
  verticalScrollBar()->setPageStep(viewport()->height());
  verticalScrollBar()->setRange(0, std::max(0, total - viewport()->height()));
  horizontalScrollBar()->setPageStep(viewport()->width());
  horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
}

int TQRPageView::CurrentPage() const { return PageCount() > 0 ? std::max(FLastCurrent, 1) : 0; }

void TQRPageView::SetCurrentPage(int page) {
  if (page < 1 || page > PageCount()) return;
  FLastCurrent = page;
  const qint64 top = kMargin + qint64(page - 1) * Stride() - kGap / 2;
  const bool held = FHold;
  FHold = true;
  verticalScrollBar()->setValue(int(std::min<qint64>(std::max<qint64>(top, 0), verticalScrollBar()->maximum())));
  FHold = held;
  FLastCurrent = page;  // the scroll above does not move the current page
  viewport()->update();
}

void TQRPageView::NoteCurrentPage() {
  const int n = PageCount();
  if (n == 0) {
    FLastCurrent = 0;
    return;
  }
  // The page under a point a third of the way down the view.
  const qint64 y = qint64(verticalScrollBar()->value()) + viewport()->height() / 3 - kMargin;
  const int page = int(std::clamp<qint64>(y / Stride() + 1, 1, n));
  if (page == FLastCurrent) return;
  FLastCurrent = page;
  emit CurrentPageChanged(page);
}

void TQRPageView::Rezoom(TZoomMode mode, double factor) {
  // The page in view stays the current page whatever the new scale.
  const int page = CurrentPage();
  const bool held = FHold;
  FHold = true;
  FMode = mode;
  if (mode == CustomZoom && std::abs(factor - FZoom) > 1e-9) {
    FCache.clear();
    FZoom = factor;
  }
  ApplyMode();
  UpdateScrollBars();
  if (page > 0) SetCurrentPage(page);
  FHold = held;
  viewport()->update();
}

void TQRPageView::SetZoomFactor(double factor) {
  if (factor > 0) Rezoom(CustomZoom, factor);
}

void TQRPageView::FitToPageWidth() { Rezoom(FitToWidth, FZoom); }

void TQRPageView::FitPageInView() { Rezoom(FitInView, FZoom); }

void TQRPageView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  Rezoom(FMode, FZoom);
}

void TQRPageView::scrollContentsBy(int, int) {
  if (!FHold) NoteCurrentPage();
  viewport()->update();
}

QImage TQRPageView::PagePicture(int index) {
  for (auto it = FCache.begin(); it != FCache.end(); ++it) {
    if (it->first == index) {
      FCache.splice(FCache.begin(), FCache, it);
      return FCache.front().second;
    }
  }
  const double ratio = devicePixelRatioF();
  const QSize size = PageSize();
  QImage image(QSize(int(size.width() * ratio), int(size.height() * ratio)), QImage::Format_RGB32);
  // The page's millimetres become pixels by the image's resolution.
  const double dotsPerMetre = logicalDpiX() * FZoom * ratio / 0.0254;
  image.setDotsPerMeterX(int(std::lround(dotsPerMetre)));
  image.setDotsPerMeterY(int(std::lround(logicalDpiY() * FZoom * ratio / 0.0254)));
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::white);
  if (FStore) {
    const TQRPage page = FStore->Page(index);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF paper = FLayout.fullRect(QPageLayout::Millimeter);
    const QRectF area = FLayout.paintRect(QPageLayout::Millimeter);
    const double kx = image.logicalDpiX() / 25.4 / ratio;
    const double ky = image.logicalDpiY() / 25.4 / ratio;
    painter.translate((area.left() - paper.left()) * kx, (area.top() - paper.top()) * ky);
    DrawReportPage(painter, image, page);
  }
  ++FPagesDrawn;
  FCache.emplace_front(index, image);
  while (FCache.size() > kKept) FCache.pop_back();
  return image;
}

void TQRPageView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  const int n = PageCount();
  if (n == 0) return;
  const QSize size = PageSize();
  const int stride = Stride();
  const int x0 = std::max(kMargin, (viewport()->width() - size.width()) / 2) - horizontalScrollBar()->value();
  const qint64 scroll = verticalScrollBar()->value();
  const QRect dirty = event->rect();
  const qint64 firstY = scroll + dirty.top() - kMargin;
  const int first = int(std::clamp<qint64>(firstY / stride, 0, n - 1));
  for (int i = first; i < n; ++i) {
    const qint64 top = kMargin + qint64(i) * stride - scroll;
    if (top > dirty.bottom()) break;
    const QRect place(x0, int(top), size.width(), size.height());
    if (!place.intersects(dirty)) continue;
    painter.fillRect(place.translated(3, 3), QColor(64, 64, 64));  // the page's shadow
    painter.drawImage(place.topLeft(), PagePicture(i));
    painter.setPen(QColor(32, 32, 32));
    painter.drawRect(place.adjusted(0, 0, -1, -1));
  }
}

// ---- Preview control ---------------------------------------------------------

TQRPreview::TQRPreview(QWidget* parent) : QWidget(parent) {
  FLayout = new QVBoxLayout(this);
  FLayout->setContentsMargins(0, 0, 0, 0);
}

TQRPreview::~TQRPreview() { Release(); }

void TQRPreview::Release() {
  TQRPrinter* printer = FQRPrinter.data();
  FQRPrinter = nullptr;
  if (FView) FView->SetStore(nullptr);
  if (!printer) return;
  disconnect(printer, nullptr, this, nullptr);
  printer->Detach(this);
}

void TQRPreview::SetQRPrinter(TQRPrinter* printer) {
  if (printer == FQRPrinter.data()) return;
  Release();
  if (!printer) return;

  FQRPrinter = printer;
  printer->Attach(this);
  connect(printer, &TQRPrinter::PagesChanged, this, &TQRPreview::Reload);
  connect(printer, &TQRPrinter::PagesAdded, this, &TQRPreview::Added);
  connect(printer, &TQRPrinter::CloseRequested, this, [this] {
    if (QWidget* w = window()) w->close();
  });
  if (!FView) {
    FView = new TQRPageView(this);
    connect(FView, &TQRPageView::CurrentPageChanged, this, [this](int page) {
      if (page == FShownPage) return;
      FShownPage = page;
      emit PageChanged(page);
    });
    FLayout->addWidget(FView);
  }
  FView->SetStore(printer);
  Reload();
}

void TQRPreview::Reload() {
  if (!FQRPrinter || !FView) return;
  FView->Reload();
  FShownPage = FView->CurrentPage();
  Report(1);
}

void TQRPreview::Added(int firstNew) {
  if (!FQRPrinter || !FView) return;
  FView->PagesAdded();
  Report(firstNew);
}

void TQRPreview::Report(int firstNew) {
  // Pages are known from their layout: they are reported without drawing one.
  TQRPrinter* store = FQRPrinter.data();
  const int n = FView->PageCount();
  QPointer<TQRPreview> self(this);
  for (int page = firstNew; page <= n; ++page) {
    emit PageAvailable(page);
    if (!self || FQRPrinter.data() != store) return;
    emit ProgressUpdate(int(qint64(page) * 100 / n));
    if (!self || FQRPrinter.data() != store) return;
  }
}

int TQRPreview::PageCount() const { return FView && FQRPrinter ? FView->PageCount() : 0; }

int TQRPreview::PageNumber() const { return FView && FQRPrinter ? FView->CurrentPage() : 0; }

void TQRPreview::SetPageNumber(int page) {
  if (!FView || page < 1 || page > PageCount()) return;
  FView->SetCurrentPage(page);
  FShownPage = FView->CurrentPage();  // no PageChanged for a page asked for
}

void TQRPreview::ZoomToFit() {
  if (FView) FView->FitPageInView();
}

void TQRPreview::ZoomToWidth() {
  if (FView) FView->FitToPageWidth();
}

void TQRPreview::SetZoom(int percent) {
  if (FView && percent > 0) FView->SetZoomFactor(percent / 100.0);
}

int TQRPreview::Zoom() const { return FView ? qRound(FView->ZoomFactor() * 100.0) : 100; }
