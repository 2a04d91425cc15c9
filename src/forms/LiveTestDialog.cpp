#include "forms/LiveTestDialog.h"

#include <cmath>

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScopeGuard>
#include <QShowEvent>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>

#include "comm/InstrumentLink.h"
#include "data/RecordTable.h"
#include "forms/USeriesChart.h"
#include "forms/uWaitForm.h"
#include "platform/EventPump.h"
#include "platform/Fonts.h"
#include "platform/Gbk.h"
#include "platform/MessageService.h"
#include "platform/StringGrid.h"
#include "platform/Tick.h"
#include "platform/WindowPlacement.h"
#include "platform/Numbers.h"

namespace {

QLabel* MakeLabel(QWidget* parent, const QString& text, int left, int top) {
  auto* l = new QLabel(text, parent);
  l->move(left, top);
  l->adjustSize();
  return l;
}

QComboBox* MakeCombo(QWidget* parent, const char* name, bool editable, int left, int top, int width) {
  auto* c = new QComboBox(parent);
  c->setObjectName(QLatin1String(name));
  c->setEditable(editable);
  c->setGeometry(left, top, width, 21);
  c->setMaxVisibleItems(16);
  return c;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int left, int top, int width) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QLatin1String(name));
  e->setGeometry(left, top, width, 21);
  return e;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, const QIcon& glyph,
                        int left, int top, int width, int height) {
  auto* b = new QPushButton(glyph, caption, parent);
  b->setObjectName(QLatin1String(name));
  b->setGeometry(left, top, width, height);
  b->setAutoDefault(false);
  b->setIconSize(QSize(16, 16));
  return b;
}

enum class TGlyph { Start, Archive, Print, Stop };

// Glyphs of the buttons, 16 x 16.
QIcon Glyph(TGlyph kind) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  if (kind == TGlyph::Start) {  // test: a green start arrow
    QPainterPath path;
    path.moveTo(4, 2);
    path.lineTo(14, 8);
    path.lineTo(4, 14);
    path.closeSubpath();
    p.fillPath(path, QColor(30, 150, 40));
    p.setPen(QColor(10, 80, 20));
    p.drawPath(path);
  } else if (kind == TGlyph::Stop) {  // stop of a running test: a red square
    p.setPen(QColor(120, 20, 20));
    p.setBrush(QColor(200, 40, 40));
    p.drawRect(QRectF(3.5, 3.5, 9, 9));
  } else if (kind == TGlyph::Archive) {  // archive: a folder taking a sheet
    p.setPen(QColor(120, 90, 20));
    p.setBrush(QColor(240, 200, 80));
    p.drawRect(QRectF(1.5, 5.5, 13, 9));
    p.drawRect(QRectF(1.5, 3.5, 5, 2));
    p.setBrush(Qt::white);
    p.setPen(QColor(90, 90, 90));
    p.drawRect(QRectF(5.5, 1.5, 7, 8));
  } else {  // print: a printer
    p.setPen(QColor(60, 60, 60));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 1.5, 7, 5));
    p.setBrush(QColor(170, 170, 170));
    p.drawRect(QRectF(1.5, 6.5, 13, 5));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 10.5, 7, 4));
  }
  return QIcon(pm);
}

QFont GridFont() { return PixelFont(QStringLiteral("MS Sans Serif"), 16); }

const QString k100A = QStringLiteral("100A");

constexpr int kDialogWidth = 1006;
constexpr std::uint32_t kFirstFrameMs = kStartTest.timeoutMs;
constexpr std::uint32_t kNextFrameMs = kNextLiveFrameMs;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Local date-time stamps of completed tests. Two tests never share one,
// even when the clock does not move between them.
std::int64_t NewStamp() {
  static std::int64_t last = 0;
  last = std::max<std::int64_t>(QDateTime::currentMSecsSinceEpoch(), last + 1);
  return last;
}

}  // namespace

QString LoadTimeNotice(const QString& loadTime) {
  return QStringLiteral("  当前载流时间为") + loadTime + QStringLiteral("......");
}

