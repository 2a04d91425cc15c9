// The communication settings dialog, driven by clicks and keys.
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "data/UDataCenter.h"
#include "forms/UDlgChooseDevice.h"
#include "forms/UDlgSetComm.h"
#include "platform/PortNames.h"
#include "platform/SerialDevices.h"
#include "support/SimProcess.h"
#include "support/TestServices.h"

namespace {

QStringList Items(const QComboBox* cb) {
  QStringList out;
  for (int i = 0; i < cb->count(); ++i) out << cb->itemText(i);
  return out;
}

class SetCommDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    P = TWorkingParams{};
    SetAppDir(FDir.path());
  }
  void TearDown() override { SetAppDir(QString()); }
  QTemporaryDir FDir;
  TWorkingParams P;
};

TEST_F(SetCommDialog, OpensOnCom3And9600WithTheDefaults) {
  TFrmSetComm dlg(P);
  EXPECT_EQ(dlg.windowTitle(), "通讯设置");
  EXPECT_EQ(dlg.cbCommPort->currentText(), "COM3");
  EXPECT_EQ(dlg.cbrate->currentText(), "9600");
  EXPECT_EQ(dlg.cbCommStyle->currentText(), "串口");
  QStringList ports;
  for (int n = 1; n <= 16; ++n) ports << QString("COM%1").arg(n);
  EXPECT_EQ(Items(dlg.cbCommPort), ports);
  EXPECT_EQ(Items(dlg.cbrate), QStringList({"300", "600", "1200", "2400", "4800", "9600", "19200",
                                            "38400", "43000", "56000", "57600", "115200", "256000"}));
  EXPECT_EQ(Items(dlg.cbCommStyle), QStringList({"USB", "串口"}));
  EXPECT_EQ(dlg.lblcommPort->text(), "串口：");
  EXPECT_EQ(dlg.lblBaudRate->text(), "波特率：");
  EXPECT_EQ(dlg.lblCommStyle->text(), "通讯方式：");
  EXPECT_EQ(dlg.BtnOK->text(), "OK");
  EXPECT_EQ(dlg.BtnCancel->text(), "退出");
  EXPECT_FALSE(dlg.cbCommPort->isEditable());
  EXPECT_TRUE(dlg.cbCommPort->isEnabled());
}

TEST_F(SetCommDialog, ThePortPanelCoversTheTransportPanel) {
  TFrmSetComm dlg(P);
  dlg.show();
  EXPECT_EQ(dlg.PanComm->geometry(), QRect(24, 8, 185, 113));
  EXPECT_EQ(dlg.PanCommStyle->geometry(), QRect(24, 8, 185, 41));
  EXPECT_EQ(dlg.cbCommStyle->pos(), QPoint(72, 12));
  EXPECT_EQ(dlg.cbCommPort->pos(), QPoint(72, 22));
  EXPECT_EQ(dlg.cbrate->pos(), QPoint(72, 62));
  EXPECT_EQ(dlg.BtnOK->geometry(), QRect(40, 135, 75, 25));
  EXPECT_EQ(dlg.BtnCancel->geometry(), QRect(126, 135, 75, 25));
  EXPECT_EQ(dlg.BtnOK->cursor().shape(), Qt::PointingHandCursor);
  // What is seen where the transport list lies belongs to the port panel.
  const QPoint listCentre = dlg.cbCommStyle->mapTo(&dlg, dlg.cbCommStyle->rect().center());
  QWidget* seen = dlg.childAt(listCentre);
  ASSERT_NE(seen, nullptr);
  EXPECT_TRUE(seen == dlg.PanComm || dlg.PanComm->isAncestorOf(seen));
}

