#include "report/ReportEngine.h"

#include <QEventLoop>
#include <QFontMetricsF>
#include <QHash>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPen>
#include <QPicture>
#include <QTextLayout>
#include <QTextOption>
#include <QImage>

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/Fonts.h"
#include "platform/MessageService.h"
#include "report/ReportDialogs.h"

// ---- Fonts -------------------------------------------------------------------

QFont ReportFont(const QString& family, double pointSize, bool bold) {
  return PointFont(family, pointSize, bold, TFontMedium::Print);
}

// ---- Layout ------------------------------------------------------------------

QString TQRLabel::PrintedText(int) const { return Caption; }

QString TQRSysData::PrintedText(int pageNumber) const {
  switch (Data) {
    case TQRSysDataKind::PageNumber: return Text + QString::number(pageNumber) + TextAfter;
  }
  return Text;
}

TQRLabel* TQRBand::AddLabel(const QString& name, const QFont& font) {
  FLabels.push_back(std::make_unique<TQRLabel>(this, name));
  FLabels.back()->Font = font;
  return FLabels.back().get();
}

TQRSysData* TQRBand::AddSysData(const QString& name, const QFont& font) {
  auto label = std::make_unique<TQRSysData>(this, name);
  label->Font = font;
  TQRSysData* raw = label.get();
  FLabels.push_back(std::move(label));
  return raw;
}

TQRImage* TQRBand::AddImage(const QString& name) {
  FImages.push_back(std::make_unique<TQRImage>(name));
  return FImages.back().get();
}

TQRLabel* TQRBand::FindLabel(const QString& name) const {
  for (const auto& l : FLabels) {
    if (l->Name() == name) return l.get();
  }
  return nullptr;
}

QStringList TQRPage::TextsOf(const QString& labelName) const {
  QStringList out;
  for (const auto& item : Items) {
    if (item.Kind == TQRPageItem::ikText && item.LabelName == labelName) out << item.Text;
  }
  return out;
}

QPageLayout TQRPageSetup::Layout() const {
  return QPageLayout(QPageSize(PaperSize), Orientation,
                     QMarginsF(LeftMargin, TopMargin, RightMargin, BottomMargin),
                     QPageLayout::Millimeter);
}

// ---- Drawing -----------------------------------------------------------------

namespace {

bool IsGreek(QChar c) {
  const char16_t u = c.unicode();
  return (u >= 0x0370 && u <= 0x03FF) || u == 0x00B5 || u == 0x2126;
}

// The text in runs of Greek letters and of the rest, in order.
std::vector<std::pair<QString, bool>> GreekRuns(const QString& text) {
  std::vector<std::pair<QString, bool>> runs;
  for (const QChar c : text) {
    const bool greek = IsGreek(c);
    if (runs.empty() || runs.back().second != greek) runs.emplace_back(QString(), greek);
    runs.back().first += c;
  }
  return runs;
}

}  // namespace

void DrawReportPages(QPainter& painter, QPagedPaintDevice& device,
                     const std::vector<TQRPage>& pages) {
  const double kx = device.logicalDpiX() / 25.4;
  const double ky = device.logicalDpiY() / 25.4;
  QPen rulePen(Qt::black);
  rulePen.setWidthF(ReportPixelsToMm(1.0) * kx);
  const QPen textPen(Qt::black);
  // Texts stand on the baseline of their label's own font: a Chinese glyph
  // taken from a fallback font must not push its line down.
  QFont font;
  std::optional<QFontMetricsF> metrics;
  bool first = true;
  for (const TQRPage& page : pages) {
    if (!first) device.newPage();
    first = false;
    for (const TQRPageItem& item : page.Items) {
      const QRectF& r = item.Rect;
      if (item.Kind == TQRPageItem::ikRule) {
        painter.setPen(rulePen);
        painter.drawLine(QPointF(r.left() * kx, r.top() * ky), QPointF(r.right() * kx, r.top() * ky));
        continue;
      }
      if (item.Kind == TQRPageItem::ikPicture) {
        const QRect source = item.Picture->boundingRect();
        if (source.isEmpty()) continue;
        painter.save();
        painter.translate(r.left() * kx, r.top() * ky);
        // A picture replays at the device's resolution over its own (a
        // 96 dpi picture comes out 12.5 times larger on a 1200 dpi printer):
        // the scale that fills the place is taken relative to that.
        const double replayX = double(device.logicalDpiX()) / item.Picture->logicalDpiX();
        const double replayY = double(device.logicalDpiY()) / item.Picture->logicalDpiY();
        painter.scale(r.width() * kx / source.width() / replayX, r.height() * ky / source.height() / replayY);
        painter.translate(-source.topLeft());
        painter.drawPicture(0, 0, *item.Picture);
        painter.restore();
        // The next text sets its font again: the picture may have changed it.
        metrics.reset();
        continue;
      }
      if (!metrics || !(font == item.Font)) {
        font = item.Font;
        metrics.emplace(font, &device);
        painter.setFont(font);
      }
      painter.setPen(textPen);
      // Greek letters (μ, Ω) come from a Latin face: a Chinese face draws
      // them as wide as a Chinese character, "μ Ω" with gaps.
      const std::vector<std::pair<QString, bool>> runs = GreekRuns(item.Text);
      std::optional<QFont> latin;
      std::optional<QFontMetricsF> latinMetrics;
      if (runs.size() > 1 || (!runs.empty() && runs.front().second)) {
        latin = ReportFont(QStringLiteral("Arial"), item.Font.pointSizeF(), item.Font.bold());
        latinMetrics.emplace(*latin, &device);
      }
      double width = 0;
      for (const auto& [text, greek] : runs) width += (greek ? *latinMetrics : *metrics).horizontalAdvance(text);
      double x = r.left() * kx;
      if (item.Flags & (Qt::AlignHCenter | Qt::AlignRight)) {
        const double free = r.width() * kx - width;
        x += (item.Flags & Qt::AlignRight) ? free : free / 2;
      }
      const double baseline = r.top() * ky + metrics->ascent();
      for (const auto& [text, greek] : runs) {
        painter.setFont(greek ? *latin : font);
        painter.drawText(QPointF(x, baseline), text);
        x += (greek ? *latinMetrics : *metrics).horizontalAdvance(text);
      }
      if (latin) painter.setFont(font);
    }
  }
}

