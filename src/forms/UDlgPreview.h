#pragma once
// The report preview window: one generated report, a toolbar for zoom,
// paging, printer set-up, printing and leaving, and the page label
// " 第 N 页   总 M 页" in the status bar. It is not modal; it releases itself
// when closed, and closing it ends the report's preview call.
#include <QPointer>
#include <QWidget>

#include <cstdint>

class QButtonGroup;
class QFrame;
class QLabel;
class QStatusBar;
class QToolBar;
class QToolButton;
class TQRPreview;
class TQuickRep;

class TFrmPreview : public QWidget {
  Q_OBJECT
 public:
  explicit TFrmPreview(QWidget* parent = nullptr);
  ~TFrmPreview() override;

  QFrame* palClient;
  QFrame* CoolBar1;
  QToolBar* ToolBar1;
  QToolButton* tbZToFit;
  QToolButton* tb100;
  QToolButton* tbZToWidth;
  QToolButton* tbFirst;
  QToolButton* tbPrior;
  QToolButton* tbNext;
  QToolButton* tbLast;
  QToolButton* tbPrinterSetup;
  QToolButton* tbPrinter;
  QToolButton* tbExit;
  TQRPreview* QRPreview1;
  QStatusBar* StatusBar1;

  // Pages the preview control has made available so far.
  std::int32_t PageCount = 0;
  // The report shown; cleared when the window closes.
  QPointer<TQuickRep> Report;

  // Caption := text; the window is then shown maximised.
  void SetTitle(const QString& text);
  void UpdatePageLabel();
  // The status panel's text.
  QString PageLabel() const;

  void tbZToFitClick();
  void tb100Click();
  void tbZToWidthClick();
  void tbFirstClick();
  void tbPriorClick();
  void tbNextClick();
  void tbLastClick();
  void tbPrinterSetupClick();
  void tbPrinterClick();
  void tbExitClick();
  void QRPreview1PageAvailable(int pageNum);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void GoToPage(int page);

  QButtonGroup* FZoomGroup;
  QLabel* FPagePanel;
};

class TQRPrinter;
// Opens a new preview window on the generated pages of report; the window
// releases itself when closed. A report's OnPreview calls it.
void OpenPreviewWindow(TQuickRep* report, TQRPrinter& printer);
