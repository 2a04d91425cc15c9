#include "forms/UDlgPreview.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/MessageService.h"
#include "platform/WindowPlacement.h"
#include "report/ReportEngine.h"
#include "report/ReportPreview.h"

namespace {

// Pictures of the toolbar buttons, in button order.
enum TToolPicture {
  tpZoomFit, tpZoom100, tpZoomWidth, tpFirst, tpPrior, tpNext, tpLast, tpPrinterSetup, tpPrinter,
  tpExit
};

constexpr int kIconSize = 20;

void DrawSheet(QPainter& p, const QRectF& r) {
  p.setPen(QPen(QColor(60, 60, 60), 1.0));
  p.setBrush(Qt::white);
  p.drawRect(r);
  p.setPen(QPen(QColor(150, 150, 150), 1.0));
  for (double y = r.top() + 3; y < r.bottom() - 1; y += 2.5) {
    p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
  }
}

void DrawLens(QPainter& p, const QPointF& c, double radius) {
  p.setPen(QPen(QColor(40, 40, 40), 1.6));
  p.setBrush(QColor(200, 225, 255, 220));
  p.drawEllipse(c, radius, radius);
  p.setPen(QPen(QColor(120, 80, 30), 2.6, Qt::SolidLine, Qt::RoundCap));
  const double d = radius * 0.72;
  p.drawLine(QPointF(c.x() + d, c.y() + d), QPointF(c.x() + d + 4.5, c.y() + d + 4.5));
}

void DrawArrow(QPainter& p, bool left, double x, bool bar) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(30, 90, 170));
  QPainterPath path;
  if (left) {
    path.moveTo(x, 10);
    path.lineTo(x + 7, 4);
    path.lineTo(x + 7, 16);
  } else {
    path.moveTo(x + 7, 10);
    path.lineTo(x, 4);
    path.lineTo(x, 16);
  }
  path.closeSubpath();
  p.drawPath(path);
  if (bar) p.drawRect(QRectF(left ? x - 3 : x + 8, 4, 2, 12));
}

void DrawPrinter(QPainter& p) {
  p.setPen(QPen(QColor(50, 50, 50), 1.0));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(5.5, 2.5, 9, 6));  // paper in
  p.setBrush(QColor(170, 170, 175));
  p.drawRoundedRect(QRectF(2.5, 7.5, 15, 7), 1.5, 1.5);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(5.5, 12.5, 9, 5));  // paper out
  p.setPen(QPen(QColor(40, 160, 60), 1.2));
  p.drawPoint(QPointF(15, 9.5));
}

QIcon ToolIcon(TToolPicture picture) {
  QPixmap pm(kIconSize, kIconSize);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  switch (picture) {
    case tpZoomFit:
      DrawSheet(p, QRectF(2.5, 1.5, 11, 15));
      DrawLens(p, QPointF(12, 11), 4);
      break;
    case tpZoom100: {
      DrawLens(p, QPointF(8.5, 8.5), 6.5);
      QFont f;
      f.setPixelSize(7);
      f.setBold(true);
      p.setFont(f);
      p.setPen(QColor(20, 20, 20));
      p.drawText(QRectF(2, 4, 13, 9), Qt::AlignCenter, QStringLiteral("1:1"));
      break;
    }
    case tpZoomWidth:
      DrawSheet(p, QRectF(3.5, 1.5, 13, 17));
      p.setPen(QPen(QColor(200, 40, 40), 1.6));
      p.drawLine(QPointF(1, 10), QPointF(19, 10));
      p.drawLine(QPointF(1, 10), QPointF(4, 7));
      p.drawLine(QPointF(1, 10), QPointF(4, 13));
      p.drawLine(QPointF(19, 10), QPointF(16, 7));
      p.drawLine(QPointF(19, 10), QPointF(16, 13));
      break;
    case tpFirst: DrawArrow(p, true, 8, true); break;
    case tpPrior: DrawArrow(p, true, 6.5, false); break;
    case tpNext: DrawArrow(p, false, 6.5, false); break;
    case tpLast: DrawArrow(p, false, 5, true); break;
    case tpPrinterSetup:
      DrawPrinter(p);
      p.setPen(QPen(QColor(40, 40, 40), 1.0));
      p.setBrush(QColor(240, 200, 60));
      p.drawEllipse(QPointF(15.5, 15.5), 3.5, 3.5);
      p.setBrush(QColor(80, 80, 80));
      p.drawEllipse(QPointF(15.5, 15.5), 1.2, 1.2);
      break;
    case tpPrinter: DrawPrinter(p); break;
    case tpExit:
      p.setPen(QPen(QColor(90, 60, 30), 1.0));
      p.setBrush(QColor(190, 140, 80));
      p.drawRect(QRectF(3.5, 2.5, 9, 15));
      p.setBrush(QColor(60, 40, 20));
      p.drawEllipse(QPointF(10.5, 10), 0.9, 0.9);
      p.setPen(QPen(QColor(200, 30, 30), 2.0, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(11, 10), QPointF(18.5, 10));
      p.drawLine(QPointF(18.5, 10), QPointF(15.5, 7));
      p.drawLine(QPointF(18.5, 10), QPointF(15.5, 13));
      break;
  }
  p.end();
  return QIcon(pm);
}

}  // namespace