namespace {

// Report pixels are 96 to the inch: texts are measured on an image of that
// resolution, whatever device draws them later.
QPaintDevice* ReportPixelDevice() {
  static QImage image = [] {
    QImage i(1, 1, QImage::Format_ARGB32);
    const int dpm = qRound(kReportPixelsPerInch / 0.0254);
    i.setDotsPerMeterX(dpm);
    i.setDotsPerMeterY(dpm);
    return i;
  }();
  return &image;
}

// The lines of text within width report pixels in font.
QStringList WrappedLines(const QString& text, const QFont& font, int width) {
  QTextLayout layout(text, font, ReportPixelDevice());
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  QStringList lines;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    lines << text.mid(line.textStart(), line.textLength()).trimmed();
  }
  layout.endLayout();
  if (lines.isEmpty()) lines << text;
  return lines;
}

void PrintPages(QPrinter& printer, const std::vector<TQRPage>& pages) {
  QPainter painter;
  if (!painter.begin(&printer)) throw EAppError(QStringLiteral("打印失败，打印机无法使用！"));
  DrawReportPages(painter, printer, pages);
  painter.end();
}

// Lays bands out page by page.
class TComposer {
 public:
  TComposer(const std::vector<std::unique_ptr<TQRBand>>& bands, const QPageLayout& layout)
      : FBands(bands) {
    const QRectF area = layout.paintRect(QPageLayout::Millimeter);
    FWidth = area.width();
    for (const auto& b : bands) {
      if (b->BandType() == TQRBandType::rbPageFooter) {
        FFooter = b.get();
        break;
      }
    }
    FLimit = area.height() - (FFooter ? FFooter->Height : 0.0);
  }

  std::vector<TQRPage> Run() {
    StartPage();
    for (const auto& b : FBands) {
      switch (b->BandType()) {
        case TQRBandType::rbPageFooter: break;
        case TQRBandType::rbSubDetail: RunRows(*b); break;
        case TQRBandType::rbGroupHeader:
          if (IsCaptionBand(b.get())) break;
          [[fallthrough]];
        case TQRBandType::rbTitle:
          if (!Room(b->Height)) StartPage();
          Place(*b, true);
          break;
      }
    }
    FinishPage();
    return std::move(FPages);
  }

 private:
  static constexpr double kEps = 1e-6;

  bool IsCaptionBand(const TQRBand* band) const {
    for (const auto& b : FBands) {
      if (b->BandType() == TQRBandType::rbSubDetail && b->HeaderBand == band) return true;
    }
    return false;
  }

  // True when a band of height h fits above the footer, or when the page is
  // still empty (a band taller than the page then prints anyway).
  bool Room(double h) const { return FY <= kEps || FY + h <= FLimit + kEps; }

  void StartPage() {
    if (!FPages.empty()) FinishPage();
    FPages.emplace_back();
    FY = 0;
  }

  void FinishPage() {
    if (!FFooter || FPages.empty()) return;
    FY = FLimit;
    Place(*FFooter, true);
  }

