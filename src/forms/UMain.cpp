#include "forms/UMain.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeySequence>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "data/RecordTable.h"
#include "data/UDataCenter.h"
#include "forms/UDataFiles.h"
#include "forms/UDlgProcess.h"
#include "forms/UDlgSeries.h"
#include "forms/UDlgSetComm.h"
#include "forms/UHistory.h"
#include "comm/InstrumentLink.h"
#include "forms/LiveTestDialog.h"
#include "forms/UQRMain.h"
#include "forms/uOtherSettingForm.h"
#include "forms/uWaitForm.h"
#include "platform/EventPump.h"
#include "platform/IniFile.h"
#include "platform/MessageService.h"
#include "platform/Numbers.h"
#include "platform/PortNames.h"
#include "platform/SerialPort.h"
#include "platform/StringGrid.h"
#include "platform/WindowPlacement.h"

TFrmMain* FrmMain = nullptr;

// ---- Helpers ------------------------------------------------------------------

QStringList RecordGridHeaders() { return Record::Captions(); }

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The link's way of saying an exchange failed for the operator: only a
// complete and valid reply is a success.
bool Answered(TExchange outcome) { return outcome == TExchange::Done; }

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, int left, int top,
                        int width, int height) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QLatin1String(name));
  b->setGeometry(left, top, width, height);
  b->setAutoDefault(false);
  b->setFocusPolicy(Qt::StrongFocus);
  return b;
}

// A tab page holding a record table above its button panel; returns the
// page's layout, with the table added.
QVBoxLayout* MakeTablePage(const char* pageName, const char* gridName, QWidget*& page, TStringGrid*& grid) {
  page = new QWidget;
  page->setObjectName(QLatin1String(pageName));
  page->setFont(SongFont(12));
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  grid = new TStringGrid(11, 2, page);
  grid->setObjectName(QLatin1String(gridName));
  grid->setFont(SongFont(12));
  layout->addWidget(grid, 1);
  return layout;
}

QFrame* MakePanel(QWidget* parent, const char* name, int height) {
  auto* p = new QFrame(parent);
  p->setObjectName(QLatin1String(name));
  p->setFrameStyle(QFrame::Panel | QFrame::Raised);
  p->setFixedHeight(height);
  return p;
}

}  // namespace

// Marks the main window busy for one instrument operation. When another one
// is already under way the scope is not taken and the click is ignored.
class TBusyScope {
 public:
  explicit TBusyScope(TFrmMain* w) : FWindow(w), FTaken(!w->FBusy) {
    if (FTaken) w->FBusy = true;
  }
  ~TBusyScope() {
    if (!FTaken) return;
    FWindow->FBusy = false;
    if (FWindow->FCloseWhenIdle) {
      FWindow->FCloseWhenIdle = false;
      QTimer::singleShot(0, FWindow, [w = FWindow] { w->close(); });
    }
  }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;
  explicit operator bool() const { return FTaken; }

 private:
  TFrmMain* FWindow;
  bool FTaken;
};

// ---- Status bar ------------------------------------------------------------------

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent) {}

void TStatusBar::AddPanel(int width, bool ownerDraw) {
  FPanels.push_back(TPanel{width, ownerDraw, QString()});
  update();
}

QString TStatusBar::PanelText(int i) const {
  return i >= 0 && i < PanelCount() ? FPanels[static_cast<size_t>(i)].text : QString();
}

void TStatusBar::SetPanelText(int i, const QString& text) {
  if (i < 0 || i >= PanelCount()) return;
  FPanels[static_cast<size_t>(i)].text = text;
  update();
}

void TStatusBar::SetPanelWidth(int i, int width) {
  if (i < 0 || i >= PanelCount()) return;
  FPanels[static_cast<size_t>(i)].width = width;
  PlaceOwnerDrawn();
  update();
}

int TStatusBar::PanelWidth(int i) const {
  return i >= 0 && i < PanelCount() ? FPanels[static_cast<size_t>(i)].width : 0;
}

