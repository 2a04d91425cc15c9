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
#include <QTimer>
#include <QImage>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

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

void DrawReportPage(QPainter& painter, QPaintDevice& device, const TQRPage& page) {
  const double kx = device.logicalDpiX() / 25.4;
  const double ky = device.logicalDpiY() / 25.4;
  QPen rulePen(Qt::black);
  rulePen.setWidthF(ReportPixelsToMm(1.0) * kx);
  const QPen textPen(Qt::black);
  // Texts stand on the baseline of their label's own font: a Chinese glyph
  // taken from a fallback font must not push its line down.
  QFont font;
  std::optional<QFontMetricsF> metrics;
  std::optional<QFont> latin;  // the Latin face of the font for Greek letters
  std::optional<QFontMetricsF> latinMetrics;
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
      // A picture replays at the device's resolution over its own (a 96 dpi
      // picture comes out 12.5 times larger on a 1200 dpi printer): the
      // scale that fills the place is taken relative to that.
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
      latin.reset();
      latinMetrics.reset();
    }
    painter.setPen(textPen);
    const double baseline = r.top() * ky + metrics->ascent();
    if (!std::any_of(item.Text.begin(), item.Text.end(), IsGreek)) {
      double x = r.left() * kx;
      if (item.Flags & (Qt::AlignHCenter | Qt::AlignRight)) {
        const double free = r.width() * kx - metrics->horizontalAdvance(item.Text);
        x += (item.Flags & Qt::AlignRight) ? free : free / 2;
      }
      painter.drawText(QPointF(x, baseline), item.Text);
      continue;
    }
    // Greek letters (μ, Ω) come from a Latin face: a Chinese face draws
    // them as wide as a Chinese character, "μ Ω" with gaps.
    const std::vector<std::pair<QString, bool>> runs = GreekRuns(item.Text);
    if (!latin) {
      latin = ReportFont(QStringLiteral("Arial"), font.pointSizeF(), font.bold());
      latinMetrics.emplace(*latin, &device);
    }
    double width = 0;
    for (const auto& [text, greek] : runs) width += (greek ? *latinMetrics : *metrics).horizontalAdvance(text);
    double x = r.left() * kx;
    if (item.Flags & (Qt::AlignHCenter | Qt::AlignRight)) {
      const double free = r.width() * kx - width;
      x += (item.Flags & Qt::AlignRight) ? free : free / 2;
    }
    for (const auto& [text, greek] : runs) {
      painter.setFont(greek ? *latin : font);
      painter.drawText(QPointF(x, baseline), text);
      x += (greek ? *latinMetrics : *metrics).horizontalAdvance(text);
    }
    painter.setFont(font);
  }
}

