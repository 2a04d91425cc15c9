#include "forms/UDlgSetComm.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStringList>

#include <memory>

#include "data/UDataCenter.h"
#include "forms/UDlgChooseDevice.h"
#include "platform/IniFile.h"
#include "platform/MessageService.h"
#include "platform/PortNames.h"
#include "platform/WindowPlacement.h"

namespace {

// The lists and buttons of the settings keep their places; the device the
// port resolves to and "选择设备…" stand to the right of the port list.
constexpr int kClientWidth = 479;
constexpr int kClientHeight = 187;

QComboBox* DropDownList(QWidget* parent, const char* name, int left, int top, int width) {
  auto* cb = new QComboBox(parent);
  cb->setObjectName(QLatin1String(name));
  cb->setEditable(false);
  cb->move(left, top);
  cb->resize(width, cb->sizeHint().height());
  return cb;
}

QLabel* Label(QWidget* parent, const char* name, const QString& text, int left, int top) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QLatin1String(name));
  l->move(left, top);
  return l;
}

QFrame* Panel(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* p = new QFrame(parent);
  p->setObjectName(QLatin1String(name));
  p->setFrameShape(QFrame::Panel);
  p->setFrameShadow(QFrame::Raised);
  p->setAutoFillBackground(true);  // covers what lies behind it
  p->setGeometry(left, top, width, height);
  return p;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& text, int left, int top) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  b->setGeometry(left, top, 75, 25);
  b->setCursor(Qt::PointingHandCursor);
  return b;
}

}  // namespace