QRect TStatusBar::PanelRect(int i) const {
  int left = 0;
  for (int k = 0; k < i && k < PanelCount(); ++k) left += FPanels[static_cast<size_t>(k)].width;
  // Panels sit 2 pixels inside the bar's top and bottom edges.
  return QRect(left, 2, PanelWidth(i) - 2, height() - 2);
}

void TStatusBar::PlaceOwnerDrawn() {
  if (!OnDrawPanel) return;
  for (int i = 0; i < PanelCount(); ++i) {
    if (FPanels[static_cast<size_t>(i)].ownerDraw) OnDrawPanel(i, PanelRect(i));
  }
}

void TStatusBar::resizeEvent(QResizeEvent*) { PlaceOwnerDrawn(); }

void TStatusBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette pal = palette();
  p.fillRect(rect(), pal.color(QPalette::Window));
  for (int i = 0; i < PanelCount(); ++i) {
    const QRect r = PanelRect(i);
    // Sunken edges: dark top-left, light bottom-right.
    p.setPen(pal.color(QPalette::Dark));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
    const TPanel& panel = FPanels[static_cast<size_t>(i)];
    if (panel.ownerDraw || panel.text.isEmpty()) continue;
    p.setPen(pal.color(QPalette::WindowText));
    p.setFont(font());
    p.drawText(r.adjusted(3, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, panel.text);
  }
}

// ---- Main window -------------------------------------------------------------------

TFrmMain::TFrmMain(QWidget* parent) : QWidget(parent) {
  FrmMain = this;
  FormCreate();
}

TFrmMain::~TFrmMain() {
  FHistory.reset();  // the replication's worker stops before the window goes
  FormDestroy();
  if (FrmMain == this) FrmMain = nullptr;
}

