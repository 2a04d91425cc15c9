#include "report/ReportDialogs.h"

#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>

namespace {

class TQtPrintDialogs : public IPrintDialogs {
 public:
  bool PageSetup(QWidget* parent, QPrinter& printer) override {
    QPageSetupDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("打印机设置"));
    return dialog.exec() == QDialog::Accepted;
  }

  bool PrintSetup(QWidget* parent, QPrinter& printer) override {
    printer.setPrintRange(QPrinter::AllPages);
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("打印"));
    // The report always prints whole: no page range, selection or single page.
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    dialog.setOption(QAbstractPrintDialog::PrintCollateCopies, true);
    dialog.setOption(QAbstractPrintDialog::PrintShowPageSize, true);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    printer.setPrintRange(QPrinter::AllPages);
    return accepted;
  }
};

TQtPrintDialogs gQtDialogs;
IPrintDialogs* gDialogs = &gQtDialogs;

}  // namespace

IPrintDialogs& PrintDialogs() { return *gDialogs; }

void SetPrintDialogs(IPrintDialogs* service) { gDialogs = service ? service : &gQtDialogs; }