void DrawReportPages(QPainter& painter, QPagedPaintDevice& device, const std::vector<TQRPage>& pages) {
  bool first = true;
  for (const TQRPage& page : pages) {
    if (!first) device.newPage();
    first = false;
    DrawReportPage(painter, device, page);
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

// Where the lines of text within width report pixels in font start, and
// how long each is.
std::vector<std::pair<int, int>> WrappedSpans(const QString& text, const QFont& font, int width) {
  QTextLayout layout(text, font, ReportPixelDevice());
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  std::vector<std::pair<int, int>> spans;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    spans.emplace_back(line.textStart(), line.textLength());
  }
  layout.endLayout();
  return spans;
}

// Prints the pages one by one: each is composed, drawn and let go before
// the next, so that memory does not grow with the number of pages.
void PrintPages(QPrinter& printer, TQRPageSource& pages) {
  pages.Extend(TDeadline::Never());
  QPainter painter;
  if (!painter.begin(&printer)) throw EAppError(QStringLiteral("打印失败，打印机无法使用！"));
  for (int i = 0; i < pages.PageCount(); ++i) {
    if (i > 0) printer.newPage();
    DrawReportPage(painter, printer, pages.Page(i));
  }
  painter.end();
}

// Pages composed before, kept whole.
class TStoredPages : public TQRPageSource {
 public:
  explicit TStoredPages(std::vector<TQRPage> pages) : FPages(std::move(pages)) {}
  int PageCount() const override { return int(FPages.size()); }
  TQRPage Page(int index) override { return FPages.at(size_t(index)); }

 private:
  std::vector<TQRPage> FPages;
};

// A label's width check without laying the text out: the advance of each
// character once per font, summed. Only a text whose sum comes near its
// width is measured whole (kerning never widens a line by more than that).
// The advances of the few fonts of the reports are kept for every page.
class TAdvances {
 public:
  // Whether text surely fits width report pixels in font.
  bool SurelyFits(const QFont& font, const QString& text, int width) {
    TTable& table = TableOf(font);
    double sum = 0;
    for (const QChar c : text) {
      float& a = table.advances[c.unicode()];
      if (a < 0) a = float(c.isSurrogate() ? table.metrics.maxWidth() : table.metrics.horizontalAdvance(c));
      sum += a;
    }
    return sum <= width * 0.9;
  }

  // The lines of text in a label of font and width: its own text, or wrapped.
  // Wrapping is looked up by the text's shape: where the font's digits are
  // all as wide as each other, "10234" breaks where "10000" does, so a
  // column of numbers, times and values is laid out once per shape.
  QStringList Lines(const QFont& font, const QString& text, int width) {
    if (SurelyFits(font, text, width)) return {text};
    TTable& table = TableOf(font);
    QString key = text;
    if (table.digitsAlike) {
      for (QChar& c : key) {
        if (c >= QLatin1Char('1') && c <= QLatin1Char('9')) c = QLatin1Char('0');
      }
    }
    key += QChar(0) + QString::number(width);
    auto it = table.breaks.constFind(key);
    if (it == table.breaks.constEnd()) {
      if (table.breaks.size() >= 4096) table.breaks.clear();
      std::vector<std::pair<int, int>> spans;
      if (table.metrics.horizontalAdvance(text) <= width) {
        spans.emplace_back(0, int(text.size()));
      } else {
        spans = WrappedSpans(text, font, width);
      }
      it = table.breaks.insert(key, spans);
    }
    if (it->size() <= 1) return {text};
    QStringList lines;
    for (const auto& [start, length] : *it) lines << text.mid(start, length).trimmed();
    return lines;
  }

 private:
  struct TTable {
    explicit TTable(const QFont& f) : font(f), metrics(f, ReportPixelDevice()), advances(0x10000, -1.0f) {
      const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
      digitsAlike = true;
      for (char d = '1'; d <= '9'; ++d) digitsAlike = digitsAlike && metrics.horizontalAdvance(QLatin1Char(d)) == zero;
      digitsAlike = digitsAlike && metrics.horizontalAdvance(QStringLiteral("0123456789")) == 10 * zero;
    }
    QFont font;
    QFontMetricsF metrics;
    std::vector<float> advances;
    bool digitsAlike = false;
    QHash<QString, std::vector<std::pair<int, int>>> breaks;  // a text's shape and width → its lines
  };

  TTable& TableOf(const QFont& font) {
    static std::vector<std::unique_ptr<TTable>> tables;  // most recently used first
    for (size_t i = 0; i < tables.size(); ++i) {
      if (tables[i]->font == font) {
        if (i > 0) std::swap(tables[i], tables[0]);
        return *tables[0];
      }
    }
    if (tables.size() >= 16) tables.pop_back();
    tables.insert(tables.begin(), std::make_unique<TTable>(font));
    return *tables[0];
  }
};

// Where a band stands on a page: the row it shows (-1 for a band that
// shows no row), its top and height in millimetres.
struct TPlacedBand {
  const TQRBand* band = nullptr;
  int row = -1;
  bool withLabels = true;
  double top = 0;
  double height = 0;
};
using TPagePlan = std::vector<TPlacedBand>;

// Lays bands out page by page: composing every page at once, or planning
// where each band stands (what every page holds, with no text placed), so
// that a page can be composed alone later.
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
    Walk(TDeadline::Never());
    return std::move(FPages);
  }

  // Plans on until the deadline has passed and a page more is complete, or
  // to the end; returns true at the end. The rows may have been asked for
  // elsewhere in between (a page composed): the planner seeks them again.
  bool Plan(const TDeadline& deadline) {
    FPlanning = true;
    return Walk(deadline);
  }
  bool Planned() const { return FDone; }
  // The pages planned to their end.
  int CompletePages() const { return FDone ? int(FPlans.size()) : std::max(int(FPlans.size()) - 1, 0); }
  const TPagePlan& PlanOf(int index) const { return FPlans[size_t(index)]; }

  // Page index of the plans, its rows asked for again through OnSeek.
  TQRPage Compose(const TPagePlan& plan, int index) {
    TQRPage page;
    for (const TPlacedBand& placed : plan) {
      if (placed.row >= 0 && placed.band->OnSeek && placed.band->OnNeedData) {
        placed.band->OnSeek(placed.row);
        bool more = false;
        placed.band->OnNeedData(more);
      }
      PlaceItems(page, index + 1, *placed.band, placed.top, placed.height, placed.withLabels);
    }
    return page;
  }

 private:
  static constexpr double kEps = 1e-6;

  bool Walk(const TDeadline& deadline) {
    if (FDone) return true;
    if (FPageCount == 0) StartPage();
    const int complete = CompletePages();
    for (; FBand < FBands.size(); ++FBand) {
      const TQRBand& b = *FBands[FBand];
      switch (b.BandType()) {
        case TQRBandType::rbPageFooter: break;
        case TQRBandType::rbSubDetail:
          if (!RunRows(b, deadline, complete)) return false;
          break;
        case TQRBandType::rbGroupHeader:
          if (IsCaptionBand(&b)) break;
          [[fallthrough]];
        case TQRBandType::rbTitle:
          if (!Room(b.Height)) StartPage();
          Place(b, true);
          break;
      }
    }
    FinishPage();
    FDone = true;
    return true;
  }

  bool IsCaptionBand(const TQRBand* band) const {
    for (const auto& b : FBands) {
      if (b->BandType() == TQRBandType::rbSubDetail && b->HeaderBand == band) return true;
    }
    return false;
  }

  // True when a band of height h fits above the footer, or when the page is
  // still empty (a band taller than the page then prints anyway).
  bool Room(double h) const { return FY <= kEps || FY + h <= FLimit + kEps; }

  int PageNumber() const { return FPageCount; }

  void StartPage() {
    if (FPageCount > 0) FinishPage();
    ++FPageCount;
    if (FPlanning) {
      FPlans.emplace_back();
    } else {
      FPages.emplace_back();
    }
    FY = 0;
  }

  void FinishPage() {
    if (!FFooter || FPageCount == 0) return;
    FY = FLimit;
    Place(*FFooter, true);
  }

  // The row band's bands from the row reached; false when the deadline
  // stopped it with a page more than `complete` planned.
  bool RunRows(const TQRBand& band, const TDeadline& deadline, int complete) {
    const TQRBand* caption = band.HeaderBand;
    const double captionHeight = caption ? caption->Height : 0.0;
    // A page composed alone leaves the rows where it ended.
    if (band.OnSeek) band.OnSeek(FRow);
    for (;; ++FRow) {
      if ((FRow & 31) == 0 && CompletePages() > complete && deadline.Passed()) return false;
      bool more = false;
      if (band.OnNeedData) band.OnNeedData(more);
      if (!more) break;
      const double height = Measure(band);
      if (FFirstRow) {
        if (!Room(captionHeight + height)) StartPage();
        if (caption) Place(*caption, true);
        FFirstRow = false;
      } else if (!Room(height)) {
        StartPage();
        if (caption) Place(*caption, true);
      }
      Place(band, true, FRow, height);
    }
    if (FFirstRow && band.PrintIfEmpty) {
      if (!Room(captionHeight + band.Height)) StartPage();
      if (caption) Place(*caption, true);
      Place(band, false);
    }
    FRow = 0;
    FFirstRow = true;
    return true;
  }

  // A label's lines: its text, wrapped where the label has a width.
  QStringList LinesOf(const TQRLabel& label, const QString& text) {
    if (label.Width <= 0 || label.Alignment != TQRAlignment::Left) return {text};
    return FAdvances.Lines(label.Font, text, label.Width);
  }

  static double LineHeight(const QFont& font) {
    return ReportPixelsToMm(QFontMetricsF(font, ReportPixelDevice()).lineSpacing());
  }

  // The height the band takes with the captions its labels hold now: its
  // own, or more where a text wraps.
  double Measure(const TQRBand& band) {
    double height = band.Height;
    // A picture the band holds now stands inside it.
    for (const auto& image : band.Images()) {
      if (image->Picture && !image->Picture->isNull()) {
        height = std::max(height, ReportPixelsToMm(image->Top + image->Height));
      }
    }
    for (const auto& label : band.Labels()) {
      if (label->Width <= 0) continue;
      const int lines = int(LinesOf(*label, label->PrintedText(PageNumber())).size());
      if (lines > 1) height = std::max(height, band.Height + (lines - 1) * LineHeight(label->Font));
    }
    return height;
  }

  // Puts the band at the current height: its items on the page being
  // composed, or its place in the page's plan.
  void Place(const TQRBand& band, bool withLabels, int row = -1, double height = -1) {
    if (height < 0) height = withLabels ? Measure(band) : band.Height;
    if (FPlanning) {
      FPlans.back().push_back(TPlacedBand{&band, row, withLabels, FY, height});
    } else {
      PlaceItems(FPages.back(), PageNumber(), band, FY, height, withLabels);
    }
    FY += height;
  }

  void PlaceItems(TQRPage& page, int pageNumber, const TQRBand& band, double top, double bandHeight,
                  bool withLabels) {
    auto rule = [&](double y) {
      TQRPageItem item;
      item.Kind = TQRPageItem::ikRule;
      item.Rect = QRectF(0, y, FWidth, 0);
      item.BandName = band.Name();
      page.Items.push_back(std::move(item));
    };
    if (band.FrameTop) rule(top);
    if (band.FrameBottom) rule(top + bandHeight);
    if (!withLabels) return;
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

  const std::vector<std::unique_ptr<TQRBand>>& FBands;
  const TQRBand* FFooter = nullptr;
  double FWidth = 0;
  double FLimit = 0;
  double FY = 0;
  bool FPlanning = false;
  int FPageCount = 0;
  size_t FBand = 0;       // the band being laid out
  int FRow = 0;           // the next row of a row band
  bool FFirstRow = true;  // no row of the row band laid out yet
  bool FDone = false;
  std::vector<TQRPage> FPages;
  std::vector<TPagePlan> FPlans;
  TAdvances FAdvances;
};

