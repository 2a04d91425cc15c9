#pragma once
// A small banded report engine on Qt's printing support.
//
// A report (TQuickRep) is a page set-up plus bands laid out top to bottom:
// a title band printed once at the top of the report, a row band that asks
// for each of its rows through a need-data call, the row band's caption band
// repeated at the top of every page the rows run over, and a page footer at
// the bottom of every page, the last one included. Bands carry labels whose
// captions and left positions may change at any time before or during
// generation; a band prints with the captions its labels hold at that moment.
//
// Generation composes the pages into a page store (TQRPrinter): texts and
// rules placed in millimetres from the top-left corner of the printable area.
// The store draws its pages on any paged device (a printer, a PDF file, the
// preview control), and for printing it generates the report again.
//
// Positions inside a band are report pixels at 96 per inch, band heights and
// margins millimetres.
#include <QElapsedTimer>
#include <QFont>
#include <QObject>
#include <QPageLayout>
#include <QPointer>
#include <QPrinter>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QPagedPaintDevice;
class QPicture;
class QPainter;
class QWidget;
class QTimer;
class TQRPreview;
class TQRPrinter;

// ---- Units and fonts -------------------------------------------------------
constexpr double kReportPixelsPerInch = 96.0;
inline double ReportPixelsToMm(double px) { return px * 25.4 / kReportPixelsPerInch; }

// A font of the layout, size in points; the family stands in as FontFamilies
// (platform/Fonts.h) says: "Arial" by a metric-compatible sans, "宋体" by SimSun
// or a face that writes Chinese.
QFont ReportFont(const QString& family, double pointSize, bool bold = false);

// ---- Layout ----------------------------------------------------------------
enum class TQRAlignment { Left, Center, Right };

class TQRBand;

// A text on a band.
class TQRLabel {
 public:
  TQRLabel(TQRBand* band, const QString& name) : FBand(band), FName(name) {}
  virtual ~TQRLabel() = default;
  TQRLabel(const TQRLabel&) = delete;
  TQRLabel& operator=(const TQRLabel&) = delete;

  const QString& Name() const { return FName; }
  TQRBand* Band() const { return FBand; }

  QString Caption;
  int Left = 0;  // report pixels from the band's left edge
  int Top = 0;   // report pixels from the band's top edge
  // Report pixels the text may take from Left; 0: no limit. A text that
  // does not fit wraps inside that width (at a blank or a comma where it
  // can, else between any two characters) and its band grows by the lines
  // it adds, so that it never runs into the next column.
  int Width = 0;
  QFont Font;
  TQRAlignment Alignment = TQRAlignment::Left;
  // Centred or right-aligned across the whole band instead of at Left.
  bool AlignToBand = false;

  // The text printed on page pageNumber.
  virtual QString PrintedText(int pageNumber) const;

 private:
  TQRBand* FBand;
  QString FName;
};

enum class TQRSysDataKind { PageNumber };

// A label whose text the engine supplies: Text, the page number, TextAfter.
class TQRSysData : public TQRLabel {
 public:
  using TQRLabel::TQRLabel;
  TQRSysDataKind Data = TQRSysDataKind::PageNumber;
  QString Text;
  QString TextAfter;
  QString PrintedText(int pageNumber) const override;
};

// A picture on a band (a chart), scaled into its place; it prints as drawn,
// its texts as texts.
class TQRImage {
 public:
  explicit TQRImage(const QString& name) : FName(name) {}
  const QString& Name() const { return FName; }
  int Left = 0;    // report pixels from the band's left edge
  int Top = 0;     // report pixels from the band's top edge
  int Width = 0;   // report pixels
  int Height = 0;  // report pixels
  // Drawn into the place with its bounding rectangle filling it; nothing
  // prints while it is empty. A band grows to hold its pictures.
  std::shared_ptr<const QPicture> Picture;

 private:
  QString FName;
};

enum class TQRBandType {
  rbTitle,        // once, at the top of the report
  rbGroupHeader,  // a row band's caption band, or once where it stands
  rbSubDetail,    // one band per row, rows asked for through OnNeedData
  rbPageFooter    // at the bottom of every page
};

class TQRBand {
 public:
  TQRBand(const QString& name, TQRBandType type, double heightMm)
      : Height(heightMm), FName(name), FType(type) {}
  TQRBand(const TQRBand&) = delete;
  TQRBand& operator=(const TQRBand&) = delete;

