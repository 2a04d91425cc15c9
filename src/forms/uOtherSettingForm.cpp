#include "forms/uOtherSettingForm.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QPushButton>
#include <QShowEvent>

#include "data/UDataCenter.h"
#include "platform/IniFile.h"
#include "platform/MessageService.h"
#include "platform/WindowPlacement.h"

namespace {

// Outer size 214 x 160 with a 4 px frame on each side and a 19 px caption.
constexpr int kClientWidth = 206;
constexpr int kClientHeight = 133;
// Offset of each further copy from the one it would cover.
constexpr int kCascadeStep = 24;

const QString kScreenSection = QStringLiteral("Screen");
const QString kSaveKey = QStringLiteral("save");

}  // namespace

// A tool window of its owner: it stays above the main window when the main
// window is clicked.
TfrmOtherSetting::TfrmOtherSetting(QWidget* owner) : QWidget(owner, Qt::Tool) {
  setObjectName(QStringLiteral("frmOtherSetting"));
  setWindowTitle(QStringLiteral("其它设置"));
  resize(kClientWidth, kClientHeight);

  chkSave = new QCheckBox(QStringLiteral("保存退出前主窗口的状态"), this);
  chkSave->setObjectName(QStringLiteral("chkSave"));
  chkSave->setGeometry(24, 32, 153, 17);
  btnClose = new QPushButton(QStringLiteral("关闭"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setGeometry(64, 76, 75, 25);

  connect(chkSave, &QCheckBox::clicked, this, [this] { Guarded([this] { chkSaveClick(); }); });
  connect(btnClose, &QPushButton::clicked, this, &QWidget::close);

  Guarded([this] { FormCreate(); });
}

TfrmOtherSetting* TfrmOtherSetting::ShowNew(QWidget* owner) {
  auto* w = new TfrmOtherSetting(owner);
  w->show();
  w->raise();
  w->activateWindow();
  return w;
}

void TfrmOtherSetting::FormCreate() {
  chkSave->setChecked(SettingsFile().ReadInteger(kScreenSection, kSaveKey, 0) == 1);
}

void TfrmOtherSetting::FormClose() {
  SettingsFile().WriteInteger(kScreenSection, kSaveKey, chkSave->isChecked() ? 1 : 0);
}

void TfrmOtherSetting::closeEvent(QCloseEvent* event) {
  bool written = false;
  Guarded([this, &written] {
    FormClose();
    written = true;
  });
  // A value that could not be written keeps the window open.
  if (written)
    event->accept();
  else
    event->ignore();
}

void TfrmOtherSetting::showEvent(QShowEvent* event) {
  // Centred on the screen the first time it is shown.
  if (!FPlaced) {
    FPlaced = true;
    CentreFrameOnScreen(this);
    // A copy already open at that place would be hidden exactly behind this
    // one: each further copy opens a step down and to the right.
    const auto copies = parentWidget() ? parentWidget()->findChildren<TfrmOtherSetting*>(
                                             QString(), Qt::FindDirectChildrenOnly)
                                       : QList<TfrmOtherSetting*>();
    for (bool taken = true; taken;) {
      taken = false;
      for (const TfrmOtherSetting* other : copies) {
        if (other != this && other->isVisible() && other->pos() == pos()) {
          move(pos() + QPoint(kCascadeStep, kCascadeStep));
          taken = true;
        }
      }
    }
  }
  QWidget::showEvent(event);
}
