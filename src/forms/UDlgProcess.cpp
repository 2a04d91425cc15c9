#include "forms/UDlgProcess.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cmath>

#include "data/UDataCenter.h"
#include "platform/Fonts.h"
#include "platform/MessageService.h"
#include "platform/ProgressService.h"
#include "platform/WindowPlacement.h"

namespace {

constexpr int kFrameSize = 32;

QFont DialogFont() { return PointFont(QStringLiteral("MS Sans Serif"), 8); }

// One picture of the busy animation: a small drum and a stick. strike is the
// stick's angle above the drum head in degrees; hit adds the sound marks.
QPixmap DrumFrame(double strike, bool hit) {
  QPixmap pm(kFrameSize, kFrameSize);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);

  const QRectF head(5, 13, 20, 7);
  const QRectF bottom(5, 24, 20, 7);
  // body
  QPainterPath body;
  body.moveTo(head.left(), head.center().y());
  body.lineTo(bottom.left(), bottom.center().y());
  body.arcTo(bottom, 180, 180);
  body.lineTo(head.right(), head.center().y());
  body.closeSubpath();
  p.setPen(QPen(QColor(90, 20, 10), 1));
  p.setBrush(QColor(200, 40, 30));
  p.drawPath(body);
  // lacing on the body
  p.setPen(QPen(QColor(240, 200, 80), 1));
  for (int i = 0; i < 3; ++i) {
    const double x0 = 7 + i * 6;
    p.drawLine(QPointF(x0, 18), QPointF(x0 + 4, 27));
    p.drawLine(QPointF(x0 + 4, 18), QPointF(x0, 27));
  }
  // head with its golden rim
  p.setPen(QPen(QColor(200, 150, 40), 1.5));
  p.setBrush(hit ? QColor(255, 245, 200) : QColor(240, 225, 180));
  p.drawEllipse(head);

  // stick from the hand (upper right) towards the head
  const QPointF tip(17, 15);
  const double a = strike * M_PI / 180.0;
  const QPointF hand(tip.x() + 13 * std::cos(a), tip.y() - 13 * std::sin(a));
  p.setPen(QPen(QColor(120, 70, 20), 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(hand, tip);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(120, 70, 20));
  p.drawEllipse(tip, 1.8, 1.8);

  if (hit) {
    p.setPen(QPen(QColor(30, 30, 160), 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3, 10), QPointF(1, 6));
    p.drawLine(QPointF(7, 8), QPointF(6, 3));
    p.drawLine(QPointF(11, 8), QPointF(12, 3));
  }
  return pm;
}

}  // namespace

QList<QPixmap> TFrmProcess::DrawFrames() {
  // raised, coming down, striking, springing back
  return {DrumFrame(70, false), DrumFrame(40, false), DrumFrame(8, true), DrumFrame(30, false)};
}

TFrmProcess::TFrmProcess(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), FFrames(DrawFrames()) {
  setObjectName(QStringLiteral("FrmProcess"));
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  setFont(DialogFont());
  setFixedSize(298, 167);

  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setGeometry(0, 0, 298, 167);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setCursor(Qt::WaitCursor);

  auto bar = [this](const char* name, int left) {
    auto* pb = new QProgressBar(Panel1);
    pb->setObjectName(QLatin1String(name));
    pb->setOrientation(Qt::Vertical);
    pb->setTextVisible(false);
    pb->setGeometry(left, 21, 17, 76);
    pb->setCursor(Qt::WaitCursor);
    return pb;
  };
  PBCount = bar("PBCount", 18);
  PBProcess = bar("PBProcess", 50);

  Image1 = new QLabel(Panel1);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(140, 36, 32, 32);
  Image1->setAlignment(Qt::AlignCenter);
  Image1->setCursor(Qt::WaitCursor);

  lblTip = new QLabel(QStringLiteral("系统正在检测数据，请稍候 ..."), Panel1);
  lblTip->setObjectName(QStringLiteral("lblTip"));
  lblTip->setGeometry(90, 84, 199, 13);
  lblTip->setFixedSize(199, 13);

  BtnCancel = new QPushButton(QStringLiteral("取消"), Panel1);
  BtnCancel->setObjectName(QStringLiteral("BtnCancel"));
  BtnCancel->setGeometry(104, 124, 75, 25);
  BtnCancel->setCursor(Qt::PointingHandCursor);
  BtnCancel->setAutoDefault(false);
  connect(BtnCancel, &QPushButton::clicked, this, [this] { Guarded([this] { BtnCancelClick(); }); });

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(100);
  connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); });

  FFrameIndex = 1;
  FCancelled = false;
  ShowFrame(FFrameIndex);
  Timer1->start();

  // Centred over the owner's window, or the screen.
  CentreFrameOnOwnerOrScreen(this, owner);
}

TFrmProcess::~TFrmProcess() = default;

void TFrmProcess::SetCountRange(int min, int max) {
  PBCount->setMaximum(max);
  PBCount->setMinimum(min);
  PBCount->setValue(min);
}

void TFrmProcess::SetProcessRange(int min, int max) {
  PBProcess->setMaximum(max);
  PBProcess->setMinimum(min);
  PBProcess->setValue(min);
}

void TFrmProcess::SetPositions(int count, int process) {
  PBCount->setValue(count);
  PBProcess->setValue(process);
}

void TFrmProcess::SetTip(const QString& text) { lblTip->setText(text); }

void TFrmProcess::ShowFrame(int n) {
  int i = n - 1;
  if (i < 0) i = 0;
  if (i > 3) i = 3;
  FImageIndex = i;
  Image1->setPixmap(FFrames.value(i));
  Image1->repaint();
}

void TFrmProcess::Timer1Timer() {
  ++FFrameIndex;
  if (FFrameIndex > 4) FFrameIndex = 1;
  ShowFrame(FFrameIndex);
}

void TFrmProcess::BtnCancelClick() { FCancelled = true; }

void TFrmProcess::Release() {
  FReleasing = true;
  Timer1->stop();
  close();
}

void TFrmProcess::closeEvent(QCloseEvent* e) {
  if (FReleasing) {
    QDialog::closeEvent(e);
    return;
  }
  e->ignore();
}

void TFrmProcess::reject() {
  if (FReleasing) {
    QDialog::reject();
    return;
  }
  BtnCancel->click();
}

bool UpdateProgress(const QPointer<TFrmProcess>& dlg, int count, int process) {
  if (!dlg) return false;
  dlg->SetPositions(count, process);
  dlg->show();
  dlg->repaint();
  Delay(10);
  return dlg ? dlg->Cancelled() : false;
}

void CloseProgress(QPointer<TFrmProcess>& dlg) {
  if (dlg) dlg->Release();
  dlg = nullptr;
}

namespace {

class TProgressDialogWindow : public IProgressWindow {
 public:
  TProgressDialogWindow(QWidget* owner, const QString& tip) : FDlg(new TFrmProcess(owner)) {
    FDlg->SetTip(tip);
    FDlg->SetCountRange(1, 2);
    FDlg->SetProcessRange(1, 3);
    FDlg->show();
  }
  ~TProgressDialogWindow() override { CloseProgress(FDlg); }
  bool Update(int count, int process) override { return UpdateProgress(FDlg, count, process); }
  void Close() override { CloseProgress(FDlg); }

 private:
  QPointer<TFrmProcess> FDlg;
};

}  // namespace

std::unique_ptr<IProgressWindow> OpenProgressDialog(QWidget* owner, const QString& tip) {
  return std::make_unique<TProgressDialogWindow>(owner, tip);
}

void InstallProgressDialog() { SetProgressFactory(&OpenProgressDialog); }