  const QString& Name() const { return FName; }
  TQRBandType BandType() const { return FType; }

  double Height;           // millimetres
  bool FrameTop = false;   // a rule along the top edge
  bool FrameBottom = false;

  // Row band: called before each band; set moreData to print one more band
  // (with the captions the labels hold on return) or leave it false to end
  // the rows.
  std::function<void(bool& moreData)> OnNeedData;
  // Row band: makes the next OnNeedData give the band of that index
  // (0-based, in the order OnNeedData gave them). With it a page is
  // composed alone when it is shown or printed; without it every page is
  // composed at once.
  std::function<void(int index)> OnSeek;
  // Row band: the caption band printed above the first row and at the top of
  // every further page the rows run over.
  TQRBand* HeaderBand = nullptr;
  // Row band: when the first call already ends the rows, the caption band and
  // one blank band still print (no value of an earlier report reappears).
  bool PrintIfEmpty = true;

  // The band owns its labels; the font of a new label is the report's font.
  TQRLabel* AddLabel(const QString& name, const QFont& font);
  TQRSysData* AddSysData(const QString& name, const QFont& font);
  const std::vector<std::unique_ptr<TQRLabel>>& Labels() const { return FLabels; }
  TQRLabel* FindLabel(const QString& name) const;
  // The band owns its pictures.
  TQRImage* AddImage(const QString& name);
  const std::vector<std::unique_ptr<TQRImage>>& Images() const { return FImages; }

 private:
  QString FName;
  TQRBandType FType;
  std::vector<std::unique_ptr<TQRLabel>> FLabels;
  std::vector<std::unique_ptr<TQRImage>> FImages;
};

// ---- Composed pages -------------------------------------------------------
struct TQRPageItem {
  enum TKind { ikText, ikRule, ikPicture };
  TKind Kind = ikText;
  // Millimetres from the top-left corner of the printable area. A text
  // stands with its font's ascent below Rect's top, at Rect's left, or
  // centred or right-aligned in Rect by Flags; a rule runs along the top
  // edge of Rect from its left to its right; a picture fills Rect.
  QRectF Rect;
  QString Text;
  QFont Font;
  int Flags = 0;
  QString BandName;
  QString LabelName;  // empty for a rule; the picture's name for a picture
  std::shared_ptr<const QPicture> Picture;
};

struct TQRPage {
  std::vector<TQRPageItem> Items;
  // Texts of the labels of that name on this page, top to bottom.
  QStringList TextsOf(const QString& labelName) const;
};

// Draws a page on a device (its printable area's top-left at the painter's
// origin); a new page is started before every page but the first.
void DrawReportPage(QPainter& painter, QPaintDevice& device, const TQRPage& page);
void DrawReportPages(QPainter& painter, QPagedPaintDevice& device,
                     const std::vector<TQRPage>& pages);

// A point in time to stop a slice of work at.
class TDeadline {
 public:
  static TDeadline Never() { return TDeadline(-1); }
  static TDeadline In(qint64 ms) { return TDeadline(ms); }
  bool Passed() const { return FMs >= 0 && FTimer.hasExpired(FMs); }

 private:
  explicit TDeadline(qint64 ms) : FMs(ms) { FTimer.start(); }
  QElapsedTimer FTimer;
  qint64 FMs;
};

// The pages of a generated report: how many, and each as it is asked for.
class TQRPageSource {
 public:
  virtual ~TQRPageSource() = default;
  // Pages laid out so far.
  virtual int PageCount() const = 0;
  // Whether every page is laid out.
  virtual bool Complete() const { return true; }
  // Lays out more pages until the deadline has passed and one more page is
  // laid out, or to the end; returns Complete().
  virtual bool Extend(const TDeadline&) { return true; }
  // Page index (0-based), composed when asked for; an empty page outside.
  virtual TQRPage Page(int index) = 0;
};

// ---- Report ------------------------------------------------------------------
struct TQRPageSetup {
  QPageSize::PageSizeId PaperSize = QPageSize::A4;
  QPageLayout::Orientation Orientation = QPageLayout::Portrait;
  double TopMargin = 10, BottomMargin = 10, LeftMargin = 5, RightMargin = 5;  // mm
  QPageLayout Layout() const;
};

class TQuickRep : public QObject {
  Q_OBJECT
 public:
  explicit TQuickRep(QObject* parent = nullptr);
  ~TQuickRep() override;