TEST_F(SetCommDialog, TheCoveredTransportListHasTheFocusAndGreysThePortListsForUsb) {
  TFrmSetComm dlg(P);
  dlg.show();
  QApplication::setActiveWindow(&dlg);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
  EXPECT_EQ(QApplication::focusWidget(), dlg.cbCommStyle);
  // Tab order: transport, port, rate, OK, cancel, the device choice, and round again.
  const QList<QWidget*> order{dlg.cbCommPort, dlg.cbrate, dlg.BtnOK, dlg.BtnCancel, dlg.BtnChooseDevice,
                              dlg.cbCommStyle};
  for (QWidget* next : order) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }

  QTest::keyClick(dlg.cbCommStyle, Qt::Key_Up);
  EXPECT_EQ(dlg.cbCommStyle->currentText(), "USB");
  EXPECT_FALSE(dlg.cbCommPort->isEnabled());
  EXPECT_FALSE(dlg.cbrate->isEnabled());
  EXPECT_FALSE(dlg.lblcommPort->isEnabled());
  EXPECT_FALSE(dlg.lblBaudRate->isEnabled());
  QTest::keyClick(dlg.cbCommStyle, Qt::Key_Down);
  EXPECT_TRUE(dlg.cbCommPort->isEnabled());
  QTest::keyClick(dlg.cbCommStyle, Qt::Key_Up);

  P.giCommStyle = 7;
  dlg.BtnOK->click();
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(P.giCommStyle, 1);
  EXPECT_EQ(P.giCommPort, 3);
  EXPECT_EQ(P.giBaudRate, 6);
}

TEST_F(SetCommDialog, OkStoresTheChoiceAndItSurvivesARestart) {
  TFrmSetComm dlg(P);
  dlg.show();
  dlg.cbCommPort->setCurrentIndex(4);
  dlg.cbrate->setCurrentIndex(8);
  QTest::keyClick(&dlg, Qt::Key_Return);  // OK is the Enter button
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(P.giCommPort, 5);
  EXPECT_EQ(P.giBaudRate, 9);
  EXPECT_EQ(BaudRateOf(P.giBaudRate), 43000);

  SaveSettings(P);
  P = TWorkingParams{};
  LoadSettings(P);
  EXPECT_EQ(P.giCommPort, 5);
  EXPECT_EQ(P.giBaudRate, 9);
  TFrmSetComm again(P);
  EXPECT_EQ(again.cbCommPort->currentText(), "COM5");
  EXPECT_EQ(again.cbrate->currentText(), "43000");
}

struct TStored {
  std::int32_t port, rate;
  int portIndex, rateIndex;     // selected at opening
  std::int32_t okPort, okRate;  // stored by OK
};
void PrintTo(const TStored& s, std::ostream* os) { *os << "port " << s.port << " rate " << s.rate; }

class SetCommStoredValues : public SetCommDialog, public ::testing::WithParamInterface<TStored> {};

TEST_P(SetCommStoredValues, OutsideTheListsLeaveNoSelectionAndOkStoresZero) {
  const TStored& s = GetParam();
  P.giCommPort = s.port;
  P.giBaudRate = s.rate;
  TFrmSetComm dlg(P);
  EXPECT_EQ(dlg.cbCommPort->currentIndex(), s.portIndex);
  EXPECT_EQ(dlg.cbrate->currentIndex(), s.rateIndex);
  dlg.BtnOK->click();
  EXPECT_EQ(P.giCommPort, s.okPort);
  EXPECT_EQ(P.giBaudRate, s.okRate);
}

INSTANTIATE_TEST_SUITE_P(Values, SetCommStoredValues,
                         ::testing::Values(TStored{0, 6, -1, 5, 0, 6}, TStored{17, 6, -1, 5, 0, 6},
                                           TStored{16, 13, 15, 12, 16, 13}, TStored{1, 1, 0, 0, 1, 1},
                                           TStored{3, 0, 2, -1, 3, 0}, TStored{3, 14, 2, -1, 3, 0},
                                           TStored{-2147483647 - 1, 2147483647, -1, -1, 0, 0}));

TEST_F(SetCommDialog, AStoredUsbTransportGreysThePortListsAtOpening) {
  P.giCommStyle = 0;
  TFrmSetComm dlg(P);
  EXPECT_EQ(dlg.cbCommStyle->currentText(), "USB");
  EXPECT_FALSE(dlg.cbCommPort->isEnabled());
  dlg.BtnOK->click();
  EXPECT_EQ(P.giCommStyle, 1);
}

enum class TLeave { CancelButton, Escape, TitleBarClose };
void PrintTo(TLeave l, std::ostream* os) {
  *os << (l == TLeave::CancelButton ? "CancelButton" : l == TLeave::Escape ? "Escape" : "TitleBarClose");
}

