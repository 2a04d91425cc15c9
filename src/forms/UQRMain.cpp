#include "forms/UQRMain.h"

#include <QCoreApplication>

#include <algorithm>
#include <vector>

#include "data/UDataCenter.h"
#include "forms/UDlgPreview.h"
#include "platform/MessageService.h"
#include "platform/StringGrid.h"

TQRMain* QRMain = nullptr;

namespace {

// Band heights in millimetres.
constexpr double kTitleHeight = 25.4;
constexpr double kCaptionHeight = 8.47;
constexpr double kRowHeight = 8.47;
constexpr double kFooterHeight = 19.84;

// Report pixels kept free between a column's text and the next column.
constexpr int kColumnGap = 4;

const QString kDesignCoop = QStringLiteral("回路电阻测试仪");
const QString kDesignTel = QStringLiteral("-----主报表");

TQRLabel* Label(TQRBand* band, const char* name, const QString& caption, const QFont& font,
                int top) {
  TQRLabel* l = band->AddLabel(QLatin1String(name), font);
  l->Caption = caption;
  l->Top = top;
  return l;
}

void PrintGrid(QWidget* owner, const TStringGrid& grid, std::int32_t count) {
  if (count <= 0) {
    MsgBox(owner, QStringLiteral("没有数据打印！"), TMsgIcon::Warning);
    return;
  }
  LoadReport(grid, count);
  QRMain->Preview();
}

}  // namespace

TQRMain::TQRMain(QObject* owner) : TQuickRep(owner) {
  setObjectName(QStringLiteral("QRMain"));
  ReportTitle = QStringLiteral("回路电阻测试仪 主报表");
  Page = TQRPageSetup{};  // A4 portrait, margins 10 / 10 / 5 / 5 mm
  ApplyPageSetup();
  Font = ReportFont(QStringLiteral("Arial"), 10);

  const QFont title1 = ReportFont(QStringLiteral("宋体"), 14, true);
  const QFont title2 = ReportFont(QStringLiteral("宋体"), 12, true);
  const QFont arial9 = ReportFont(QStringLiteral("Arial"), 9);
  const QFont song11 = ReportFont(QStringLiteral("宋体"), 11);

  TitleBand1 = AddBand(QStringLiteral("TitleBand1"), TQRBandType::rbTitle, kTitleHeight);
  QRLabel1 = Label(TitleBand1, "QRLabel1", QStringLiteral("回路电阻测试仪"), title1, 32);
  QRLabel1->Alignment = TQRAlignment::Center;
  QRLabel2 = Label(TitleBand1, "QRLabel2", QStringLiteral("-----主报表"), title2, 64);
  QRLabel2->Alignment = TQRAlignment::Center;

  GroupHeaderBand1 =
      AddBand(QStringLiteral("GroupHeaderBand1"), TQRBandType::rbGroupHeader, kCaptionHeight);
  GroupHeaderBand1->FrameTop = true;
  GroupHeaderBand1->FrameBottom = true;
  QRLNo = Label(GroupHeaderBand1, "QRLNo", QStringLiteral("序号"), arial9, 10);
  QRLTime = Label(GroupHeaderBand1, "QRLTime", QStringLiteral("时间"), arial9, 10);
  QRLDeviceNo = Label(GroupHeaderBand1, "QRLDeviceNo", QStringLiteral("设备编号"), arial9, 10);
  QRLTestUser = Label(GroupHeaderBand1, "QRLTestUser", QStringLiteral("测试人员"), arial9, 10);
  QRLAdd = Label(GroupHeaderBand1, "QRLAdd", QStringLiteral("测试地点"), arial9, 10);
  QRLCurrentStep = Label(GroupHeaderBand1, "QRLCurrentStep", QStringLiteral("测试档位"), arial9, 10);
  QRLLoadITime = Label(GroupHeaderBand1, "QRLLoadITime", QStringLiteral("载流时间"), arial9, 10);
  QRLPhase = Label(GroupHeaderBand1, "QRLPhase", QStringLiteral("测试相"), arial9, 10);
  QRLResA = Label(GroupHeaderBand1, "QRLResA", QStringLiteral("测试电阻A"), arial9, 10);
  QRLResB = Label(GroupHeaderBand1, "QRLResB", QStringLiteral("测试电阻B"), arial9, 10);
  QRLResC = Label(GroupHeaderBand1, "QRLResC", QStringLiteral("测试电阻C"), arial9, 10);

  QRSubDetail1 = AddBand(QStringLiteral("QRSubDetail1"), TQRBandType::rbSubDetail, kRowHeight);
  QRSubDetail1->HeaderBand = GroupHeaderBand1;
  QRSubDetail1->PrintIfEmpty = true;
  QRSubDetail1->OnNeedData = [this](bool& moreData) { QRSubDetail1NeedData(moreData); };
  QRSubDetail1->OnSeek = [this](int index) { RowCursor = index + 1; };
  QRTNo = Label(QRSubDetail1, "QRTNo", QString(), arial9, 10);
  QRTTime = Label(QRSubDetail1, "QRTTime", QString(), arial9, 10);
  QRTDeviceNo = Label(QRSubDetail1, "QRTDeviceNo", QString(), arial9, 10);
  QRTTestUser = Label(QRSubDetail1, "QRTTestUser", QString(), arial9, 10);
  QRTAdd = Label(QRSubDetail1, "QRTAdd", QString(), arial9, 10);
  QRTCurrentStep = Label(QRSubDetail1, "QRTCurrentStep", QString(), arial9, 10);
  QRTLoadITime = Label(QRSubDetail1, "QRTLoadITime", QString(), arial9, 10);
  QRTPhase = Label(QRSubDetail1, "QRTPhase", QString(), arial9, 10);
  QRTResA = Label(QRSubDetail1, "QRTResA", QString(), arial9, 10);
  QRTResB = Label(QRSubDetail1, "QRTResB", QString(), arial9, 10);
  QRTResC = Label(QRSubDetail1, "QRTResC", QString(), arial9, 10);
  FValueLabels = {QRTTime,        QRTDeviceNo,  QRTTestUser, QRTAdd,  QRTCurrentStep,
                  QRTLoadITime,   QRTPhase,     QRTResA,     QRTResB, QRTResC};

  PageFooterBand1 =
      AddBand(QStringLiteral("PageFooterBand1"), TQRBandType::rbPageFooter, kFooterHeight);
  PageFooterBand1->FrameTop = true;
  QRSysData2 = PageFooterBand1->AddSysData(QStringLiteral("QRSysData2"), arial9);
  QRSysData2->Data = TQRSysDataKind::PageNumber;
  QRSysData2->Alignment = TQRAlignment::Right;
  QRSysData2->Top = 8;
  QRLCoop = Label(PageFooterBand1, "QRLCoop", kDesignCoop, song11, 16);
  QRLCoop->Alignment = TQRAlignment::Center;
  QRLTel = Label(PageFooterBand1, "QRLTel", kDesignTel, song11, 48);
  QRLTel->Alignment = TQRAlignment::Center;

  OnPreview = [this](TQRPrinter& printer) { QuickRepPreview(printer); };
}