void TFrmMain::BuildControls() {
  setObjectName(QStringLiteral("FrmMain"));
  setWindowTitle(kMainCaption);
  setFont(SongFont(12));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  Panel1 = MakePanel(this, "Panel1", 65);
  btnUpdateList = MakeButton(Panel1, "btnUpdateList", QStringLiteral("连接设备"), 24, 16, 89, 25);
  BtnTest = MakeButton(Panel1, "BtnTest", QStringLiteral("测试"), 128, 16, 89, 25);
  BtnSetComm = MakeButton(Panel1, "BtnSetComm", QStringLiteral("通讯设置"), 232, 16, 89, 25);
  btnOtherSetting = MakeButton(Panel1, "btnOtherSetting", QStringLiteral("其它设置"), 336, 16, 89, 25);
  BtnExit = MakeButton(Panel1, "BtnExit", QStringLiteral("退出"), 440, 16, 75, 25);
  layout->addWidget(Panel1);

  pgc = new QTabWidget(this);
  pgc->setObjectName(QStringLiteral("pgc"));
  pgc->tabBar()->setFont(SongFont(20));
  layout->addWidget(pgc, 1);

  // Archive tab.
  QVBoxLayout* saveLayout = MakeTablePage("tsSave", "SGSave", tsSave, SGSave);
  Panel3 = MakePanel(tsSave, "Panel3", 41);
  BtnOpen = MakeButton(Panel3, "BtnOpen", QStringLiteral("打开Excel"), 304, 8, 75, 25);
  btnSaveExcel = MakeButton(Panel3, "btnSaveExcel", QStringLiteral("保存至Excel"), 424, 8, 75, 25);
  btnPrintSave = MakeButton(Panel3, "btnPrintSave", QStringLiteral("打印"), 544, 8, 75, 25);
  btnClearSave = MakeButton(Panel3, "btnClearSave", QStringLiteral("清空数据"), 664, 8, 89, 25);
  saveLayout->addWidget(Panel3);
  pgc->addTab(tsSave, QStringLiteral("测试数据归档"));

  // Instrument tab.
  QVBoxLayout* machineLayout = MakeTablePage("tsMachine", "SGData", tsMachine, SGData);
  ProgressBar1 = new QProgressBar(tsMachine);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setFixedHeight(17);
  ProgressBar1->setTextVisible(false);
  machineLayout->addWidget(ProgressBar1);
  Panel2 = MakePanel(tsMachine, "Panel2", 40);
  BtnSampleData = MakeButton(Panel2, "BtnSampleData", QStringLiteral("上传仪器数据"), 248, 8, 89, 25);
  BtnClearData = MakeButton(Panel2, "BtnClearData", QStringLiteral("清空仪器数据"), 376, 8, 89, 25);
  btnMachinePrint = MakeButton(Panel2, "btnMachinePrint", QStringLiteral("仪器打印"), 512, 8, 75, 25);
  BtnPrint = MakeButton(Panel2, "BtnPrint", QStringLiteral("打印"), 632, 8, 75, 25);
  BtnSave = MakeButton(Panel2, "BtnSave", QStringLiteral("保存至Excel"), 744, 8, 75, 25);
  machineLayout->addWidget(Panel2);
  pgc->addTab(tsMachine, QStringLiteral("仪器数据"));
  // The results history, after the two tables.
  tsHistory = new THistoryPage([this] { return History(); }, [this] { return HistoryError(); }, pgc);
  tsHistory->SetStoring([this](const std::vector<TNewResult>& results) { return HistoryService().Store(results); });
  tsHistory->SetSettingsChanged([this] { HistorySettingsChanged(); });
  pgc->addTab(tsHistory, QStringLiteral("历史记录"));
  connect(pgc, &QTabWidget::currentChanged, this, [this](int) {
    if (pgc->currentWidget() == tsHistory) Guarded([this] { tsHistory->Refresh(); });
  });

  StatusBar1 = new TStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setFixedHeight(29);
  StatusBar1->AddPanel(500);
  StatusBar1->AddPanel(200, true);
  StatusBar1->AddPanel(50);
  layout->addWidget(StatusBar1);

  PBar = new QProgressBar(StatusBar1);
  PBar->setObjectName(QStringLiteral("PBar"));
  PBar->hide();
  StatusBar1->OnDrawPanel = [this](int panel, const QRect& r) { StatusBar1DrawPanel(panel, r); };

  auto* series = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+S")), this);
  series->setObjectName(QStringLiteral("SeriesShortcut"));

  connect(btnUpdateList, &QPushButton::clicked, this, [this] { btnUpdateListClick(); });
  connect(BtnTest, &QPushButton::clicked, this, [this] { BtnTestClick(); });
  connect(BtnSetComm, &QPushButton::clicked, this, [this] { Guarded([this] { BtnSetCommClick(); }); });
  connect(btnOtherSetting, &QPushButton::clicked, this, [this] { Guarded([this] { btnOtherSettingClick(); }); });
  connect(BtnExit, &QPushButton::clicked, this, [this] { BtnExitClick(); });
  connect(BtnOpen, &QPushButton::clicked, this, [this] { Guarded([this] { BtnOpenClick(); }); });
  connect(btnSaveExcel, &QPushButton::clicked, this, [this] { Guarded([this] { btnSaveExcelClick(); }); });
  connect(btnPrintSave, &QPushButton::clicked, this, [this] { Guarded([this] { btnPrintSaveClick(); }); });
  connect(btnClearSave, &QPushButton::clicked, this, [this] { btnClearSaveClick(); });
  connect(BtnSampleData, &QPushButton::clicked, this, [this] { BtnSampleDataClick(); });
  connect(BtnClearData, &QPushButton::clicked, this, [this] { BtnClearDataClick(); });
  connect(btnMachinePrint, &QPushButton::clicked, this, [this] { btnMachinePrintClick(); });
  connect(BtnPrint, &QPushButton::clicked, this, [this] { Guarded([this] { BtnPrintClick(); }); });
  connect(BtnSave, &QPushButton::clicked, this, [this] { Guarded([this] { BtnSaveClick(); }); });
  connect(series, &QShortcut::activated, this, [this] { Guarded([this] { BtnSeriesClick(); }); });
}