TFrmSetComm::TFrmSetComm(TWorkingParams& params, QWidget* parent) : QDialog(parent), FParams(params) {
  setObjectName(QStringLiteral("FrmSetComm"));
  setWindowTitle(QStringLiteral("通讯设置"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  resize(kClientWidth, kClientHeight);

  // The transport panel first, so that PanComm lies in front of it.
  PanCommStyle = Panel(this, "PanCommStyle", 24, 8, 185, 41);
  lblCommStyle = Label(PanCommStyle, "lblCommStyle", QStringLiteral("通讯方式："), 8, 16);
  cbCommStyle = DropDownList(PanCommStyle, "cbCommStyle", 72, 12, 89);
  cbCommStyle->addItems({QStringLiteral("USB"), QStringLiteral("串口")});

  PanComm = Panel(this, "PanComm", 24, 8, 185, 113);
  lblcommPort = Label(PanComm, "lblcommPort", QStringLiteral("串口："), 10, 26);
  lblcommPort->setFixedWidth(55);
  cbCommPort = DropDownList(PanComm, "cbCommPort", 72, 22, 89);
  lblBaudRate = Label(PanComm, "lblBaudRate", QStringLiteral("波特率："), 10, 66);
  lblBaudRate->setFixedWidth(55);
  cbrate = DropDownList(PanComm, "cbrate", 72, 62, 89);
  for (const std::int32_t rate : kBaudRates) cbrate->addItem(QString::number(rate));
  PanComm->raise();

  lblDevice = Label(this, "lblDevice", QString(), 220, 34);
  lblDevice->setFixedWidth(250);
  BtnChooseDevice = Button(this, "BtnChooseDevice", QStringLiteral("选择设备…"), 220, 66);
  BtnChooseDevice->setFixedWidth(100);

  BtnOK = Button(this, "BtnOK", QStringLiteral("OK"), 40, 135);
  BtnOK->setDefault(true);
  BtnCancel = Button(this, "BtnCancel", QStringLiteral("退出"), 126, 135);
  BtnCancel->setAutoDefault(false);

  // The covered transport list comes first and has the focus at opening.
  setTabOrder(cbCommStyle, cbCommPort);
  setTabOrder(cbCommPort, cbrate);
  setTabOrder(cbrate, BtnOK);
  setTabOrder(BtnOK, BtnCancel);
  setTabOrder(BtnCancel, BtnChooseDevice);

  connect(cbCommStyle, qOverload<int>(&QComboBox::currentIndexChanged), this,
          [this](int) { Guarded([this] { cbCommStyleChange(); }); });
  connect(BtnOK, &QPushButton::clicked, this, [this] {
    Guarded([this] { BtnOKClick(); });
    accept();
  });
  connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(cbCommPort, qOverload<int>(&QComboBox::currentIndexChanged), this,
          [this](int) { Guarded([this] { ShowDevice(); }); });
  connect(BtnChooseDevice, &QPushButton::clicked, this, [this] { Guarded([this] { BtnChooseDeviceClick(); }); });

  Guarded([this] { FormCreate(); });
  cbCommStyle->setFocus(Qt::OtherFocusReason);
}

void TFrmSetComm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Centred on the main window, title bars included.
  if (!FPlaced) {
    FPlaced = true;
    CentreFrameOnOwner(this, parentWidget());
  }
}

void TFrmSetComm::Execute(TWorkingParams& params, QWidget* parent) {
  auto dlg = std::make_unique<TFrmSetComm>(params, parent);
  dlg->exec();
}

// An index outside the list leaves it without a selection.
static void SelectIndex(QComboBox* cb, qint64 index) {
  cb->setCurrentIndex(index >= 0 && index < cb->count() ? static_cast<int>(index) : -1);
}

void TFrmSetComm::FormCreate() {
  SelectIndex(cbCommStyle, FParams.giCommStyle);
  cbCommPort->clear();
  for (int n = 1; n <= 16; ++n) cbCommPort->addItem(QStringLiteral("COM%1").arg(n));
  SelectIndex(cbCommPort, qint64(FParams.giCommPort) - 1);
  SelectIndex(cbrate, qint64(FParams.giBaudRate) - 1);
  cbCommStyleChange();
}

void TFrmSetComm::cbCommStyleChange() {
  const bool serial = cbCommStyle->currentIndex() != 0;
  cbCommPort->setEnabled(serial);
  cbrate->setEnabled(serial);
  lblcommPort->setEnabled(serial);
  lblBaudRate->setEnabled(serial);
  BtnChooseDevice->setEnabled(serial);
  ShowDevice();
}

QString TFrmSetComm::DeviceOf(const QString& portName) const {
  const auto it = FMapped.constFind(portName);
  return it != FMapped.cend() ? *it : ResolvePortDevice(portName, SettingsFileName());
}

void TFrmSetComm::ShowDevice() {
  const QString port = cbCommPort->currentText();
  if (port.isEmpty()) {
    lblDevice->clear();
    return;
  }
  const QString device = DeviceOf(port);
  const QString real = QFileInfo(device).canonicalFilePath();
  QString text = QStringLiteral("→ %1").arg(device);
  if (!real.isEmpty() && real != device) text += QStringLiteral("（%1）").arg(real);
  if (real.isEmpty()) text += QStringLiteral("（不存在）");
  lblDevice->setToolTip(text);
  lblDevice->setText(lblDevice->fontMetrics().elidedText(text, Qt::ElideMiddle, lblDevice->width()));
}

void TFrmSetComm::BtnChooseDeviceClick() {
  const QString port = cbCommPort->currentText();
  if (port.isEmpty()) return;
  const QString chosen = TFrmChooseDevice::Choose(this, DeviceOf(port));
  if (chosen.isEmpty()) return;
  FMapped.insert(port, chosen);
  ShowDevice();
}

void TFrmSetComm::BtnOKClick() {
  FParams.giCommStyle = 1;
  FParams.giCommPort = cbCommPort->currentIndex() + 1;
  FParams.giBaudRate = cbrate->currentIndex() + 1;
  if (FMapped.isEmpty()) return;
  TIniFile& ini = SettingsFile();
  for (auto it = FMapped.cbegin(); it != FMapped.cend(); ++it) ini.WriteString(QStringLiteral("Ports"), it.key(), *it);
}
