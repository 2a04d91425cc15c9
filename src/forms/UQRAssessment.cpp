#include "forms/UQRAssessment.h"

#include <QChart>
#include <QGraphicsScene>
#include <QLegend>
#include <QPainter>
#include <QPicture>
#include <QValueAxis>

#include <algorithm>

#include "data/RecordTable.h"
#include "data/TestSeries.h"
#include "forms/UDlgPreview.h"
#include "forms/USeriesChart.h"
#include "forms/UTrendChart.h"
#include "history/ResultValues.h"

namespace {

// Band heights in millimetres; the landscape page's printable width is
// 277 mm, 1047 report pixels.
constexpr double kTitleHeight = 46;
constexpr double kChartHeight = 92;
constexpr double kCaptionHeight = 7;
constexpr double kRowHeight = 5.6;
constexpr double kFooterHeight = 10;
constexpr int kChartWidthPx = 1040;
constexpr int kChartHeightPx = 340;
constexpr int kCourseWidthPx = 620;
constexpr int kCourseHeightPx = 200;

// A chart of the scene as drawing commands, width × height report pixels,
// square-cornered and without shadow: it prints sharp and its texts stay
// texts.
std::shared_ptr<const QPicture> ChartPicture(QGraphicsScene& scene, QChart* chart, int width, int height) {
  chart->setBackgroundRoundness(0);
  chart->setDropShadowEnabled(false);
  chart->resize(width, height);
  auto picture = std::make_shared<QPicture>();
  {
    QPainter painter(picture.get());
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, QRectF(0, 0, width, height), QRectF(0, 0, width, height));
  }
  picture->setBoundingRect(QRect(0, 0, width, height));
  return picture;
}

// Columns: the texts of the history row they print, and their left edges.
struct TColumn {
  int text;  // index into THistoryRow::texts; -1 the position, -2 the reason
  int left;
};
const TColumn kColumns[] = {{-1, 6},
                            {Record::kTime, 44},
                            {Record::kTester, 150},
                            {Record::kPlace, 228},
                            {Record::kPhase, 326},
                            {Record::kOhmA, 372},
                            {Record::kOhmB, 460},
                            {Record::kOhmC, 548},
                            {Judged::kImbalance, 636},
                            {Judged::kRise, 712},
                            {Judged::kVerdict, 786},
                            {-2, 836}};

// Report pixels kept free between a column's text and the next column.
constexpr int kColumnGap = 6;

QString Number(double v, int decimals) { return QString::number(v, 'f', decimals); }

}  // namespace

const QStringList& TQRAssessment::Captions() {
  // The texts of the judged rows the columns print, under their own captions.
  static const QStringList captions = [] {
    QStringList c;
    for (const TColumn& col : kColumns) {
      c << (col.text == -1   ? Judged::Captions()[Record::kNumber]
            : col.text == -2 ? QStringLiteral("说明")
                             : Judged::Captions()[col.text]);
    }
    return c;
  }();
  return captions;
}