void TFrmMain::FormCreate() {
  BuildControls();
  // The file operations of this window show the progress dialog.
  InstallProgressDialog();

  FLink = std::make_unique<TInstrumentLink>(
      CreateSerialPort(this), [](const QString& name) { return ResolvePortDevice(name, SettingsFileName()); });

  // The skin of the original toolkit has no counterpart; the platform style
  // draws the window.
  StatusBar1->SetPanelText(0, kDisconnected);
  Guarded([this] { LoadSettings(Params); });
  ShowPortInUse();
  SetupGrids();
  ResetState();
  EnableButtons();
  Guarded([this] { CreateReport(); });
  ProgressBar1->hide();
  pgc->setCurrentWidget(tsSave);

  resize(1096, 547);
  if (Params.giSaveScreen == 1) {
    ApplySavedRect();
  } else {
    CentreFrameOnScreen(this);
  }
}

// The stored rectangle, when it is usable: a rectangle without area or one
// that lies outside every screen (a screen removed since) would leave the
// window invisible, so the window then opens at its default size, centred.
void TFrmMain::ApplySavedRect() {
  const QRect r(Params.giScreenLeft, Params.giScreenTop, Params.giScreenWidth, Params.giScreenHeight);
  bool visible = false;
  for (QScreen* s : QGuiApplication::screens()) {
    if (s->availableGeometry().intersects(r)) visible = true;
  }
  if (Params.giScreenWidth > 0 && Params.giScreenHeight > 0 && visible) {
    resize(Params.giScreenWidth, Params.giScreenHeight);
    move(Params.giScreenLeft, Params.giScreenTop);
    return;
  }
  CentreFrameOnScreen(this);
}

void TFrmMain::closeEvent(QCloseEvent* event) {
  if (FBusy) {
    // The operation under way finishes first; then the window closes.
    FCloseWhenIdle = true;
    event->ignore();
    return;
  }
  if (!FClosed) {
    FClosed = true;
    Guarded([this] { FormClose(); });
  }
  event->accept();
  emit Closed();
}

void TFrmMain::FormClose() {
  FreeReport();
  // The other-settings dialog writes "save" when it closes, so the file, not
  // Params.giSaveScreen, decides.
  TIniFile& ini = SettingsFile();
  if (ini.ReadInteger(QStringLiteral("Screen"), QStringLiteral("save"), 0) == 1) {
    ini.BeginUpdate();
    ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("left"), x());
    ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("top"), y());
    ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("width"), width());
    ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("height"), height());
    ini.EndUpdate();
  }
}

void TFrmMain::FormDestroy() {
  HideWait();
  FLink.reset();  // the port closes
  Guarded([this] { SaveSettings(Params); });
}

void TFrmMain::ResetState() {
  Params.iCurrentStep = 0;
  Params.iPhase = 1;
  Params.giSaveCount = 0;
  Params.giDataCount = 0;
  Params.gbConnected = false;
}

void TFrmMain::EnableButtons() {
  for (QPushButton* b : {BtnSampleData, BtnClearData, BtnTest, btnMachinePrint}) b->setEnabled(Params.gbConnected);
  // Uploaded rows can be printed and saved without the instrument, so that
  // they are not lost when it has gone away.
  const bool rows = Params.gbConnected || Params.giDataCount > 0;
  BtnPrint->setEnabled(rows);
  BtnSave->setEnabled(rows);
}

void TFrmMain::StatusBar1DrawPanel(int, const QRect& r) {
  PBar->setGeometry(r.left(), r.top() + 1, StatusBar1->PanelWidth(1) - 4, r.height() - 2);
}

void TFrmMain::BtnExitClick() { close(); }

// ---- Serial link -------------------------------------------------------------------

ISerialPort* TFrmMain::ComPort() const { return FLink->Port(); }

bool TFrmMain::OpenPort(QString& errorText, QString* detail) {
  ShowPortInUse();
  return FLink->Open(Params.giCommPort, errorText, detail);
}

