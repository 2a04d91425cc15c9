#pragma once
// The report engine's preview control: shows the pages of a page store
// (TQRPrinter) one under the other, with zoom and a current page. The page
// count and the navigation come from the store's layout of the pages; a page
// is composed and drawn only when it comes into view, and its picture is let
// go when it is far from it, so a report of any length opens at once and
// its memory does not grow with its pages. It reports every page of the
// store, and tells the store when it stops showing it, so that the report's
// Preview returns.
#include <QAbstractScrollArea>
#include <QImage>
#include <QPageLayout>
#include <QPointer>
#include <QWidget>

#include <list>
#include <utility>

class QVBoxLayout;
class TQRPrinter;

// The pages stacked vertically on a grey ground, drawn when seen.
class TQRPageView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  enum TZoomMode { CustomZoom, FitToWidth, FitInView };

  explicit TQRPageView(QWidget* parent = nullptr);

  // Shows the store's pages from page 1; nullptr shows none.
  void SetStore(TQRPrinter* store);
  // The pages were laid out again: same place, new pictures.
  void Reload();
  // More pages were laid out after the last.
  void PagesAdded();

  int PageCount() const;
  // The page most in view, 1-based; 0 without pages.
  int CurrentPage() const;
  // Scrolls page (1-based) to the top of the view.
  void SetCurrentPage(int page);

  TZoomMode ZoomMode() const { return FMode; }
  // Zoom factor: 1 is the paper's real size on this screen.
  double ZoomFactor() const { return FZoom; }
  void SetZoomFactor(double factor);
  void FitToPageWidth();
  void FitPageInView();

  // Pages drawn since the store was set (for a look at how lazily it works).
  int PagesDrawn() const { return FPagesDrawn; }

 signals:
  void CurrentPageChanged(int page);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  QSizeF PaperPixels() const;  // a page at zoom 1, screen pixels
  QSize PageSize() const;      // a page at the zoom, screen pixels
  int Stride() const;          // from one page's top to the next's
  void ApplyMode();
  void Rezoom(TZoomMode mode, double factor);
  void UpdateScrollBars();
  QImage PagePicture(int index);
  void NoteCurrentPage();

  QPointer<TQRPrinter> FStore;
  QPageLayout FLayout;
  TZoomMode FMode = CustomZoom;
  double FZoom = 1.0;
  int FPagesDrawn = 0;
  int FLastCurrent = 0;
  bool FHold = false;  // scrolling done here, not by the operator
  std::list<std::pair<int, QImage>> FCache;  // most recently seen first
};

class TQRPreview : public QWidget {
  Q_OBJECT
 public:
  explicit TQRPreview(QWidget* parent = nullptr);
  ~TQRPreview() override;

  // Shows the store's pages, from page 1; nullptr stops showing a store.
  // Reports PageAvailable for every page of the store.
  void SetQRPrinter(TQRPrinter* printer);
  TQRPrinter* QRPrinter() const { return FQRPrinter.data(); }

  // Pages of the store.
  int PageCount() const;
  // Current page, 1-based; 0 while there is no page. Setting a page outside
  // 1..PageCount is ignored.
  int PageNumber() const;
  void SetPageNumber(int page);

  void ZoomToFit();
  void ZoomToWidth();
  void SetZoom(int percent);
  // Zoom in percent of the real page size.
  int Zoom() const;

  TQRPageView* View() const { return FView; }

 signals:
  void PageAvailable(int pageNumber);
  void ProgressUpdate(int percent);
  // The shown page changed without SetPageNumber (the operator scrolled).
  void PageChanged(int pageNumber);

 private:
  void Reload();
  void Added(int firstNew);
  void Report(int firstNew);
  void Release();

  QPointer<TQRPrinter> FQRPrinter;
  TQRPageView* FView = nullptr;
  QVBoxLayout* FLayout = nullptr;
  int FShownPage = 0;
};