// The pages of a report composed one at a time as they are asked for; the
// report's rows are asked for again through their bands' OnSeek. The pages
// are planned a slice at a time (Extend), so the first are shown while the
// rest are counted.
class TPlannedPages : public TQRPageSource {
 public:
  TPlannedPages(TQuickRep* report, const QPageLayout& layout)
      : FReport(report), FLayout(layout), FPlanner(report->Bands(), layout) {}
  int PageCount() const override { return FPlanner.CompletePages(); }
  bool Complete() const override { return FPlanner.Planned() || !FReport; }
  bool Extend(const TDeadline& deadline) override {
    if (!FReport) return true;
    return FPlanner.Plan(deadline);
  }
  TQRPage Page(int index) override {
    if (!FReport || index < 0 || index >= PageCount()) return {};
    return TComposer(FReport->Bands(), FLayout).Compose(FPlanner.PlanOf(index), index);
  }

 private:
  QPointer<TQuickRep> FReport;
  QPageLayout FLayout;
  TComposer FPlanner;
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

std::shared_ptr<TQRPageSource> TQuickRep::Paginate(const QPageLayout& layout) {
  for (const auto& b : FBands) {
    if (b->BandType() == TQRBandType::rbSubDetail && !b->OnSeek) {
      return std::make_shared<TStoredPages>(Generate(layout));
    }
  }
  return std::make_shared<TPlannedPages>(this, layout);
}

int TQuickRep::Print(QPrinter& printer) {
  printer.setDocName(ReportTitle);
  const std::shared_ptr<TQRPageSource> pages = Paginate(printer.pageLayout());
  PrintPages(printer, *pages);
  return pages->PageCount();
}

void TQuickRep::Preview() {
  if (FActive) FActive->ClosePreview();
  auto store = std::make_unique<TQRPrinter>(this, FPrinter);
  const QPageLayout layout = FPrinter->pageLayout();
  store->SetSource(Paginate(layout), layout);
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
  SetSource(std::make_shared<TStoredPages>(std::move(pages)), layout);
}

void TQRPrinter::SetSource(std::shared_ptr<TQRPageSource> pages, const QPageLayout& layout) {
  FSource = std::move(pages);
  FLayout = layout;
  // A report laid out within a tenth of a second is shown whole; a longer
  // one with the pages laid out by then, and the rest follow while it is
  // shown.
  if (FSource) FSource->Extend(TDeadline::In(100));
  if (FSource && !FSource->Complete()) {
    if (!FPlanning) {
      FPlanning = new QTimer(this);
      FPlanning->setInterval(0);
      connect(FPlanning, &QTimer::timeout, this, &TQRPrinter::PlanMore);
    }
    FPlanning->start();
  } else if (FPlanning) {
    FPlanning->stop();
  }
  emit PagesChanged();
}

void TQRPrinter::PlanMore() {
  if (!FSource || FSource->Complete()) {
    if (FPlanning) FPlanning->stop();
    return;
  }
  const int before = FSource->PageCount();
  // Short slices: the window stays responsive while the pages are counted.
  const bool done = FSource->Extend(TDeadline::In(15));
  if (done && FPlanning) FPlanning->stop();
  if (FSource->PageCount() != before) emit PagesAdded(before + 1);
}

void TQRPrinter::FinishPlanning() {
  if (!FSource || FSource->Complete()) return;
  const int before = FSource->PageCount();
  FSource->Extend(TDeadline::Never());
  if (FPlanning) FPlanning->stop();
  if (FSource->PageCount() != before) emit PagesAdded(before + 1);
}

std::vector<TQRPage> TQRPrinter::Pages() const {
  if (FSource) FSource->Extend(TDeadline::Never());
  std::vector<TQRPage> out;
  for (int i = 0; i < PageCount(); ++i) out.push_back(Page(i));
  return out;
}

bool TQRPrinter::Print(QWidget* parent) {
  if (!FReport) return false;
  FPrinter->setDocName(FTitle);
  if (!PrintDialogs().PrintSetup(parent, *FPrinter)) return false;
  if (!FReport) return false;
  FPrinter->setPrintRange(QPrinter::AllPages);
  const QPageLayout layout = FPrinter->pageLayout();
  // The report is laid out again for the printer, and printed a page at a
  // time; its rows start over.
  std::shared_ptr<TQRPageSource> pages = FReport->Paginate(layout);
  PrintPages(*FPrinter, *pages);
  if (!layout.isEquivalentTo(FLayout)) SetSource(std::move(pages), layout);
  return true;
}

bool TQRPrinter::PrinterSetup(QWidget* parent) {
  if (!FReport) return false;
  if (!PrintDialogs().PageSetup(parent, *FPrinter)) return false;
  if (!FReport) return false;
  const QPageLayout layout = FPrinter->pageLayout();
  SetSource(FReport->Paginate(layout), layout);
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