bool TFrmMain::OpenPortOrWarn(QWidget* box) {
  QString err;
  QString detail;
  if (OpenPort(err, &detail)) return true;
  MsgBoxWithDetail(box ? box : this, err, detail, TMsgIcon::Warning);
  return false;
}

void TFrmMain::ShowPortInUse() {
  const QString port = QStringLiteral("COM%1").arg(Params.giCommPort);
  const QString device = ResolvePortDevice(port, SettingsFile());
  const QString real = QFileInfo(device).canonicalFilePath();
  // A stable name (/dev/serial/by-id/…) is long; the device it names is what
  // the operator recognises, the stable name is in the tip.
  const QString text = QStringLiteral("%1 → %2").arg(port, real.isEmpty() ? device : real);
  StatusBar1->SetPanelText(2, text);
  StatusBar1->SetPanelWidth(2, std::max(50, StatusBar1->fontMetrics().horizontalAdvance(text) + 16));
  StatusBar1->setToolTip(real.isEmpty() || real == device ? text : QStringLiteral("%1（%2）").arg(text, device));
}

void TFrmMain::ClosePort() { FLink->Close(); }

TTestContext TFrmMain::TestContext() {
  TTestContext c;
  c.params = &Params;
  c.link = FLink.get();
  c.archive = [this] { ArchiveResult(); };
  c.showArchive = [this] { pgc->setCurrentWidget(tsSave); };
  c.openPort = [this](QWidget* box) { return OpenPortOrWarn(box); };
  return c;
}

// ---- Instrument operations -----------------------------------------------------------

void TFrmMain::btnUpdateListClick() {
  Guarded([this] { ConnectDevice(); });
}

bool TFrmMain::ConnectDevice() {
  TBusyScope busy(this);
  if (!busy) return false;
  if (!OpenPortOrWarn()) return false;
  auto close = qScopeGuard([this] { ClosePort(); });
  // A line that fails during the exchange (device unplugged, write refused)
  // is one more way for the instrument not to answer: it ends, like a
  // time-out, in the disconnected state.
  bool answered = false;
  try {
    answered = Answered(FLink->Identify());
  } catch (const std::exception&) {
    answered = false;
  }
  if (answered) {
    StatusBar1->SetPanelText(0, kConnected);
    ClosePort();
    Params.gbConnected = true;
    EnableButtons();
    return true;
  }
  FLink->Idle();
  Params.gbConnected = false;
  EnableButtons();
  StatusBar1->SetPanelText(0, kDisconnected);
  MsgBox(this, kDisconnected, TMsgIcon::Warning);
  return false;
}

void TFrmMain::FillDataRow(int row, const TRecvF1& rec) {
  SGData->SetCells(Record::kNumber, row, QString::asprintf("%2d", row));
  SGData->SetCells(Record::kTime, row, Q(rec.TestDateTime));
  SGData->SetCells(Record::kDevice, row, Q(rec.DeviceNo));
  SGData->SetCells(Record::kTester, row, Q(rec.Tester));
  SGData->SetCells(Record::kPlace, row, Q(rec.TestPlace));
  SGData->SetCells(Record::kRange, row, Q(rec.CurrentStep));
  SGData->SetCells(Record::kLoadTime, row, Q(rec.LoadTimeText));
  SGData->SetCells(Record::kPhase, row, Q(rec.Phase));
  SGData->SetCells(Record::kOhmA, row, Q(rec.ResistanceA));
  const bool three = Record::IsThreePhase(Q(rec.Phase));
  SGData->SetCells(Record::kOhmB, row, three ? Q(rec.ResistanceB) : QString());
  SGData->SetCells(Record::kOhmC, row, three ? Q(rec.ResistanceC) : QString());
}

