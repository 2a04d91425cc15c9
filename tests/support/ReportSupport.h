#pragma once
// Report tests: printer dialogs answered by a script, and PDF files read back
// through poppler's pdftotext / pdftoppm.
#include <QImage>
#include <QList>
#include <QPageLayout>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include "report/ReportDialogs.h"

class TFrmPreview;

// Answers the printer dialogs. PrintSetup takes the next name of PdfFiles:
// the printer then writes that PDF file (as "print to file" does); an empty
// name or an empty list cancels. PageSetup takes the next entry of Layouts:
// the printer gets that layout; an empty list cancels.
class TScriptedPrintDialogs : public IPrintDialogs {
 public:
  TScriptedPrintDialogs() { SetPrintDialogs(this); }
  ~TScriptedPrintDialogs() override { SetPrintDialogs(nullptr); }

  bool PageSetup(QWidget* parent, QPrinter& printer) override;
  bool PrintSetup(QWidget* parent, QPrinter& printer) override;

  QStringList PdfFiles;
  QList<QPageLayout> Layouts;
  int PageSetupCalls = 0;
  int PrintSetupCalls = 0;
};

struct TPdfWord {
  int Page = 0;  // 1-based
  double XMin = 0, YMin = 0, XMax = 0, YMax = 0;  // points from the page's top-left
  QString Text;
};

// Texts read back are folded to Unicode form NFKC: a CJK font may map a
// character and its look-alike radical (工 and ⼯) to one glyph, and the PDF
// then names the glyph by either.

// Plain text of the PDF, pages separated by form feeds.
QString PdfText(const QString& pdf);
// Plain text of each page.
QStringList PdfPages(const QString& pdf);
// Every word with its box (pdftotext -bbox).
QList<TPdfWord> PdfWords(const QString& pdf);
// Words of one printed line: same page, tops within 3 points, left to right.
struct TPdfLine {
  int Page = 0;
  double Y = 0;
  QList<TPdfWord> Words;
  QString Text() const;  // the words joined by single blanks
};
QList<TPdfLine> PdfLines(const QList<TPdfWord>& words);

// The page rendered at dpi dots per inch, written to pngPrefix + ".png".
QImage PdfPagePng(const QString& pdf, int page, int dpi, const QString& pngPrefix);

// The visible preview window, or nullptr.
TFrmPreview* OpenPreview();
// Runs action on the preview window once the event loop runs again (that is,
// inside the wait of a print call), then closes the window if action left it
// open. Returns at once; the call that opens the preview comes next. The
// flag returned tells afterwards whether a preview window was there for the
// action: a test that expects one checks it.
std::shared_ptr<bool> WhenPreviewOpens(std::function<void(TFrmPreview*)> action);
// Handles pending events, deferred deletions included.
void FlushEvents();
