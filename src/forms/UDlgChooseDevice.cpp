#include "forms/UDlgChooseDevice.h"

#include <QCompleter>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>

#include "data/UDataCenter.h"
#include "platform/IniFile.h"
#include "platform/MessageService.h"
#include "platform/PortDiagnosis.h"
#include "platform/PortNames.h"

namespace {

// The system's serial devices, then the devices the settings already map a
// port to that the system does not list (a pseudo-terminal of the simulator,
// a serial bridge), when they exist.
std::vector<TSerialDevice> ListedDevices() {
  std::vector<TSerialDevice> out = SerialDevices();
  TIniFile& ini = SettingsFile();
  for (const QString& key : ini.ReadSectionKeys(QStringLiteral("Ports"))) {
    const QString device = ResolvePortDevice(key, ini);
    const QString real = QFileInfo(device).canonicalFilePath();
    if (real.isEmpty()) continue;
    bool listed = false;
    for (const TSerialDevice& d : out) {
      listed = listed || d.path == device || d.stableName == device || d.path == real;
    }
    if (!listed) out.push_back(TSerialDevice{device, QString(), QStringLiteral("设置文件中%1的设备").arg(key), QString(), QString()});
  }
  return out;
}

}  // namespace

TFrmChooseDevice::TFrmChooseDevice(const QString& current, QWidget* parent)
    : QDialog(parent), FDevices(ListedDevices()) {
  setObjectName(QStringLiteral("FrmChooseDevice"));
  setWindowTitle(QStringLiteral("选择设备"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  lvDevices = new QTreeWidget(this);
  lvDevices->setObjectName(QStringLiteral("lvDevices"));
  lvDevices->setRootIsDecorated(false);
  lvDevices->setHeaderLabels(
      {QStringLiteral("设备"), QStringLiteral("说明"), QStringLiteral("序列号"), QStringLiteral("固定名称")});
  const QString currentReal = QFileInfo(current).canonicalFilePath();
  for (const TSerialDevice& d : FDevices) {
    QString what = d.description;
    if (!d.manufacturer.isEmpty() && !what.contains(d.manufacturer)) what = d.manufacturer + u' ' + what;
    auto* item = new QTreeWidgetItem(lvDevices, {d.path, what.trimmed(), d.serialNumber, d.stableName});
    if (d.MappingName() == current || (!currentReal.isEmpty() && d.path == currentReal)) {
      lvDevices->setCurrentItem(item);
    }
  }
  for (int c = 0; c < 4; ++c) lvDevices->resizeColumnToContents(c);
  lvDevices->setMinimumSize(560, 180);

  lblHint = new QLabel(this);
  lblHint->setObjectName(QStringLiteral("lblHint"));
  lblHint->setWordWrap(true);
  lblHint->setText(FDevices.empty() ? QStringLiteral("没有找到串口设备。请插好仪器的连线后重新打开本窗口。")
                                    : QStringLiteral("选择仪器所接的设备。有固定名称的设备按固定名称保存，"
                                                     "重新插拔后仍能找到。"));

  BtnOK = new QPushButton(QStringLiteral("确定"), this);
  BtnOK->setObjectName(QStringLiteral("BtnOK"));
  BtnOK->setDefault(true);
  BtnCancel = new QPushButton(QStringLiteral("取消"), this);
  BtnCancel->setObjectName(QStringLiteral("BtnCancel"));
  BtnOK->setEnabled(lvDevices->currentItem() != nullptr);
  BtnOther = new QPushButton(QStringLiteral("其它设备…"), this);
  BtnOther->setObjectName(QStringLiteral("BtnOther"));
  edtOther = new QLineEdit(this);
  edtOther->setObjectName(QStringLiteral("edtOther"));
  edtOther->setPlaceholderText(QStringLiteral("设备路径，例如 /dev/ttyUSB0 或 /tmp/ttyQK4820"));
  edtOther->setMinimumWidth(360);
  edtOther->hide();
  // Paths complete from the file system, device nodes and links included.
  auto* files = new QFileSystemModel(this);
  files->setFilter(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
  files->setRootPath(QStringLiteral("/"));
  auto* completer = new QCompleter(files, this);
  completer->setCompletionMode(QCompleter::PopupCompletion);
  edtOther->setCompleter(completer);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(BtnOther);
  buttons->addWidget(edtOther, 1);
  buttons->addStretch();
  buttons->addWidget(BtnOK);
  buttons->addWidget(BtnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lvDevices);
  layout->addWidget(lblHint);
  layout->addLayout(buttons);

  connect(lvDevices, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item) { BtnOK->setEnabled(item != nullptr); });
  connect(lvDevices, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
  connect(BtnOK, &QPushButton::clicked, this, [this] { Accept(); });
  connect(BtnOther, &QPushButton::clicked, this, [this] {
    edtOther->show();
    edtOther->setText(QStringLiteral("/dev/"));
    edtOther->setFocus();
    BtnOK->setEnabled(true);
  });
  connect(edtOther, &QLineEdit::returnPressed, this, [this] { Accept(); });
  connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFrmChooseDevice::Accept() {
  const QString typed = !edtOther->isHidden() ? edtOther->text().trimmed() : QString();
  if (!typed.isEmpty()) {
    // The same diagnosis as an open that fails: a path that is no device,
    // or that the user may not open, is explained before it is mapped.
    const TPortCheck check = CheckPort(typed);
    if (check.state != TPortState::Free) {
      MsgBoxWithDetail(this, QStringLiteral("无法使用这个设备。"), check.Explanation(), TMsgIcon::Warning);
      edtOther->setFocus();
      return;
    }
  } else if (!lvDevices->currentItem()) {
    return;
  }
  accept();
}

QString TFrmChooseDevice::Chosen() const {
  const QString typed = !edtOther->isHidden() ? edtOther->text().trimmed() : QString();
  if (!typed.isEmpty()) return typed;
  const int i = lvDevices->currentItem() ? lvDevices->indexOfTopLevelItem(lvDevices->currentItem()) : -1;
  return i >= 0 && size_t(i) < FDevices.size() ? FDevices[size_t(i)].MappingName() : QString();
}

QString TFrmChooseDevice::Choose(QWidget* parent, const QString& current) {
  auto dlg = std::make_unique<TFrmChooseDevice>(current, parent);
  if (dlg->exec() != QDialog::Accepted) return {};
  return dlg->Chosen();
}