  TQRPageSetup Page;
  QFont Font;           // default font of new labels
  QString ReportTitle;  // document name of print jobs, caption of the preview

  TQRBand* AddBand(const QString& name, TQRBandType type, double heightMm);
  const std::vector<std::unique_ptr<TQRBand>>& Bands() const { return FBands; }

  // Composes every page for the layout (the printable area's size counts).
  std::vector<TQRPage> Generate(const QPageLayout& layout);
  // Lays the pages out for the layout, composing none: each is composed
  // when asked for (every one at once when a row band has no OnSeek).
  std::shared_ptr<TQRPageSource> Paginate(const QPageLayout& layout);

  // The report's printer: its settings (printer, file, copies, paper) stay
  // from one print to the next. Set up with Page: 1 copy, no duplex, all
  // pages, automatic paper tray.
  QPrinter& Printer() { return *FPrinter; }
  // Applies Page to the printer's layout (the preview starts from it).
  void ApplyPageSetup();

  // Generates the report onto printer, no dialog. Throws EAppError when the
  // printer cannot start. Returns the number of pages.
  int Print(QPrinter& printer);

  // Generates every page into a page store and hands it to OnPreview, then
  // waits, with events flowing, until the preview shown for the store has
  // closed. Only one preview per report at a time: an open one is closed
  // first. The report may be destroyed while waiting (the open preview closes
  // with it).
  void Preview();
  std::function<void(TQRPrinter& printer)> OnPreview;
  bool Previewing() const { return !FActive.isNull(); }
  TQRPrinter* ActivePrinter() const { return FActive.data(); }

 private:
  std::vector<std::unique_ptr<TQRBand>> FBands;
  std::shared_ptr<QPrinter> FPrinter;
  QPointer<TQRPrinter> FActive;
};

// ---- Page store --------------------------------------------------------------
// The pages of one generated report with the report's printer; what the
// preview shows and prints through.
class TQRPrinter : public QObject {
  Q_OBJECT
 public:
  TQRPrinter(TQuickRep* report, std::shared_ptr<QPrinter> printer);
  ~TQRPrinter() override;

  QString Title() const { return FTitle; }
  TQuickRep* Report() const { return FReport.data(); }
  QPrinter& Printer() const { return *FPrinter; }

  int PageCount() const { return FSource ? FSource->PageCount() : 0; }
  // Page index (0-based), composed when asked for.
  TQRPage Page(int index) const { return FSource ? FSource->Page(index) : TQRPage{}; }
  // Every page, laid out and composed now (for a look at a short report).
  std::vector<TQRPage> Pages() const;
  // Whether every page is laid out; until then PagesAdded reports the pages
  // laid out meanwhile, in the background.
  bool Complete() const { return !FSource || FSource->Complete(); }
  // Lays out the remaining pages now.
  void FinishPlanning();
  // Page layout the pages were composed for.
  const QPageLayout& Layout() const { return FLayout; }
  void SetPages(std::vector<TQRPage> pages, const QPageLayout& layout);
  void SetSource(std::shared_ptr<TQRPageSource> pages, const QPageLayout& layout);

  // The print dialog (printer or PDF file, copies); when accepted, the report
  // is generated again onto the chosen printer, all pages. Returns false when
  // cancelled or when the report is gone. Throws EAppError when the printer
  // cannot start.
  bool Print(QWidget* parent);
  // The page set-up dialog (paper, orientation, margins); when accepted, the
  // pages are composed again for the new layout.
  bool PrinterSetup(QWidget* parent);

  // Preview controls showing this store register here; the report's Preview
  // waits until none is left.
  void Attach(TQRPreview* preview);
  void Detach(TQRPreview* preview);
  bool Shown() const { return !FPreviews.empty(); }
  // Asks every preview control showing this store to close its window.
  void ClosePreview();

 signals:
  void PagesChanged();      // the pages were composed again
  void PagesAdded(int firstNew);  // pages from firstNew (1-based) were laid out
  void CloseRequested();    // previews should close their windows
  void PreviewFinished();   // the last preview control went away

 private:
  QPointer<TQuickRep> FReport;
  std::shared_ptr<QPrinter> FPrinter;
  QString FTitle;
  void PlanMore();

  std::shared_ptr<TQRPageSource> FSource;
  QPointer<QTimer> FPlanning;
  QPageLayout FLayout;
  std::vector<TQRPreview*> FPreviews;
};