TQRMain::~TQRMain() {
  if (QRMain == this) QRMain = nullptr;
}

void TQRMain::SetRowCount(std::int32_t n) {
  if (n < 0) n = 0;
  RowCount = n;
  Rows.resize(static_cast<std::size_t>(n));
}

void TQRMain::Prepare() {
  QRLNo->Left = 10;
  QRLTime->Left = 75;
  QRLDeviceNo->Left = 145;
  QRLTestUser->Left = 215;
  QRLAdd->Left = 285;
  QRLCurrentStep->Left = 355;
  QRLLoadITime->Left = 405;
  QRLPhase->Left = 475;
  QRLResA->Left = 545;
  QRLResB->Left = 615;
  QRLResC->Left = 685;

  QRTNo->Left = 13;
  QRTTime->Left = 45;
  QRTDeviceNo->Left = 145;
  QRTTestUser->Left = 215;
  QRTAdd->Left = 285;
  QRTCurrentStep->Left = 355;
  QRTLoadITime->Left = 405;
  QRTPhase->Left = 475;
  QRTResA->Left = 545;
  QRTResB->Left = 615;
  QRTResC->Left = 685;

  // A value wraps inside its column and its row grows: a long 测试地点 never
  // runs into 测试档位. The last column ends at the printable width.
  const std::vector<TQRLabel*> values = {QRTNo,        QRTTime,  QRTDeviceNo, QRTTestUser, QRTAdd, QRTCurrentStep,
                                         QRTLoadITime, QRTPhase, QRTResA,     QRTResB,     QRTResC};
  const double printable = Page.Layout().paintRect(QPageLayout::Millimeter).width() * kReportPixelsPerInch / 25.4;
  for (size_t i = 0; i < values.size(); ++i) {
    const int right = i + 1 < values.size() ? values[i + 1]->Left : int(printable);
    values[i]->Width = std::max(right - values[i]->Left - kColumnGap, 8);
  }

  QRLCoop->Caption.clear();
  QRLTel->Caption.clear();
  RowCursor = 1;
}

void TQRMain::ClearRows() {
  Rows.clear();
  Rows.shrink_to_fit();
  RowCount = 0;
}

void TQRMain::QRSubDetail1NeedData(bool& moreData) {
  // RowCount is a public field: never read past the rows actually held.
  const std::int64_t available =
      std::min<std::int64_t>(RowCount, static_cast<std::int64_t>(Rows.size()));
  if (RowCursor < 1 || RowCursor > available) {
    moreData = false;
    RowCursor = 1;
    return;
  }
  moreData = true;
  QRTNo->Caption = QString::asprintf("%2d", RowCursor);
  const TReportRow& row = Rows[static_cast<std::size_t>(RowCursor - 1)];
  for (std::size_t i = 0; i < FValueLabels.size(); ++i) FValueLabels[i]->Caption = row[i];
  ++RowCursor;
}

void TQRMain::QuickRepPreview(TQRPrinter& printer) { OpenPreviewWindow(this, printer); }

void CreateReport() {
  if (!QRMain) QRMain = new TQRMain(QCoreApplication::instance());
}

void FreeReport() {
  TQRMain* report = QRMain;
  QRMain = nullptr;
  if (!report) return;
  report->ClearRows();
  delete report;
}

void LoadReport(const TStringGrid& grid, std::int32_t count) {
  CreateReport();
  const std::int32_t n = count < 0 ? 0 : count;
  QRMain->SetRowCount(n);
  for (std::int32_t r = 1; r <= n; ++r) {
    TReportRow& row = QRMain->Rows[static_cast<std::size_t>(r - 1)];
    for (int j = 1; j <= 10; ++j) row[static_cast<std::size_t>(j - 1)] = grid.Cells(j, r);
  }
  QRMain->Prepare();
}

void PrintDataGrid(QWidget* owner, const TStringGrid& SGData, std::int32_t giDataCount) {
  PrintGrid(owner, SGData, giDataCount);
}

void PrintSaveGrid(QWidget* owner, const TStringGrid& SGSave, std::int32_t giSaveCount) {
  PrintGrid(owner, SGSave, giSaveCount);
}
