#pragma once
// The printer dialogs of the report preview. They go through one service so
// that a test can answer them (choose a PDF file, cancel) without a window.
class QPrinter;
class QWidget;

class IPrintDialogs {
 public:
  virtual ~IPrintDialogs() = default;
  // Paper size, orientation and margins of printer; true when accepted.
  virtual bool PageSetup(QWidget* parent, QPrinter& printer) = 0;
  // The printer (or a PDF file) and its options such as copies; true when
  // the operator chose to print. Always all pages.
  virtual bool PrintSetup(QWidget* parent, QPrinter& printer) = 0;
};

// The service in force; the Qt dialogs unless replaced.
IPrintDialogs& PrintDialogs();
// Replaces the service (not owned); nullptr restores the Qt dialogs.
void SetPrintDialogs(IPrintDialogs* service);
