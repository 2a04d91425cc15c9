#include "forms/uWaitForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>

#include <cmath>

#include "platform/EventPump.h"
#include "platform/Fonts.h"
#include "platform/WindowPlacement.h"

QFont SongFont(int pixelHeight) { return PixelFont(QStringLiteral("宋体"), pixelHeight); }

int RoundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }

namespace {

QPointer<TfrmWait> gWait;

const QColor kNavy(0, 0, 128);

// An hourglass of 32 x 32 pixels. level 0..3 is the animation frame (sand
// running from the upper bulb into the lower one); -1 is the resting picture
// with all sand above and no stream.
QPixmap Hourglass(int level) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QPolygonF upper({QPointF(7, 4), QPointF(25, 4), QPointF(16, 16)});
  const QPolygonF lower({QPointF(16, 16), QPointF(7, 28), QPointF(25, 28)});
  QPainterPath upperPath, lowerPath;
  upperPath.addPolygon(upper);
  upperPath.closeSubpath();
  lowerPath.addPolygon(lower);
  lowerPath.closeSubpath();
  p.fillPath(upperPath, QColor(225, 240, 255));
  p.fillPath(lowerPath, QColor(225, 240, 255));
  // Sand: the share above shrinks from full to empty over the four frames.
  const double above = level < 0 ? 1.0 : 1.0 - level / 3.0;
  const QColor sand(214, 160, 40);
  if (above > 0) {
    QPainterPath cut;
    const double top = 16 - 11 * above;  // sand sits in the narrow part
    cut.addRect(QRectF(0, top, 32, 16 - top));
    p.fillPath(upperPath.intersected(cut), sand);
  }
  if (above < 1) {
    QPainterPath cut;
    const double top = 28 - 11 * (1 - above);
    cut.addRect(QRectF(0, top, 32, 28 - top + 1));
    p.fillPath(lowerPath.intersected(cut), sand);
  }
  if (level >= 0 && level < 3) {
    p.setPen(QPen(sand, 1.5));
    p.drawLine(QPointF(16, 15), QPointF(16, 27));
  }
  p.setPen(QPen(kNavy, 1.2));
  p.setBrush(Qt::NoBrush);
  p.drawPath(upperPath);
  p.drawPath(lowerPath);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(120, 70, 30));
  p.drawRoundedRect(QRectF(4, 1, 24, 3), 1, 1);
  p.drawRoundedRect(QRectF(4, 28, 24, 3), 1, 1);
  return pm;
}

QWidget* MainWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QLatin1String("FrmMain")) return w;
  }
  return nullptr;
}

}  // namespace

TfrmWait::TfrmWait(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("frmWait"));
  setWindowTitle(QStringLiteral("提示信息"));
  // The window that started the operation keeps the keyboard.
  setAttribute(Qt::WA_ShowWithoutActivating);
  QFont f = SongFont(15);
  setFont(f);
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, kNavy);
  setPalette(pal);
  setFixedSize(336, 51);

  pnlTitle = new QFrame(this);
  pnlTitle->setObjectName(QStringLiteral("pnlTitle"));
  pnlTitle->setFrameStyle(QFrame::Panel | QFrame::Raised);
  pnlTitle->setGeometry(0, 0, 336, 51);

  lblMessage = new QLabel(pnlTitle);
  lblMessage->setObjectName(QStringLiteral("lblMessage"));
  lblMessage->setFont(SongFont(13));
  lblMessage->setPalette(pal);
  lblMessage->setGeometry(72, 16, 217, 20);
  lblMessage->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  for (int i = 0; i < 4; ++i) ImageList1[i] = Hourglass(i);
  DesignPicture = Hourglass(-1);

  Image1 = new QLabel(pnlTitle);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(36, 11, 32, 32);
  Image1->setAlignment(Qt::AlignCenter);
  Image1->setCursor(Qt::WaitCursor);
  Image1->setPixmap(DesignPicture);

  tmr = new QTimer(this);
  tmr->setObjectName(QStringLiteral("tmr"));
  tmr->setInterval(200);
  connect(tmr, &QTimer::timeout, this, &TfrmWait::tmrTimer);
  tmr->start();
}

void TfrmWait::tmrTimer() {
  ++FStep;
  if (FStep > 4) FStep = 1;
  ShowStep(FStep);
}

void TfrmWait::ShowStep(int step) {
  int i = step - 1;
  if (i < 0) i = 0;
  if (i > 3) i = 3;
  Image1->setPixmap(ImageList1[i]);
  FShownFrame = i;
  Image1->repaint();
}

void TfrmWait::closeEvent(QCloseEvent* event) {
  tmr->stop();
  hide();
  event->ignore();  // hidden, not destroyed
}

void TfrmWait::keyPressEvent(QKeyEvent* event) {
  // No key closes the notice; only the operation that showed it removes it.
  event->accept();
}

void TfrmWait::resizeEvent(QResizeEvent*) { pnlTitle->setGeometry(rect()); }

void ShowWait(const QString& message, int positionMode, int top, int centreX) {
  if (!gWait) gWait = new TfrmWait(nullptr);
  TfrmWait* w = gWait;
  w->lblMessage->setText(message);
  int width = w->lblMessage->width() + 60;
  if (width < 400) width = 400;
  w->setFixedSize(width, w->height());
  w->pnlTitle->setGeometry(0, 0, width, w->height());
  w->lblMessage->move((w->pnlTitle->width() - w->lblMessage->width()) / 2, w->lblMessage->y());
  if (positionMode == kPosDesigned) {
    w->move(centreX - RoundHalfEven(width / 2.0), top);
  } else {
    QWidget* over = positionMode == kPosScreenCenter || positionMode == kPosDesktopCenter ? nullptr : MainWindow();
    CentreFrameOnOwnerOrScreen(w, over);
  }
  w->show();
  w->raise();
  if (!w->tmr->isActive()) w->tmr->start();
  ProcessPendingEvents();
}

void HideWait() {
  if (!gWait) return;
  TfrmWait* w = gWait;
  gWait = nullptr;
  w->tmr->stop();
  delete w;
}

TfrmWait* CurrentWait() { return gWait; }

void StandardWaitPlace(const QWidget* owner, int& top, int& centreX) {
  const QRect r = owner->frameGeometry();
  top = r.top() + RoundHalfEven(r.height() / 4.0 * 2.5);
  centreX = r.left() + RoundHalfEven(r.width() / 2.0);
}

void ShowWaitOver(const QWidget* owner, const QString& message) {
  int top = 0, centreX = 0;
  StandardWaitPlace(owner, top, centreX);
  ShowWait(message, kPosDesigned, top, centreX);
}