TQRAssessment::TQRAssessment(QObject* owner) : TQuickRep(owner) {
  setObjectName(QStringLiteral("QRAssessment"));
  ReportTitle = QStringLiteral("回路电阻评估报告");
  Page.Orientation = QPageLayout::Landscape;
  Page.LeftMargin = Page.RightMargin = 10;
  Page.TopMargin = Page.BottomMargin = 10;
  ApplyPageSetup();
  const QFont title = ReportFont(QStringLiteral("宋体"), 16, true);
  const QFont song10 = ReportFont(QStringLiteral("宋体"), 10);
  const QFont song9 = ReportFont(QStringLiteral("宋体"), 9);
  const QFont bold9 = ReportFont(QStringLiteral("宋体"), 9, true);
  Font = song9;

  TitleBand = AddBand(QStringLiteral("TitleBand"), TQRBandType::rbTitle, kTitleHeight);
  auto label = [](TQRBand* band, const char* name, const QFont& font, int left, int top) {
    TQRLabel* l = band->AddLabel(QLatin1String(name), font);
    l->Left = left;
    l->Top = top;
    return l;
  };
  QRLTitle = label(TitleBand, "QRLTitle", title, 0, 4);
  QRLTitle->Alignment = TQRAlignment::Center;
  QRLTitle->Caption = QStringLiteral("回路电阻评估报告");
  QRLDevice = label(TitleBand, "QRLDevice", song10, 6, 48);
  QRLPeriod = label(TitleBand, "QRLPeriod", song10, 6, 70);
  QRLCriteria = label(TitleBand, "QRLCriteria", song10, 6, 92);
  QRLReference = label(TitleBand, "QRLReference", song10, 6, 114);
  QRLSummary = label(TitleBand, "QRLSummary", song10, 6, 136);

  ChartBand = AddBand(QStringLiteral("ChartBand"), TQRBandType::rbGroupHeader, kChartHeight);
  QRITrend = ChartBand->AddImage(QStringLiteral("QRITrend"));
  QRITrend->Left = 4;
  QRITrend->Top = 4;
  QRITrend->Width = kChartWidthPx;
  QRITrend->Height = kChartHeightPx;

  CaptionBand = AddBand(QStringLiteral("CaptionBand"), TQRBandType::rbGroupHeader, kCaptionHeight);
  CaptionBand->FrameTop = true;
  CaptionBand->FrameBottom = true;
  RowBand = AddBand(QStringLiteral("RowBand"), TQRBandType::rbSubDetail, kRowHeight);
  RowBand->HeaderBand = CaptionBand;
  RowBand->OnNeedData = [this](bool& more) { NeedData(more); };
  RowBand->OnSeek = [this](int index) { Seek(index); };
  QRICourse = RowBand->AddImage(QStringLiteral("QRICourse"));
  QRICourse->Left = kColumns[1].left;
  QRICourse->Top = 2;
  QRICourse->Width = kCourseWidthPx;
  QRICourse->Height = kCourseHeightPx;
  int i = 0;
  for (const TColumn& c : kColumns) {
    TQRLabel* caption = label(CaptionBand, QStringLiteral("QRLCol%1").arg(i).toLatin1().constData(), bold9, c.left, 6);
    caption->Caption = Captions()[i];
    CaptionLabels.push_back(caption);
    TQRLabel* value = label(RowBand, QStringLiteral("QRTCol%1").arg(i).toLatin1().constData(), song9, c.left, 3);
    // A text wraps inside its column (the reason runs to the page's edge).
    const size_t next = size_t(i) + 1;
    if (next < std::size(kColumns)) value->Width = kColumns[next].left - c.left - kColumnGap;
    ValueLabels.push_back(value);
    ++i;
  }

  FooterBand = AddBand(QStringLiteral("FooterBand"), TQRBandType::rbPageFooter, kFooterHeight);
  FooterBand->FrameTop = true;
  QRLPrinted = label(FooterBand, "QRLPrinted", song9, 6, 8);
  QRSysPage = FooterBand->AddSysData(QStringLiteral("QRSysPage"), song9);
  QRSysPage->Text = QStringLiteral("第 ");
  QRSysPage->TextAfter = QStringLiteral(" 页");
  QRSysPage->Alignment = TQRAlignment::Right;
  QRSysPage->Top = 8;

  OnPreview = [this](TQRPrinter& printer) { OpenPreviewWindow(this, printer); };
}

void TQRAssessment::Load(const TAssessmentData& d) {
  ReportTitle = QStringLiteral("回路电阻评估报告 %1").arg(d.device);
  QRLDevice->Caption = QStringLiteral("设备编号：%1").arg(d.device);
  const QString from = d.from.isValid() ? d.from.toString(QStringLiteral("yyyy-MM-dd")) : QString();
  const QString to = d.to.isValid() ? d.to.toString(QStringLiteral("yyyy-MM-dd")) : QString();
  QRLPeriod->Caption = QStringLiteral("时间范围：%1")
                           .arg(from.isEmpty() && to.isEmpty() ? QStringLiteral("全部")
                                                               : QStringLiteral("%1 至 %2").arg(from, to));
  const TCriteria& c = d.criteria;
  QRLCriteria->Caption =
      QStringLiteral("评估标准：电阻上限 %1；允许上升倍数 %2；三相不平衡上限 %3 %")
          .arg(c.maxMicroOhm ? TypedMicroOhmText(*c.maxMicroOhm) : QStringLiteral("不判断"), Number(c.riseFactor, 2),
               Number(c.imbalancePercent, 0));
  if (c.referenceMicroOhm) {
    QRLReference->Caption = QStringLiteral("基准值：%1（输入值）").arg(TypedMicroOhmText(*c.referenceMicroOhm));
  } else {
    QStringList parts;
    for (int p = 0; p < 3; ++p) {
      if (d.reference[size_t(p)]) parts << PhaseLabel(p) + QLatin1Char(' ') + MicroOhmText(*d.reference[size_t(p)]);
    }
    QRLReference->Caption = parts.isEmpty() ? QStringLiteral("基准值：无（该设备没有可用的测量值）")
                                            : QStringLiteral("基准值：%1（该设备的第一次结果）").arg(parts.join(QStringLiteral("，")));
  }
  FRows.clear();
  FRows.reserve(d.results.size());
  FCourses.clear();
  FFirstBand.clear();
  FFirstBand.reserve(d.results.size());
  int counts[4] = {0, 0, 0, 0};
  std::vector<TTrendPoint> points;
  points.reserve(d.results.size());
  size_t bands = 0;
  for (const TStoredResult& r : d.results) {
    FRows.push_back(JudgedRow(r, TJudge{c, d.reference}));
    FFirstBand.push_back(bands);
    bands += LinesOf(FRows.back());
    ++counts[int(FRows.back().verdict)];
    points.push_back(TTrendPoint{r.time, r.ohms});
  }
  QString summary = QStringLiteral("共 %1 条结果：合格 %2 条，注意 %3 条，不合格 %4 条")
                        .arg(FRows.size())
                        .arg(counts[int(TVerdictKind::Pass)])
                        .arg(counts[int(TVerdictKind::Attention)])
                        .arg(counts[int(TVerdictKind::Fail)]);
  if (counts[int(TVerdictKind::NotJudged)] > 0) {
    summary += QStringLiteral("，未判断 %1 条").arg(counts[int(TVerdictKind::NotJudged)]);
  }
  QRLSummary->Caption = summary;
  QRLPrinted->Caption = QStringLiteral("打印时间：%1").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm")));

  // The trend as the history tab draws it, in the report's fonts, recorded
  // as drawing commands: it prints sharp and its texts stay texts.
  TTrendChart trend = MakeTrendChart();
  QGraphicsScene scene;
  scene.addItem(trend.Chart);  // the scene owns the chart from here
  trend.Chart->setAnimationOptions(QChart::NoAnimation);
  trend.Chart->setTitleFont(ReportFont(QStringLiteral("宋体"), 11, true));
  trend.Chart->legend()->setFont(ReportFont(QStringLiteral("宋体"), 9));
  for (QAbstractAxis* axis : trend.Chart->axes()) {
    axis->setLabelsFont(ReportFont(QStringLiteral("Arial"), 8));
    axis->setTitleFont(ReportFont(QStringLiteral("Arial"), 9));
  }
  const bool any = FillTrend(trend, d.device, TrendSeries(points, TJudge{c, d.reference}));
  if (!any) trend.Chart->setTitle(QStringLiteral("%1 电阻趋势（没有可用的测量值）").arg(d.device));
  QRITrend->Picture = ChartPicture(scene, trend.Chart, kChartWidthPx, kChartHeightPx);
  FRow = 0;
  FReason = 0;
}