  void RunRows(const TQRBand& band) {
    const TQRBand* caption = band.HeaderBand;
    const double captionHeight = caption ? caption->Height : 0.0;
    bool first = true;
    for (;;) {
      bool more = false;
      if (band.OnNeedData) band.OnNeedData(more);
      if (!more) break;
      const double height = Measure(band);
      if (first) {
        if (!Room(captionHeight + height)) StartPage();
        if (caption) Place(*caption, true);
        first = false;
      } else if (!Room(height)) {
        StartPage();
        if (caption) Place(*caption, true);
      }
      Place(band, true);
    }
    if (first && band.PrintIfEmpty) {
      if (!Room(captionHeight + band.Height)) StartPage();
      if (caption) Place(*caption, true);
      Place(band, false);
    }
  }

  // A label's lines: its text, wrapped where the label has a width.
  static QStringList LinesOf(const TQRLabel& label, const QString& text) {
    if (label.Width <= 0 || label.Alignment != TQRAlignment::Left) return {text};
    if (QFontMetricsF(label.Font, ReportPixelDevice()).horizontalAdvance(text) <= label.Width) return {text};
    return WrappedLines(text, label.Font, label.Width);
  }

  static double LineHeight(const QFont& font) {
    return ReportPixelsToMm(QFontMetricsF(font, ReportPixelDevice()).lineSpacing());
  }

  // The height the band takes with the captions its labels hold now: its
  // own, or more where a text wraps.
  double Measure(const TQRBand& band) const {
    double height = band.Height;
    const int pageNumber = static_cast<int>(FPages.size());
    for (const auto& label : band.Labels()) {
      if (label->Width <= 0) continue;
      const int lines = int(LinesOf(*label, label->PrintedText(pageNumber)).size());
      if (lines > 1) height = std::max(height, band.Height + (lines - 1) * LineHeight(label->Font));
    }
    return height;
  }

  void Place(const TQRBand& band, bool withLabels) {
    TQRPage& page = FPages.back();
    const int pageNumber = static_cast<int>(FPages.size());
    const double top = FY;
    const double bandHeight = withLabels ? Measure(band) : band.Height;
    auto rule = [&](double y) {
      TQRPageItem item;
      item.Kind = TQRPageItem::ikRule;
      item.Rect = QRectF(0, y, FWidth, 0);
      item.BandName = band.Name();
      page.Items.push_back(std::move(item));
    };
    if (band.FrameTop) rule(top);
    if (band.FrameBottom) rule(top + bandHeight);
    if (withLabels) {
      for (const auto& image : band.Images()) {
        if (!image->Picture || image->Picture->isNull()) continue;
        TQRPageItem item;
        item.Kind = TQRPageItem::ikPicture;
        item.Rect = QRectF(ReportPixelsToMm(image->Left), top + ReportPixelsToMm(image->Top),
                           ReportPixelsToMm(image->Width), ReportPixelsToMm(image->Height));
        item.BandName = band.Name();
        item.LabelName = image->Name();
        item.Picture = image->Picture;
        page.Items.push_back(std::move(item));
      }
      for (const auto& label : band.Labels()) {
        const QString text = label->PrintedText(pageNumber);
        if (text.isEmpty()) continue;
        const QStringList lines = LinesOf(*label, text);
        if (lines.size() > 1) {
          // One item per line, each inside the label's width.
          const double lineHeight = LineHeight(label->Font);
          const double x = ReportPixelsToMm(label->Left);
          for (int i = 0; i < lines.size(); ++i) {
            TQRPageItem item;
            item.Kind = TQRPageItem::ikText;
            item.Text = lines[i];
            item.Font = label->Font;
            item.BandName = band.Name();
            item.LabelName = label->Name();
            item.Rect = QRectF(x, top + ReportPixelsToMm(label->Top) + i * lineHeight, ReportPixelsToMm(label->Width),
                               lineHeight);
            item.Flags = Qt::AlignLeft | Qt::AlignTop;
            page.Items.push_back(std::move(item));
          }
          continue;
        }
        const double labelTop = ReportPixelsToMm(label->Top);
        const double height = std::max(bandHeight - labelTop, 0.0);
        TQRPageItem item;
        item.Kind = TQRPageItem::ikText;
        item.Text = text;
        item.Font = label->Font;
        item.BandName = band.Name();
        item.LabelName = label->Name();
        switch (label->Alignment) {
          case TQRAlignment::Left: {
            const double x = ReportPixelsToMm(label->Left);
            const double width = label->Width > 0 ? ReportPixelsToMm(label->Width) : std::max(FWidth - x, 0.0);
            item.Rect = QRectF(x, top + labelTop, width, height);
            item.Flags = Qt::AlignLeft | Qt::AlignTop;
            break;
          }
          case TQRAlignment::Center:
            item.Rect = QRectF(0, top + labelTop, FWidth, height);
            item.Flags = Qt::AlignHCenter | Qt::AlignTop;
            break;
          case TQRAlignment::Right:
            item.Rect = QRectF(0, top + labelTop, FWidth, height);
            item.Flags = Qt::AlignRight | Qt::AlignTop;
            break;
        }
        page.Items.push_back(std::move(item));
      }
    }
    FY = top + bandHeight;
  }