class SetCommLeaving : public SetCommDialog, public ::testing::WithParamInterface<TLeave> {};

TEST_P(SetCommLeaving, WithoutOkKeepsTheWorkingParameters) {
  P.giCommStyle = 1;
  P.giCommPort = 7;
  P.giBaudRate = 12;
  TFrmSetComm dlg(P);
  dlg.show();
  dlg.cbCommStyle->setCurrentIndex(0);
  dlg.cbCommPort->setCurrentIndex(0);
  dlg.cbrate->setCurrentIndex(0);
  switch (GetParam()) {
    case TLeave::CancelButton: dlg.BtnCancel->click(); break;
    case TLeave::Escape: QTest::keyClick(&dlg, Qt::Key_Escape); break;
    case TLeave::TitleBarClose: dlg.close(); break;
  }
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), QDialog::Rejected);
  EXPECT_EQ(P.giCommStyle, 1);
  EXPECT_EQ(P.giCommPort, 7);
  EXPECT_EQ(P.giBaudRate, 12);
}

INSTANTIATE_TEST_SUITE_P(Ways, SetCommLeaving,
                         ::testing::Values(TLeave::CancelButton, TLeave::Escape, TLeave::TitleBarClose));

TEST_F(SetCommDialog, ExecuteShowsTheDialogModallyAndDestroysIt) {
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* dlg = qobject_cast<TFrmSetComm*>(QApplication::activeModalWidget());
    ASSERT_NE(dlg, nullptr);
    seen = true;
    dlg->cbCommPort->setCurrentIndex(9);
    dlg->BtnOK->click();
  });
  TFrmSetComm::Execute(P, nullptr);
  EXPECT_TRUE(seen);
  EXPECT_EQ(P.giCommPort, 10);
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_EQ(qobject_cast<TFrmSetComm*>(w), nullptr);
}

// Centred on the main window, title bars included.
TEST_F(SetCommDialog, OpensCentredOnTheMainWindow) {
  QWidget owner;
  owner.setGeometry(100, 80, 1096, 547);
  owner.show();
  QPoint dialogCentre, ownerCentre;
  QTimer::singleShot(0, [&] {
    auto* dlg = qobject_cast<TFrmSetComm*>(QApplication::activeModalWidget());
    ASSERT_NE(dlg, nullptr);
    dialogCentre = dlg->frameGeometry().center();
    ownerCentre = owner.frameGeometry().center();
    dlg->BtnCancel->click();
  });
  TFrmSetComm::Execute(P, &owner);
  EXPECT_LE((dialogCentre - ownerCentre).manhattanLength(), 2) << dialogCentre.x() << "," << dialogCentre.y();
}

}  // namespace