size_t TQRAssessment::LinesOf(const THistoryRow& row) const {
  return std::max<size_t>(1, size_t(row.reasons.size())) + (row.series.isEmpty() ? 0 : 1);
}

std::shared_ptr<const QPicture> TQRAssessment::CourseOf(size_t row) {
  auto it = FCourses.find(row);
  if (it != FCourses.end()) return it->second;
  // Drawn as the history shows it, in the report's fonts, as drawing
  // commands: it prints sharp and its texts stay texts.
  TSeriesChart course = MakeSeriesChart(QStringLiteral("测试过程"));
  QGraphicsScene scene;
  scene.addItem(course.Chart);  // the scene owns the chart from here
  SetSeriesChartFonts(course, ReportFont(QStringLiteral("宋体"), 9, true), ReportFont(QStringLiteral("Arial"), 7));
  course.Chart->legend()->setFont(ReportFont(QStringLiteral("宋体"), 7));
  FillSeriesChart(course, SeriesOfText(FRows[row].series));
  const std::shared_ptr<const QPicture> picture = ChartPicture(scene, course.Chart, kCourseWidthPx, kCourseHeightPx);
  FCourses.emplace(row, picture);
  return picture;
}

void TQRAssessment::NeedData(bool& moreData) {
  if (FRow >= FRows.size()) {
    moreData = false;
    FRow = 0;  // the next generation starts over
    FReason = 0;
    return;
  }
  moreData = true;
  const THistoryRow& row = FRows[FRow];
  // A result's first line holds its texts and first reason; each further
  // reason gets a line of its own under "说明", and a kept course a line
  // of its own below them.
  const size_t reasonLines = std::max<size_t>(1, size_t(row.reasons.size()));
  const bool courseLine = size_t(FReason) >= reasonLines;
  for (size_t i = 0; i < ValueLabels.size(); ++i) {
    const int text = kColumns[i].text;
    QString caption;
    if (courseLine) {
      caption.clear();
    } else if (text == -2) {
      caption = row.reasons.value(FReason);
    } else if (FReason == 0) {
      caption = text == -1 ? QString::number(FRow + 1) : row.texts.value(text);
    }
    ValueLabels[i]->Caption = caption;
  }
  QRICourse->Picture = courseLine ? CourseOf(FRow) : nullptr;
  if (size_t(FReason) + 1 < LinesOf(row)) {
    ++FReason;
  } else {
    FReason = 0;
    ++FRow;
  }
}

void TQRAssessment::Seek(int index) {
  // The row whose lines hold that band, and the line within it.
  const size_t band = size_t(std::max(index, 0));
  const auto after = std::upper_bound(FFirstBand.begin(), FFirstBand.end(), band);
  if (after == FFirstBand.begin()) {
    FRow = 0;
    FReason = 0;
    return;
  }
  FRow = size_t(after - FFirstBand.begin()) - 1;
  FReason = int(band - FFirstBand[FRow]);
  if (FRow < FRows.size() && size_t(FReason) >= LinesOf(FRows[FRow])) {
    FRow = FRows.size();  // past the last line
    FReason = 0;
  }
}

void PreviewAssessment(TQRAssessment& report, const TAssessmentData& data) {
  report.Load(data);
  report.Preview();
}
