#pragma once
// The report engine's preview control: shows the pages of a page store
// (TQRPrinter) on a QPrintPreviewWidget, one page under the other, with zoom
// and a current page. It reports every page it has received, and tells the
// store when it stops showing it, so that the report's Preview returns.
#include <QPointer>
#include <QWidget>

#include <memory>

class QPrintPreviewWidget;
class QPrinter;
class QVBoxLayout;
class TQRPrinter;

class TQRPreview : public QWidget {
  Q_OBJECT
 public:
  explicit TQRPreview(QWidget* parent = nullptr);
  ~TQRPreview() override;

  // Shows the store's pages, from page 1; nullptr stops showing a store.
  // Reports PageAvailable for every page received.
  void SetQRPrinter(TQRPrinter* printer);
  TQRPrinter* QRPrinter() const { return FQRPrinter.data(); }

  // Pages received from the store.
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

  QPrintPreviewWidget* View() const { return FView; }

 signals:
  void PageAvailable(int pageNumber);
  void ProgressUpdate(int percent);
  // The shown page changed without SetPageNumber (the operator scrolled).
  void PageChanged(int pageNumber);

 private:
  void Reload();
  void Release();

  QPointer<TQRPrinter> FQRPrinter;
  std::unique_ptr<QPrinter> FPagePrinter;  // page geometry of the preview
  QPrintPreviewWidget* FView = nullptr;
  QVBoxLayout* FLayout = nullptr;
  int FShownPage = 0;
};