namespace {

// "选择设备…" lists the system's serial devices, maps the selected COM name
// to the one chosen (by its stable name), and OK stores the mapping.
TEST_F(SetCommDialog, ADeviceChosenFromTheListIsMappedAndStored) {
  SetSerialDeviceSource([] {
    return std::vector<TSerialDevice>{{"/dev/ttyS0", "", "", "", ""},
                                      {"/dev/ttyUSB7", "/dev/serial/by-id/usb-QK_4820_A1-if00-port0",
                                       "QK4820 USB 串口", "QK", "A1"}};
  });
  TFrmSetComm dlg(P);
  dlg.show();
  EXPECT_TRUE(dlg.lblDevice->text().contains(QStringLiteral("/dev/ttyS2"))) << dlg.lblDevice->text().toStdString();
  QString listed;
  QTimer::singleShot(0, [&] {
    auto* chooser = qobject_cast<TFrmChooseDevice*>(QApplication::activeModalWidget());
    ASSERT_NE(chooser, nullptr);
    for (int i = 0; i < chooser->lvDevices->topLevelItemCount(); ++i) {
      listed += chooser->lvDevices->topLevelItem(i)->text(0) + u'|';
    }
    QTreeWidgetItem* usb = chooser->lvDevices->topLevelItem(1);
    EXPECT_EQ(usb->text(1), QStringLiteral("QK4820 USB 串口"));
    EXPECT_EQ(usb->text(2), QStringLiteral("A1"));
    chooser->lvDevices->setCurrentItem(usb);
    chooser->grab().save(QStringLiteral(QK_TEST_OUTPUT_DIR "/choose-device.png"));  // to be looked at
    chooser->BtnOK->click();
  });
  dlg.BtnChooseDevice->click();
  SetSerialDeviceSource({});
  EXPECT_EQ(listed, QStringLiteral("/dev/ttyS0|/dev/ttyUSB7|"));
  EXPECT_TRUE(dlg.lblDevice->toolTip().contains(QStringLiteral("/dev/serial/by-id/usb-QK_4820_A1-if00-port0")));
  dlg.grab().save(QStringLiteral(QK_TEST_OUTPUT_DIR "/setcomm-device.png"));
  // Nothing is stored before OK.
  EXPECT_EQ(ResolvePortDevice(QStringLiteral("COM3"), SettingsFileName()), QStringLiteral("/dev/ttyS2"));
  dlg.BtnOK->click();
  EXPECT_EQ(ResolvePortDevice(QStringLiteral("COM3"), SettingsFileName()),
            QStringLiteral("/dev/serial/by-id/usb-QK_4820_A1-if00-port0"));
}

TEST_F(SetCommDialog, CancellingTheDeviceListOrTheDialogMapsNothing) {
  SetSerialDeviceSource([] { return std::vector<TSerialDevice>{{"/dev/ttyUSB0", "", "", "", ""}}; });
  TFrmSetComm dlg(P);
  dlg.show();
  QTimer::singleShot(0, [] {
    auto* chooser = qobject_cast<TFrmChooseDevice*>(QApplication::activeModalWidget());
    ASSERT_NE(chooser, nullptr);
    chooser->lvDevices->setCurrentItem(chooser->lvDevices->topLevelItem(0));
    chooser->BtnOK->click();
  });
  dlg.BtnChooseDevice->click();
  SetSerialDeviceSource({});
  EXPECT_TRUE(dlg.lblDevice->text().contains(QStringLiteral("/dev/ttyUSB0")));
  dlg.BtnCancel->click();
  EXPECT_EQ(ResolvePortDevice(QStringLiteral("COM3"), SettingsFileName()), QStringLiteral("/dev/ttyS2"));
}

// A device the system does not list (the simulator's pseudo-terminal) is
// typed under "其它设备…", checked by the same diagnosis as a failed open,
// and mapped; a path that is no device is explained and not taken.
TEST_F(SetCommDialog, ADeviceTheSystemDoesNotListIsTypedAndChecked) {
  TSimProcess sim;
  ASSERT_TRUE(sim.Started());
  TRecordingMessages msgs;
  SetSerialDeviceSource([] { return std::vector<TSerialDevice>{{"/dev/ttyS0", "", "", "", ""}}; });
  TFrmSetComm dlg(P);
  dlg.show();
  bool stayed = false;
  QTimer::singleShot(0, [&] {
    auto* chooser = qobject_cast<TFrmChooseDevice*>(QApplication::activeModalWidget());
    ASSERT_NE(chooser, nullptr);
    EXPECT_FALSE(chooser->edtOther->isVisible());
    chooser->BtnOther->click();
    ASSERT_TRUE(chooser->edtOther->isVisible());
    chooser->edtOther->setText(FDir.filePath(QStringLiteral("no-such-tty")));
    chooser->BtnOK->click();
    stayed = chooser->isVisible();
    chooser->edtOther->setText(sim.LinkPath());
    chooser->grab().save(QStringLiteral(QK_TEST_OUTPUT_DIR "/choose-other-device.png"));  // to be looked at
    chooser->BtnOK->click();
  });
  dlg.BtnChooseDevice->click();
  SetSerialDeviceSource({});
  EXPECT_TRUE(stayed);
  ASSERT_EQ(msgs.Boxes.size(), 1);
  EXPECT_EQ(msgs.Boxes[0].text, QStringLiteral("无法使用这个设备。"));
  EXPECT_TRUE(msgs.Boxes[0].detail.contains(QStringLiteral("设备不存在"))) << msgs.Boxes[0].detail.toStdString();
  dlg.BtnOK->click();
  EXPECT_EQ(ResolvePortDevice(QStringLiteral("COM3"), SettingsFileName()), sim.LinkPath());
}

}  // namespace