TFrmTest::TFrmTest(const TTestContext& context, QWidget* parent)
    : QDialog(parent), FContext(context), P(*context.params) {
  FormCreate();
}

TInstrumentLink& TFrmTest::Link() const {
  if (!FContext.link) throw EAppError(QStringLiteral("主窗口不存在，无法与仪器通讯。"));
  return *FContext.link;
}

TFrmTest::~TFrmTest() = default;

void TFrmTest::FormCreate() {
  setObjectName(QStringLiteral("FrmTest"));
  setWindowTitle(QStringLiteral("测试"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFont(SongFont(12));
  // The test's course stands to the right of the parameters.
  setFixedSize(kDialogWidth, 376);

  GroupBox1 = new QGroupBox(QStringLiteral("测试参数"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(16, 8, 553, 312);
  MakeLabel(GroupBox1, QStringLiteral("电流档位："), 16, 28);
  CBCurrentStep = MakeCombo(GroupBox1, "CBCurrentStep", false, 80, 24, 73);
  MakeLabel(GroupBox1, QStringLiteral("相选择："), 160, 28);
  cbbPhaseSelect = MakeCombo(GroupBox1, "cbbPhaseSelect", false, 208, 24, 81);
  MakeLabel(GroupBox1, QStringLiteral("时间(秒)："), 296, 29);
  cbTestTime = MakeCombo(GroupBox1, "cbTestTime", true, 352, 24, 81);
  // The list holds the allowed load times only; Enter adds no entry.
  cbTestTime->setInsertPolicy(QComboBox::NoInsert);
  BtnTest = MakeButton(GroupBox1, "BtnTest", QStringLiteral("测试"), Glyph(TGlyph::Start), 448, 22, 75, 25);
  BtnTest->setCursor(Qt::PointingHandCursor);

  TSData = new TStringGrid(4, 4, GroupBox1);
  TSData->setObjectName(QStringLiteral("TSData"));
  TSData->setGeometry(8, 56, 521, 161);
  TSData->setFont(GridFont());

  GroupBox2 = new QGroupBox(QStringLiteral("其它参数"), this);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  // Inside 测试参数's frame and clear of the bottom panel, its lower edge in view.
  GroupBox2->setGeometry(24, 256, 537, 60);
  MakeLabel(GroupBox2, QStringLiteral("设备编号："), 16, 28);
  EdtDeviceNum = MakeEdit(GroupBox2, "EdtDeviceNum", 80, 22, 97);
  MakeLabel(GroupBox2, QStringLiteral("测试人员："), 192, 28);
  EdtTestUser = MakeEdit(GroupBox2, "EdtTestUser", 256, 22, 97);
  MakeLabel(GroupBox2, QStringLiteral("测试地点："), 360, 28);
  EdtTestAdd = MakeEdit(GroupBox2, "EdtTestAdd", 432, 22, 97);

  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setGeometry(0, 376 - 56, kDialogWidth, 56);
  BtnOK = MakeButton(Panel1, "BtnOK", QStringLiteral("归档"), Glyph(TGlyph::Archive), 128, 15, 73, 25);
  btnPrint = MakeButton(Panel1, "btnPrint", QStringLiteral("仪器打印"), Glyph(TGlyph::Print), 250, 15, 89, 25);
  BtnCancel = MakeButton(Panel1, "BtnCancel", QStringLiteral("退出"), QIcon(), 390, 15, 75, 25);

  FChart = std::make_unique<TSeriesChart>(MakeSeriesChart(QStringLiteral("测试过程")));
  ChartView = new QChartView(FChart->Chart, this);
  ChartView->setObjectName(QStringLiteral("ChartView"));
  ChartView->setRenderHint(QPainter::Antialiasing);
  ChartView->setGeometry(580, 8, kDialogWidth - 580 - 12, 272);
  for (int p = 0; p < 3; ++p) {
    LblSettled[p] = new QLabel(this);
    LblSettled[p]->setObjectName(QStringLiteral("LblSettled%1").arg(QChar(u'A' + p)));
    LblSettled[p]->setGeometry(600 + p * 130, 288, 124, 24);
    LblSettled[p]->setAlignment(Qt::AlignCenter);
  }

  connect(CBCurrentStep, &QComboBox::activated, this, [this] { Guarded([this] { CBCurrentStepChange(); }); });
  connect(BtnTest, &QPushButton::clicked, this, [this] { BtnTestClick(); });
  connect(BtnCancel, &QPushButton::clicked, this, [this] { BtnCancelClick(); });
  connect(BtnOK, &QPushButton::clicked, this, [this] { Guarded([this] { BtnOKClick(); }); });
  connect(btnPrint, &QPushButton::clicked, this, [this] { Guarded([this] { btnPrintClick(); }); });

  // 1. to 9.
  cbbPhaseSelect->clear();
  for (int c = 1; c <= 3; ++c) TSData->SetColWidths(c, 130);
  TSData->SetColWidths(0, 95);
  for (int r = 1; r <= 3; ++r) TSData->SetRowHeights(r, 40);
  TSData->SetCells(1, 0, QStringLiteral("测试电阻"));
  TSData->SetCells(2, 0, QStringLiteral("测试电压"));
  TSData->SetCells(3, 0, QStringLiteral("测试电流"));
  TSData->SetCells(0, 1, QStringLiteral("A相"));
  TSData->SetCells(0, 2, QStringLiteral("B相"));
  TSData->SetCells(0, 3, QStringLiteral("C相"));
  cbbPhaseSelect->addItem(Record::kSinglePhase);
  cbbPhaseSelect->addItem(Record::kThreePhases);
  cbbPhaseSelect->setCurrentIndex(1);
  FillTestTimes();
  ClearValues();
  EdtDeviceNum->setText(P.strDevice);
  EdtTestUser->setText(P.strTestUser);
  EdtTestAdd->setText(P.strTestAdd);
  Guarded([this] { CBCurrentStepChange(); });
  FTestStamp = 0;
  FArchivedStamp = 0;
  TSData->SetRow(FNoSelection.top());
}

void TFrmTest::FillTestTimes() {
  cbTestTime->clear();
  for (int t = 5; t <= 60; ++t) cbTestTime->addItem(QString::number(t));
  cbTestTime->setEditText(QString::number(P.iTestTime));
}

void TFrmTest::ClearValues() {
  for (int r = 1; r <= 3; ++r) {
    for (int c = 1; c <= 3; ++c) TSData->SetCells(c, r, QString());
  }
}

void TFrmTest::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous() || FShown) return;
  FShown = true;
  CentreFrameOnScreen(this);
  Guarded([this] { FormShow(); });
}

void TFrmTest::FormShow() {
  if (CBCurrentStep->count() >= 1) CBCurrentStep->setCurrentIndex(0);
  CBCurrentStepChange();
}

void TFrmTest::CBCurrentStepChange() {
  const QString text = cbTestTime->currentText();
  int current = 0;
  if (!TryStrToInt(text, current)) {
    throw EAppError(QStringLiteral("“%1”不是有效的整数。").arg(text));
  }
  const int maximum = CBCurrentStep->currentText() == k100A ? 60 : 30;
  cbTestTime->clear();
  for (int t = 5; t <= maximum; ++t) cbTestTime->addItem(QString::number(t));
  cbTestTime->setEditText(text);
  if (current > maximum) cbTestTime->setCurrentIndex(0);
}

bool TFrmTest::CheckParams() {
  auto refuse = [this](QWidget* control, const QString& message) {
    MsgBox(this, message, TMsgIcon::Information);
    control->setFocus(Qt::OtherFocusReason);
    return false;
  };
  P.strCurrentStep = CBCurrentStep->currentText();
  P.strPhase = cbbPhaseSelect->currentText();

  const bool is100A = CBCurrentStep->currentText() == k100A;
  const int maximum = is100A ? 60 : 30;
  int time = 0;
  if (!TryStrToInt(TrimText(cbTestTime->currentText()), time) || time < 5 || time > maximum) {
    return refuse(cbTestTime, QStringLiteral("“时间”范围在5~%1 秒之间！").arg(maximum) + kRetype);
  }
  P.iTestTime = time;

  const int step = CurrentStepCode(CBCurrentStep->currentText());
  if (step != 0 && step != 1) return refuse(CBCurrentStep, QStringLiteral("请正确选择“电流档位”！"));
  P.iCurrentStep = step;

  const int phase = PhaseCode(cbbPhaseSelect->currentText());
  if (phase != 1 && phase != 3) return refuse(cbbPhaseSelect, QStringLiteral("请正确选择“相”！"));
  P.iPhase = phase;

  const QString device = TrimText(EdtDeviceNum->text());
  if (GbkLength(device) > kShortTextBytes) {
    return refuse(EdtDeviceNum, QStringLiteral("“设备编号”字符数应在20个字符以内") + kRetype);
  }
  P.strDevice = device;

  const QString user = TrimText(EdtTestUser->text());
  if (GbkLength(user) > kShortTextBytes) {
    return refuse(EdtTestUser, QStringLiteral("“测试人员”字符数应在20个字符以内") + kRetype);
  }
  P.strTestUser = user;

  const QString place = TrimText(EdtTestAdd->text());
  if (GbkLength(place) > kShortTextBytes) {
    return refuse(EdtTestAdd, QStringLiteral("“测试地点”字符数应在20个字符以内") + kRetype);
  }
  P.strTestAdd = place;
  return true;
}

bool TFrmTest::SaveResults() {
  if (!CheckParams()) return false;
  P.strResultA = TrimText(TSData->Cells(1, 1));
  P.strResultB = TrimText(TSData->Cells(1, 2));
  P.strResultC = TrimText(TSData->Cells(1, 3));
  for (int p = 0; p < 3; ++p) {
    const QString shown = TSData->Cells(1, p + 1);
    const TShownValue& v = FShownOhms[p];
    P.gResultOhms[size_t(p)] = !shown.isEmpty() && shown == v.text && std::isfinite(v.ohms)
                                 ? std::optional<double>(v.ohms)
                                 : std::nullopt;
  }
  P.gResultSeries = FSeries;
  return true;
}

bool TFrmTest::FormCloseQuery() { return SaveResults(); }

namespace {

// The number a current text starts with ("100.2A" → 100.2).
std::optional<double> LeadingNumber(const QString& text) {
  const QString t = text.trimmed();
  qsizetype end = 0;
  while (end < t.size() && (t[end].isDigit() || t[end] == u'.' || (end == 0 && t[end] == u'-'))) ++end;
  bool ok = false;
  const double v = t.left(end).toDouble(&ok);
  return ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

}  // namespace

void TFrmTest::AddToSeries(const TRecvFA& f) {
  if (f.State != kLiveMeasuring && f.State != kLiveFinished && f.State != kLiveWiringError &&
      f.State != kLiveOverRange) {
    return;
  }
  TSeriesFrame frame;
  // The instrument's own count of load seconds where the frame has one,
  // else the time since the start frame; never before the frame before.
  frame.seconds = f.LoadSeconds > 0 ? double(f.LoadSeconds)
                                    : std::round(TicksSince(std::uint32_t(FSeriesStart)) / 100.0) / 10.0;
  if (!FSeries.empty() && frame.seconds <= FSeries.back().seconds) frame.seconds = FSeries.back().seconds + 0.1;
  if (f.State == kLiveWiringError || f.State == kLiveOverRange) {
    frame.fault = true;
  } else {
    const float ohms[3] = {f.OhmA, f.OhmB, f.OhmC};
    const int phases = cbbPhaseSelect->currentIndex() == 1 ? 3 : 1;
    for (int p = 0; p < phases; ++p) {
      if (std::isfinite(ohms[p])) frame.ohms[size_t(p)] = double(ohms[p]);
    }
    frame.current = LeadingNumber(Q(f.CurrentA));
  }
  if (int(FSeries.size()) >= kMaxSeriesFrames) return;
  FSeries.push_back(frame);
  AppendFrame(*FChart, frame);
  ShowSettled();
}

bool TFrmTest::Settled() const {
  const TSettleRule rule = SettleRuleOf(SettingsFile());
  for (int p = 0; p < 3; ++p) {
    if (PhaseMeasured(FSeries, p) && !PhaseSettled(FSeries, p, rule)) return false;
  }
  return true;
}

void TFrmTest::ShowSettled() {
  const TSettleRule rule = SettleRuleOf(SettingsFile());
  for (int p = 0; p < 3; ++p) {
    QLabel* label = LblSettled[p];
    if (!PhaseMeasured(FSeries, p)) {
      label->clear();
      continue;
    }
    const bool settled = PhaseSettled(FSeries, p, rule);
    label->setText(QStringLiteral("%1相：%2").arg(QChar(u'A' + p)).arg(settled ? QStringLiteral("已稳定")
                                                                                : QStringLiteral("未稳定")));
    label->setStyleSheet(settled ? QStringLiteral("color: rgb(47, 160, 74); font-weight: bold;")
                                 : QStringLiteral("color: rgb(192, 96, 0);"));
  }
}

void TFrmTest::reject() {
  if (FRunning) {
    // A test or print is under way: the close check runs when it has ended.
    FCloseRequested = true;
    return;
  }
  bool allowed = false;
  Guarded([&] { allowed = FormCloseQuery(); });
  if (allowed) QDialog::reject();
}

void TFrmTest::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    // Esc is the exit button's key: it does nothing while that button is
    // disabled.
    if (BtnCancel->isEnabled()) BtnCancel->click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TFrmTest::BtnCancelClick() {
  // The exit button only closes the dialog; the close check decides.
  reject();
}

void TFrmTest::BtnTestClick() {
  Guarded([this] {
    if (BtnTest->text() != QStringLiteral("测试")) {
      StopTest();
      return;
    }
    TSData->SetRow(FNoSelection.top());
    const bool single = cbbPhaseSelect->currentIndex() == 0;
    TSData->SetCells(0, 1, single ? Record::kSinglePhase : QStringLiteral("A相"));
    TSData->SetCells(0, 2, single ? QString() : QStringLiteral("B相"));
    TSData->SetCells(0, 3, single ? QString() : QStringLiteral("C相"));
    ClearValues();
    // The values of the last completed test are gone from the grid: there is
    // no completed result any more, also when the check refuses the start or
    // the port cannot be opened. Archive and print refuse until the next test
    // completes.
    FTestStamp = 0;
    if (CheckParams()) RunTest();
  });
}

void TFrmTest::SetTestCaption(const QString& caption) {
  BtnTest->setText(caption);
  BtnTest->setIcon(Glyph(caption == QStringLiteral("测试") ? TGlyph::Start : TGlyph::Stop));
}

void TFrmTest::SetControls(bool enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{CBCurrentStep, cbbPhaseSelect, cbTestTime, BtnOK, BtnCancel}) {
    w->setEnabled(enabled);
  }
}

void TFrmTest::EndRun() {
  FRunning = false;
  if (FCloseRequested) {
    FCloseRequested = false;
    QTimer::singleShot(0, this, [this] { reject(); });
  }
}

int TFrmTest::ShowLiveFrame(const TRecvFA& f, QString& message) {
  ++FFramesShown;
  switch (f.State) {
    case kLiveWiringError:
      ClearValues();
      message = QStringLiteral("接线错误！");
      break;
    case kLiveOverRange:
      ClearValues();
      message = QStringLiteral("超量程！");
      break;
    case kLiveFinished:
    case kLiveMeasuring:
      TSData->SetCells(1, 1, Q(f.ResistanceA));
      FShownOhms[0] = {Q(f.ResistanceA), f.OhmA};
      TSData->SetCells(2, 1, Q(f.VoltageA));
      TSData->SetCells(3, 1, Q(f.CurrentA));
      if (cbbPhaseSelect->currentIndex() == 1) {
        TSData->SetCells(1, 2, Q(f.ResistanceB));
        FShownOhms[1] = {Q(f.ResistanceB), f.OhmB};
        TSData->SetCells(2, 2, Q(f.VoltageB));
        TSData->SetCells(3, 2, Q(f.CurrentB));
        TSData->SetCells(1, 3, Q(f.ResistanceC));
        FShownOhms[2] = {Q(f.ResistanceC), f.OhmC};
        TSData->SetCells(2, 3, Q(f.VoltageC));
        TSData->SetCells(3, 3, Q(f.CurrentC));
      }
      break;
    default:
      break;
  }
  return f.State;
}

void TFrmTest::RunTest() {
  TInstrumentLink& link = Link();
  if (!FContext.openPort || !FContext.openPort(this)) return;
  ClearValues();
  FRunning = true;
  bool printAllowed = false;
  // Whether the stop frame went out: only then does the stop exchange own
  // the test button's caption.
  bool stopSent = false;
  // Restore step: on every way out, also when the serial link raises an
  // error (which then reaches the general error box).
  auto restore = qScopeGuard([&] {
    HideWait();
    if (!stopSent) SetTestCaption(QStringLiteral("测试"));
    btnPrint->setEnabled(printAllowed);
    SetControls(true);
    link.Close();
    EndRun();
  });
  btnPrint->setEnabled(false);
  SetControls(false);
  BtnTest->setEnabled(false);

  P.iLastTestTime = P.iTestTime;
  P.iLastCurrentStep = P.iCurrentStep;
  P.iLastPhase = P.iPhase;
  const int T = P.iTestTime;
  FTestStamp = 0;

  std::uint32_t limit = kFirstFrameMs;
  FSeries.clear();
  ClearSeriesChart(*FChart);
  ShowSettled();
  ShowWaitOver(this, kLoadingNotice);
  link.StartTest(TTestParams{P.iTestTime, P.iCurrentStep, P.iPhase});
  std::uint32_t startTick = GetTickCount();
  FSeriesStart = startTick;
  FTesting = true;
  int P = 0;

  while (FTesting) {
    const std::uint32_t elapsed = TicksSince(startTick);
    if (elapsed > limit) {
      link.AbandonTest();
      MsgBox(this, kTestAborted, TMsgIcon::Warning);
      return;
    }
    // Sleeps until an event arrives or the time-out is due.
    const std::optional<TRecvFA> frame = link.PumpLive(limit - elapsed + 1);
    if (!frame) continue;
    if (limit == kFirstFrameMs) {
      SetTestCaption(QStringLiteral("中断"));
      BtnTest->setEnabled(true);
    }
    limit = kNextFrameMs;
    startTick = GetTickCount();
    QString message;
    const int s = ShowLiveFrame(*frame, message);
    AddToSeries(*frame);
    const TRecvFA& f = *frame;
    const int L = f.LoadSeconds;
    if (s == kLiveWiringError || s == kLiveOverRange) {
      ClearValues();
      link.AbandonTest();
      MsgBox(this, message, TMsgIcon::Warning);
      return;
    }
    if (s == kLiveFinished) {
      if (L != 0) {
        ShowWaitOver(this, LoadTimeNotice(Q(f.LoadTimeText)));
        SleepMs(1000);  // the final value stays in view; events wait
        if (T - P <= 2 && T != L) {
          ShowWaitOver(this, LoadTimeNotice(QStringLiteral("%1秒").arg(T)));
          SleepMs(1500);
        }
        // A press made during the pause was meant for the button as it read
        // then, "中断": it is handled now, as a stop of a test that has ended
        // anyway. Left in the queue it would reach the button after its
        // caption is back to "测试" and start a new test.
        ProcessPendingEvents();
      } else if (T - P <= 2) {
        ShowWaitOver(this, LoadTimeNotice(QStringLiteral("%1秒").arg(T)));
      }
      FTestStamp = NewStamp();
      printAllowed = true;
      return;
    }
    if (s == kLiveMeasuring) {
      if (L != 0) {
        ShowWaitOver(this, LoadTimeNotice(Q(f.LoadTimeText)));
      } else if (T - P <= 2) {
        ShowWaitOver(this, LoadTimeNotice(QStringLiteral("%1秒").arg(T)));
      }
      P = L;
      printAllowed = true;
      continue;
    }
    link.AbandonTest();
    MsgBox(this, kTestAborted, TMsgIcon::Warning);
    return;
  }

  // Stopped by the operator: live frames still under way are passed over
  // until the acknowledgement.
  stopSent = true;
  if (link.Stop() != TExchange::Done) {
    MsgBox(this, kCommFailed, TMsgIcon::Warning);
    return;  // the button keeps "中断": its next press sends the stop again
  }
  SetTestCaption(QStringLiteral("测试"));
}

void TFrmTest::StopTest() {
  if (FTesting) {
    FTesting = false;  // the running loop sends the stop frame itself
    return;
  }
  // A stop of this dialog is already waiting for its acknowledgement. The
  // reply assembler awaits one reply at a time, and opening the port again
  // would cut off the exchange under way: the press is ignored.
  if (FRunning) return;
  TInstrumentLink& link = Link();
  if (!FContext.openPort || !FContext.openPort(this)) return;
  FRunning = true;
  auto close = qScopeGuard([&] {
    link.Close();
    EndRun();
  });
  if (link.StopAgain() != TExchange::Done) {
    MsgBox(this, kCommFailed, TMsgIcon::Warning);
    return;
  }
  SetTestCaption(QStringLiteral("测试"));
}

void TFrmTest::BtnOKClick() {
  if (!BtnTest->isEnabled()) {
    MsgBox(this, QStringLiteral("请在测试完成后归档！"), TMsgIcon::Information);
    return;
  }
  if (FTestStamp == 0) {
    MsgBox(this, QStringLiteral("无完成测试过程的数据不能归档！"), TMsgIcon::Information);
    return;
  }
  if (FArchivedStamp == FTestStamp) {
    MsgBox(this, QStringLiteral("数据已经归档！"), TMsgIcon::Information);
    return;
  }
  if (!Settled() && MsgBox(this, QStringLiteral("测试值尚未稳定，仍要归档吗？"), TMsgIcon::Warning,
                           TMsgButtons::YesNo) != TMsgResult::Yes) {
    return;
  }
  // The archive page comes into view in every case.
  auto show = qScopeGuard([&] {
    if (FContext.showArchive) FContext.showArchive();
  });
  if (!SaveResults()) return;
  auto mark = qScopeGuard([&] { FArchivedStamp = FTestStamp; });
  if (FContext.archive) FContext.archive();
}

void TFrmTest::btnPrintClick() {
  if (!BtnTest->isEnabled()) {
    MsgBox(this, QStringLiteral("请在测试完成后打印！"), TMsgIcon::Information);
    return;
  }
  if (FTestStamp == 0) {
    MsgBox(this, QStringLiteral("无完成测试过程的数据不能打印！"), TMsgIcon::Information);
    return;
  }
  TInstrumentLink& link = Link();
  if (!FContext.openPort || !FContext.openPort(this)) return;
  FRunning = true;
  auto restore = qScopeGuard([&] {
    HideWait();
    BtnTest->setEnabled(true);
    btnPrint->setEnabled(true);
    SetControls(true);
    link.Close();
    EndRun();
  });
  SetControls(false);
  BtnTest->setEnabled(false);
  btnPrint->setEnabled(false);
  // The test-start snapshot stays as the test left it: a row archived after
  // the print carries the parameters its test was started with.
  ShowWaitOver(this, kPrintingNotice);
  // Record 0: the result of the last live test.
  if (link.Print(0) != TExchange::Done) MsgBox(this, kCommFailed, TMsgIcon::Warning);
}