void TFrmMain::BtnSampleDataClick() {
  Guarded([this] {
    TBusyScope busy(this);
    if (!busy) return;
    if (!OpenPortOrWarn()) return;
    auto done = qScopeGuard([this] {
      ProgressBar1->hide();
      ClosePort();
      EnableButtons();
    });
    int count = 0;
    if (!Answered(FLink->Count(count))) {
      MsgBox(this, kCommFailed, TMsgIcon::Warning);
      return;
    }
    ProgressBar1->setRange(0, count > 0 ? count : 1);
    ProgressBar1->setValue(0);
    ProgressBar1->show();
    if (count == 0) {
      MsgBox(this, QStringLiteral("仪器无测试数据！"), TMsgIcon::Warning);
      return;
    }
    SGData->SetRowCount(count + 1);
    for (int r = 1; r <= count; ++r) SGData->ClearRow(r);
    // A new upload is seen from its first record, wherever the view was.
    SGData->scrollToTop();
    Params.giDataCount = 0;
    // The records received go to the history as well, also when the upload
    // stops part-way.
    std::vector<QStringList> received;
    std::vector<TOhms> values;  // the frames' values behind the texts
    auto store = qScopeGuard([&] { StoreUploaded(received, values); });
    TRecvF1 rec;
    for (int b = count; b >= 1; --b) {
      const int r = count - b + 1;
      ProgressBar1->setValue(r);
      if (!Answered(FLink->ReadRecord(static_cast<std::uint8_t>(b - 1), rec))) {
        MsgBox(this, kCommFailed, TMsgIcon::Warning);
        break;
      }
      FillDataRow(r, rec);
      Params.giDataCount = r;
      QStringList row = SGData->RowTexts(r);
      // Phases B and C of a single-phase record are not shown: no value.
      const bool three = Record::IsThreePhase(row.value(Record::kPhase));
      values.push_back(TOhms{double(rec.OhmA), three ? std::optional<double>(rec.OhmB) : std::nullopt,
                             three ? std::optional<double>(rec.OhmC) : std::nullopt});
      received.push_back(std::move(row));
    }
  });
}

void TFrmMain::BtnClearDataClick() {
  Guarded([this] {
    TBusyScope busy(this);
    if (!busy) return;
    if (MsgBox(this, QStringLiteral("您确定要请空历史数据吗？"), TMsgIcon::None, TMsgButtons::YesNo) !=
        TMsgResult::Yes) {
      return;
    }
    if (!OpenPortOrWarn()) return;
    auto close = qScopeGuard([this] { ClosePort(); });
    try {
      FLink->Erase();
    } catch (const std::exception&) {
      MsgBox(this, kCommFailed, TMsgIcon::Warning);
      return;
    }
    // The erase command has no reply.
    SGData->SetRowCount(2);
    SGData->ClearRow(1);
    Params.giDataCount = 0;
    EnableButtons();
    MsgBox(this, QStringLiteral("已清空！"));
  });
}

void TFrmMain::btnMachinePrintClick() {
  Guarded([this] {
    TBusyScope busy(this);
    if (!busy) return;
    if (!OpenPortOrWarn()) return;
    auto close = qScopeGuard([this] { ClosePort(); });
    if (Params.giDataCount < 1) return;
    // A grid always has a current row; without a selection it is row 1.
    int row = SGData->Row();
    if (row < 1) row = 1;
    int number = 0;
    if (!TryStrToInt(SGData->Cells(Record::kNumber, row), number)) {
      MsgBox(this, QStringLiteral("获取仪器测试记录序号出错！"), TMsgIcon::Warning);
      return;
    }
    const auto n = static_cast<std::uint8_t>((SGData->RowCount() - number) & 0xFF);
    auto hide = qScopeGuard([] { HideWait(); });
    ShowWaitOver(this, kPrintingNotice);
    if (!Answered(FLink->Print(n))) MsgBox(this, kCommFailed, TMsgIcon::Warning);
  });
}