  const std::vector<std::unique_ptr<TQRBand>>& FBands;
  const TQRBand* FFooter = nullptr;
  double FWidth = 0;
  double FLimit = 0;
  double FY = 0;
  std::vector<TQRPage> FPages;
};

}  // namespace

// ---- Report ------------------------------------------------------------------

TQuickRep::TQuickRep(QObject* parent)
    : QObject(parent), FPrinter(std::make_shared<QPrinter>(QPrinter::HighResolution)) {
  Font = ReportFont(QStringLiteral("Arial"), 10);
  FPrinter->setCopyCount(1);
  FPrinter->setDuplex(QPrinter::DuplexNone);
  FPrinter->setPrintRange(QPrinter::AllPages);
  FPrinter->setPaperSource(QPrinter::Auto);
  FPrinter->setFullPage(false);
  ApplyPageSetup();
}

TQuickRep::~TQuickRep() {
  // An open preview ends with the report; its Preview call then returns.
  if (FActive) FActive->ClosePreview();
}

TQRBand* TQuickRep::AddBand(const QString& name, TQRBandType type, double heightMm) {
  FBands.push_back(std::make_unique<TQRBand>(name, type, heightMm));
  return FBands.back().get();
}

void TQuickRep::ApplyPageSetup() { FPrinter->setPageLayout(Page.Layout()); }

std::vector<TQRPage> TQuickRep::Generate(const QPageLayout& layout) {
  return TComposer(FBands, layout).Run();
}

int TQuickRep::Print(QPrinter& printer) {
  printer.setDocName(ReportTitle);
  const std::vector<TQRPage> pages = Generate(printer.pageLayout());
  PrintPages(printer, pages);
  return static_cast<int>(pages.size());
}

void TQuickRep::Preview() {
  if (FActive) FActive->ClosePreview();
  auto store = std::make_unique<TQRPrinter>(this, FPrinter);
  const QPageLayout layout = FPrinter->pageLayout();
  store->SetPages(Generate(layout), layout);
  TQRPrinter* printer = store.get();
  FActive = printer;
  if (OnPreview) OnPreview(*printer);
  // `this` may be gone once the wait is over: touch nothing of it afterwards.
  if (printer->Shown()) {
    QEventLoop loop;
    QObject::connect(printer, &TQRPrinter::PreviewFinished, &loop, &QEventLoop::quit);
    loop.exec();
  }
}

// ---- Page store --------------------------------------------------------------

TQRPrinter::TQRPrinter(TQuickRep* report, std::shared_ptr<QPrinter> printer)
    : FReport(report), FPrinter(std::move(printer)), FTitle(report ? report->ReportTitle : QString()) {}

TQRPrinter::~TQRPrinter() {
  FPreviews.clear();
  emit CloseRequested();
}

void TQRPrinter::SetPages(std::vector<TQRPage> pages, const QPageLayout& layout) {
  FPages = std::move(pages);
  FLayout = layout;
  emit PagesChanged();
}

bool TQRPrinter::Print(QWidget* parent) {
  if (!FReport) return false;
  FPrinter->setDocName(FTitle);
  if (!PrintDialogs().PrintSetup(parent, *FPrinter)) return false;
  if (!FReport) return false;
  FPrinter->setPrintRange(QPrinter::AllPages);
  const QPageLayout layout = FPrinter->pageLayout();
  // The report is generated again for the printer; its rows start over.
  std::vector<TQRPage> pages = FReport->Generate(layout);
  PrintPages(*FPrinter, pages);
  if (!layout.isEquivalentTo(FLayout)) {
    SetPages(std::move(pages), layout);
  }
  return true;
}

bool TQRPrinter::PrinterSetup(QWidget* parent) {
  if (!FReport) return false;
  if (!PrintDialogs().PageSetup(parent, *FPrinter)) return false;
  if (!FReport) return false;
  const QPageLayout layout = FPrinter->pageLayout();
  SetPages(FReport->Generate(layout), layout);
  return true;
}

void TQRPrinter::Attach(TQRPreview* preview) {
  if (std::find(FPreviews.begin(), FPreviews.end(), preview) == FPreviews.end()) {
    FPreviews.push_back(preview);
  }
}

void TQRPrinter::Detach(TQRPreview* preview) {
  const auto it = std::find(FPreviews.begin(), FPreviews.end(), preview);
  if (it == FPreviews.end()) return;
  FPreviews.erase(it);
  if (FPreviews.empty()) emit PreviewFinished();
}

void TQRPrinter::ClosePreview() { emit CloseRequested(); }