TFrmPreview::TFrmPreview(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("FrmPreview"));
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(ReportFont(QStringLiteral("宋体"), 9));
  setMinimumSize(200, 100);
  resize(561, 408);
  CentreFrameOnScreen(this);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  palClient = new QFrame(this);
  palClient->setObjectName(QStringLiteral("palClient"));
  palClient->setFrameShape(QFrame::NoFrame);
  palClient->setAutoFillBackground(true);
  QPalette pal = palClient->palette();
  pal.setColor(QPalette::Window, QColor(207, 207, 207));
  palClient->setPalette(pal);
  outer->addWidget(palClient);

  auto* column = new QVBoxLayout(palClient);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  CoolBar1 = new QFrame(palClient);
  CoolBar1->setObjectName(QStringLiteral("CoolBar1"));
  CoolBar1->setFrameShape(QFrame::StyledPanel);
  CoolBar1->setMinimumHeight(22);
  CoolBar1->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  auto* band = new QHBoxLayout(CoolBar1);
  band->setContentsMargins(2, 1, 2, 1);
  ToolBar1 = new QToolBar(CoolBar1);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(kIconSize, kIconSize));
  ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
  band->addWidget(ToolBar1);
  band->addStretch(1);
  column->addWidget(CoolBar1);

  auto button = [this](const char* name, const QString& hint, TToolPicture picture, bool toggle,
                       void (TFrmPreview::*handler)()) {
    auto* b = new QToolButton(ToolBar1);
    b->setObjectName(QLatin1String(name));
    b->setAutoRaise(true);
    b->setIcon(ToolIcon(picture));
    b->setText(hint);
    b->setToolTip(hint);
    b->setStatusTip(hint);
    b->setCheckable(toggle);
    ToolBar1->addWidget(b);
    connect(b, &QToolButton::clicked, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
    return b;
  };
  tbZToFit = button("tbZToFit", QStringLiteral("整张纸缩微显示"), tpZoomFit, true,
                    &TFrmPreview::tbZToFitClick);
  tb100 = button("tb100", QStringLiteral("100%显示"), tpZoom100, true, &TFrmPreview::tb100Click);
  tbZToWidth = button("tbZToWidth", QStringLiteral("调整为宽度适合"), tpZoomWidth, true,
                      &TFrmPreview::tbZToWidthClick);
  ToolBar1->addSeparator();
  tbFirst = button("tbFirst", QStringLiteral("第一页"), tpFirst, false, &TFrmPreview::tbFirstClick);
  tbPrior = button("tbPrior", QStringLiteral("上一页"), tpPrior, false, &TFrmPreview::tbPriorClick);
  tbNext = button("tbNext", QStringLiteral("下一页"), tpNext, false, &TFrmPreview::tbNextClick);
  tbLast = button("tbLast", QStringLiteral("最后一页"), tpLast, false, &TFrmPreview::tbLastClick);
  ToolBar1->addSeparator();
  tbPrinterSetup = button("tbPrinterSetup", QStringLiteral("打印机设置"), tpPrinterSetup, false,
                          &TFrmPreview::tbPrinterSetupClick);
  tbPrinter = button("tbPrinter", QStringLiteral("打印"), tpPrinter, false, &TFrmPreview::tbPrinterClick);
  ToolBar1->addSeparator();
  tbExit = button("tbExit", QStringLiteral("退出预览"), tpExit, false, &TFrmPreview::tbExitClick);

  FZoomGroup = new QButtonGroup(this);
  FZoomGroup->setExclusive(true);
  FZoomGroup->addButton(tbZToFit);
  FZoomGroup->addButton(tb100);
  FZoomGroup->addButton(tbZToWidth);
  // Opens at 100 % with the width button shown pressed.
  tbZToWidth->setChecked(true);

  QRPreview1 = new TQRPreview(palClient);
  QRPreview1->setObjectName(QStringLiteral("QRPreview1"));
  column->addWidget(QRPreview1, 1);
  connect(QRPreview1, &TQRPreview::PageAvailable, this,
          [this](int page) { Guarded([&] { QRPreview1PageAvailable(page); }); });
  // Scrolling to another page keeps the label true.
  connect(QRPreview1, &TQRPreview::PageChanged, this, [this](int) { Guarded([this] { UpdatePageLabel(); }); });

  StatusBar1 = new QStatusBar(palClient);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  FPagePanel = new QLabel(StatusBar1);
  FPagePanel->setObjectName(QStringLiteral("StatusBar1Panel"));
  StatusBar1->addWidget(FPagePanel, 1);
  column->addWidget(StatusBar1);
}