void TFrmMain::BtnTestClick() {
  Guarded([this] {
    int stepMode = 0, stepIndex = 0;
    {
      TBusyScope busy(this);
      if (!busy) return;
      if (!OpenPortOrWarn()) return;
      auto end = qScopeGuard([this] {
        FLink->Idle();
        ClosePort();
      });
      if (!Answered(FLink->ReadRange(stepMode, stepIndex))) {
        MsgBox(this, kCommFailed, TMsgIcon::Warning);
        return;
      }
      if ((stepMode != 0 && stepMode != 1) || (stepMode == 1 && stepIndex != 0 && stepIndex != 1)) {
        MsgBox(this, QStringLiteral("读取设备电流档位错误！"), TMsgIcon::Warning);
        return;
      }
    }
    // The dialog is modal, so no other operation of this window can start
    // while it runs; it opens the port again for its own exchanges.
    TFrmTest dlg(TestContext(), this);
    dlg.CBCurrentStep->clear();
    if (stepMode == 0) {
      dlg.CBCurrentStep->addItem(QStringLiteral("100A"));
      dlg.CBCurrentStep->setCurrentIndex(0);
    } else {
      dlg.CBCurrentStep->addItem(QStringLiteral("100A"));
      dlg.CBCurrentStep->addItem(QStringLiteral("200A"));
      dlg.CBCurrentStep->setCurrentIndex(stepIndex);
    }
    dlg.exec();
  });
}

// ---- Tables ---------------------------------------------------------------------------

void TFrmMain::SetupGrids() {
  const QStringList headers = RecordGridHeaders();
  for (int c = 0; c < headers.size(); ++c) {
    SGData->SetCells(c, 0, headers[c]);
    SGSave->SetCells(c, 0, headers[c]);
  }
  for (TStringGrid* g : {SGData, SGSave}) {
    g->SetRowCount(2);
    g->SetColWidths(0, 50);
    g->SetColWidths(1, 120);
    for (int c = 2; c < 11; ++c) g->SetColWidths(c, 95);
  }
}

void TFrmMain::ArchiveResult() {
  TWorkingParams& p = Params;
  ++p.giSaveCount;
  SGSave->SetRowCount(p.giSaveCount + 1);
  const int r = SGSave->RowCount() - 1;
  SGSave->SetCells(Record::kNumber, r, QString::asprintf("%2d", r));
  // One moment for the row's text and the history's finer time.
  const QDateTime now = QDateTime::currentDateTime();
  SGSave->SetCells(Record::kTime, r, DateTimeText(now));
  SGSave->SetCells(Record::kDevice, r, p.strDevice);
  SGSave->SetCells(Record::kTester, r, p.strTestUser);
  SGSave->SetCells(Record::kPlace, r, p.strTestAdd);
  SGSave->SetCells(Record::kRange, r, CurrentStepName(p.iLastCurrentStep));
  SGSave->SetCells(Record::kLoadTime, r, QStringLiteral("%1 秒").arg(p.iLastTestTime));
  SGSave->SetCells(Record::kPhase, r, PhaseName(p.iLastPhase));
  SGSave->SetCells(Record::kOhmA, r, p.strResultA);
  SGSave->SetCells(Record::kOhmB, r, p.strResultB);
  SGSave->SetCells(Record::kOhmC, r, p.strResultC);
  SGSave->SetRow(r);
  StoreArchived(SGSave->RowTexts(r), TStartParams{p.iLastCurrentStep, p.iLastTestTime, p.iLastPhase}, p.gResultOhms,
                now, SeriesText(p.gResultSeries));
}

// ---- Results history ---------------------------------------------------------------

THistoryService& TFrmMain::HistoryService() {
  if (FHistory) return *FHistory;
  FHistory = std::make_unique<THistoryService>(SettingsDir(), [] { return TeamConfigOf(SettingsFile()); });
  // The replication and the check of the file run on threads of their own:
  // what they say reaches the window through its event queue.
  FHistory->OnSyncState = [this](const TSyncState& state) {
    QMetaObject::invokeMethod(this, [this, state] { tsHistory->SetSyncState(state.Text()); }, Qt::QueuedConnection);
  };
  FHistory->OnChecked = [this] {
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (FHistory && FHistory->ApplyCheck()) ShowHistoryDamage();
        },
        Qt::QueuedConnection);
  };
  FHistory->OnPulled = [this](int) {
    QMetaObject::invokeMethod(this, [this] { tsHistory->ResultsArrived(); }, Qt::QueuedConnection);
  };
  return *FHistory;
}

TResultStore* TFrmMain::History() {
  TResultStore* store = HistoryService().Reading();
  if (!FHistory->Damage().isEmpty()) ShowHistoryDamage();
  return store;
}

QString TFrmMain::HistoryError() { return HistoryService().Why(); }

void TFrmMain::ShowHistoryDamage() {
  if (FDamageShown || !FHistory || FHistory->Damage().isEmpty()) return;
  FDamageShown = true;
  const QString fresh = FHistory->FreshFile();
  MsgBoxWithDetail(this, FHistory->Damage(),
                   fresh.isEmpty() ? QString() : QStringLiteral("新的测试结果保存在 %1").arg(fresh), TMsgIcon::Warning);
}

void TFrmMain::StoreInHistory(const std::vector<TNewResult>& results) {
  try {
    HistoryService().Store(results);
  } catch (const EAppError& e) {
    // Every time: each result that is not kept is the operator's to know of.
    MsgBoxWithDetail(this, QStringLiteral("测试结果未能存入历史记录，表格中的数据不受影响。"), e.Text(), TMsgIcon::Warning);
  }
  if (FHistory && !FHistory->Damage().isEmpty()) ShowHistoryDamage();
}

void TFrmMain::StoreUploaded(const std::vector<QStringList>& rows, const std::vector<TOhms>& ohms) {
  if (rows.empty()) return;
  std::vector<TNewResult> results;
  results.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    results.push_back(TNewResult{TResultKind::Uploaded, rows[i], i < ohms.size() ? ohms[i] : TOhms{}, {}, {}});
  }
  StoreInHistory(results);
}

void TFrmMain::StoreArchived(const QStringList& row, const TStartParams& start, const TOhms& ohms,
                             const QDateTime& time, const QString& series) {
  StoreInHistory({TNewResult{TResultKind::Archived, row, ohms, start, time, series}});
}

void TFrmMain::HistorySettingsChanged() { HistoryService().Reconfigure(); }

void TFrmMain::btnClearSaveClick() {
  Guarded([this] {
    SGSave->SetRowCount(2);
    SGSave->ClearRow(1);
    Params.giSaveCount = 0;
  });
}

// ---- Operations of other units, wired in here ---------------------------------------------

void TFrmMain::BtnOpenClick() { DataFiles::BtnOpenClick(this, SGSave, Params.giSaveCount); }
void TFrmMain::btnSaveExcelClick() { DataFiles::btnSaveExcelClick(this, SGSave, Params.giSaveCount); }
void TFrmMain::BtnSaveClick() { DataFiles::BtnSaveClick(this, SGData, Params.giDataCount); }
void TFrmMain::btnPrintSaveClick() { PrintSaveGrid(this, *SGSave, Params.giSaveCount); }
void TFrmMain::BtnPrintClick() { PrintDataGrid(this, *SGData, Params.giDataCount); }
void TFrmMain::BtnSetCommClick() {
  TFrmSetComm::Execute(Params, this);
  ShowPortInUse();
}
void TFrmMain::btnOtherSettingClick() { TfrmOtherSetting::ShowNew(this); }
void TFrmMain::BtnSeriesClick() {
  // The serial-number dialog talks to the instrument over the same line with
  // a transaction of its own; like an instrument operation it does not start
  // while an exchange of this window waits.
  if (FBusy) return;
  TFrmSeries::Execute(TCommSettings{Params.giCommStyle, Params.giCommPort, Params.giBaudRate, &Params.giUsbHandle},
                      this);
}
void TFrmMain::CreateReport() { ::CreateReport(); }
void TFrmMain::FreeReport() { ::FreeReport(); }