TFrmPreview::~TFrmPreview() = default;

void TFrmPreview::SetTitle(const QString& text) {
  setWindowTitle(text);
  setWindowState(windowState() | Qt::WindowMaximized);
}

void TFrmPreview::UpdatePageLabel() {
  if (PageCount <= 0) {
    FPagePanel->clear();
    return;
  }
  FPagePanel->setText(
      QStringLiteral(" 第 %1 页   总 %2 页").arg(QRPreview1->PageNumber()).arg(PageCount));
}

QString TFrmPreview::PageLabel() const { return FPagePanel->text(); }

void TFrmPreview::QRPreview1PageAvailable(int pageNum) {
  PageCount = pageNum;
  // A long report reports thousands of pages at once: the label is written
  // for the last of them.
  if (pageNum >= QRPreview1->PageCount()) UpdatePageLabel();
}

void TFrmPreview::GoToPage(int page) {
  QRPreview1->SetPageNumber(page);
  UpdatePageLabel();
}

void TFrmPreview::tbZToFitClick() { QRPreview1->ZoomToFit(); }

void TFrmPreview::tb100Click() { QRPreview1->SetZoom(100); }

void TFrmPreview::tbZToWidthClick() { QRPreview1->ZoomToWidth(); }

void TFrmPreview::tbFirstClick() { GoToPage(1); }

void TFrmPreview::tbPriorClick() {
  int page = QRPreview1->PageNumber() - 1;
  if (page < 1) page = 1;
  GoToPage(page);
}

void TFrmPreview::tbNextClick() {
  int page = QRPreview1->PageNumber() + 1;
  if (page > PageCount) page = PageCount;
  GoToPage(page);
}

void TFrmPreview::tbLastClick() { GoToPage(PageCount); }

void TFrmPreview::tbPrinterSetupClick() {
  TQRPrinter* printer = QRPreview1->QRPrinter();
  if (!printer) return;
  QPointer<TFrmPreview> self(this);
  printer->PrinterSetup(this);
  if (self) UpdatePageLabel();
}

void TFrmPreview::tbPrinterClick() {
  TQRPrinter* printer = QRPreview1->QRPrinter();
  if (!printer) return;
  printer->Print(this);
}

void TFrmPreview::tbExitClick() { close(); }

void TFrmPreview::closeEvent(QCloseEvent* event) {
  Report = nullptr;
  // The engine's preview call returns once no control shows the pages.
  QRPreview1->SetQRPrinter(nullptr);
  event->accept();
}

void OpenPreviewWindow(TQuickRep* report, TQRPrinter& printer) {
  auto* window = new TFrmPreview();  // top-level, released when closed
  window->QRPreview1->SetQRPrinter(&printer);
  window->Report = report;
  window->SetTitle(printer.Title());
  window->show();
}
