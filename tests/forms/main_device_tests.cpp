// The main window's instrument operations against qk4820-sim over a pty.
#include <QDialog>
#include <QFileInfo>
#include <QProgressBar>
#include <QShortcut>

#include <algorithm>
#include <string>
#include <QTabWidget>

#include "main_fixture.h"

#include <QChartView>
#include <QLineEdit>
#include <QLineSeries>
#include <QTimer>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTreeWidget>

#include "forms/UDlgChooseDevice.h"
#include "forms/UDlgSetComm.h"
#include "forms/UHistory.h"
#include "history/ResultValues.h"
#include "platform/SerialDevices.h"

namespace {

using MainDevice = MainRig;

const QString kWarnPort = QStringLiteral("端口不存在，或端口已被打开。");

TEST_F(MainDevice, ConnectAnsweredEnablesTheDeviceButtons) {
  StartSim();
  W->btnUpdateList->click();
  EXPECT_TRUE(W->Params.gbConnected);
  EXPECT_EQ(W->StatusBar1->PanelText(0), QStringLiteral("已连接"));
  for (QPushButton* b : {W->BtnSampleData, W->BtnClearData, W->BtnTest, W->btnMachinePrint, W->BtnPrint, W->BtnSave}) {
    EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
  }
  EXPECT_TRUE(Msgs.Boxes.isEmpty());
  EXPECT_EQ(Log(), QStringList{QStringLiteral("F8")});
  EXPECT_FALSE(W->ComPort()->IsOpen());
}

struct TConnectFault {
  const char* name;
  const char* option;  // simulator fault on the second identification
  const char* value;
};

class ConnectFails : public MainRig, public ::testing::WithParamInterface<TConnectFault> {};

// Whatever makes the identification fail (no answer, a wrong answer, a line
// that hangs up meanwhile), the window ends disconnected with its warning.
TEST_P(ConnectFails, DisconnectsEvenAfterAnEarlierSuccess) {
  StartSim({GetParam().option, GetParam().value});
  Connect();
  W->btnUpdateList->click();  // not answered: 500 ms
  EXPECT_FALSE(W->Params.gbConnected);
  EXPECT_EQ(W->StatusBar1->PanelText(0), QStringLiteral("设备已断开！"));
  for (QPushButton* b : {W->BtnSampleData, W->BtnClearData, W->BtnTest, W->btnMachinePrint, W->BtnPrint, W->BtnSave}) {
    EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
  }
  ASSERT_EQ(Msgs.Boxes.size(), 1) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(Msgs.Boxes[0].text, QStringLiteral("设备已断开！"));
  EXPECT_EQ(Msgs.Boxes[0].icon, TMsgIcon::Warning);
  EXPECT_EQ(Msgs.Boxes[0].caption, QStringLiteral("三通道回路电阻测试仪"));
  EXPECT_EQ(W->Link().Assembler().ExpectKind, kReplyNone);
  EXPECT_FALSE(W->ComPort()->IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Faults, ConnectFails,
                         ::testing::Values(TConnectFault{"NoAnswer", "--mute", "F8@2"},
                                           TConnectFault{"WrongAnswer", "--corrupt", "F8@2"},
                                           TConnectFault{"LineHangsUp", "--hangup", "F8@2:1"}),
                         [](const ::testing::TestParamInfo<TConnectFault>& i) { return std::string(i.param.name); });

// Uploaded rows stay printable and savable when the instrument has gone, so
// closing the program need not lose them; the exchange buttons follow the
// connection.
TEST_F(MainDevice, UploadedRowsCanBeSavedAndPrintedAfterTheInstrumentWent) {
  StartSim({"--records", "2", "--mute", "F8@2"});
  Connect();
  W->BtnSampleData->click();
  ASSERT_EQ(W->Params.giDataCount, 2);
  W->btnUpdateList->click();
  ASSERT_FALSE(W->Params.gbConnected);
  EXPECT_TRUE(W->BtnPrint->isEnabled());
  EXPECT_TRUE(W->BtnSave->isEnabled());
  for (QPushButton* b : {W->BtnSampleData, W->BtnClearData, W->BtnTest, W->btnMachinePrint}) {
    EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
  }
  Msgs.Clear();
  TScriptedDesktop desktop;
  const QString name = FDir.filePath(QStringLiteral("kept.txt"));
  desktop.SaveNames << name;
  W->BtnSave->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  EXPECT_TRUE(QFileInfo(name).size() > 0);
}

TEST_F(MainDevice, ConnectWithAWrongReplyFails) {
  StartSim({"--corrupt", "F8"});
  W->btnUpdateList->click();
  EXPECT_FALSE(W->Params.gbConnected);
  EXPECT_TRUE(HasBox(Msgs, QStringLiteral("设备已断开！"), TMsgIcon::Warning));
}

TEST_F(MainDevice, UploadOfThreeRecordsFillsRowsInRequestOrder) {
  StartSim({"--records", "3"});
  Connect();
  W->pgc->setCurrentWidget(W->tsMachine);
  bool barShown = false;
  int barMax = -1;
  TWhenReady watch([&] {
    if (W->ProgressBar1->isVisible()) {
      barShown = true;
      barMax = W->ProgressBar1->maximum();
    }
    return false;
  });
  W->BtnSampleData->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(Log(), (QStringList{"F8", "F0", "F1 02", "F1 01", "F1 00"}));
  EXPECT_EQ(W->Params.giDataCount, 3);
  ASSERT_EQ(W->SGData->RowCount(), 4);
  EXPECT_EQ(W->SGData->Cells(0, 1), QStringLiteral(" 1"));
  EXPECT_EQ(W->SGData->Cells(0, 2), QStringLiteral(" 2"));
  EXPECT_EQ(W->SGData->Cells(0, 3), QStringLiteral(" 3"));
  // Row 1 holds the record fetched first, number 2.
  EXPECT_EQ(W->SGData->Cells(1, 1), QStringLiteral("25-01-03 10:17"));
  EXPECT_EQ(W->SGData->Cells(2, 1), QStringLiteral("QK103"));
  EXPECT_EQ(W->SGData->Cells(3, 1), QStringLiteral("Wang"));
  EXPECT_EQ(W->SGData->Cells(4, 1), QStringLiteral("Bay07"));
  EXPECT_EQ(W->SGData->Cells(5, 1), QStringLiteral("100A"));
  EXPECT_EQ(W->SGData->Cells(6, 1), QStringLiteral("60秒"));
  EXPECT_EQ(W->SGData->Cells(7, 1), QStringLiteral("三相"));
  // Phases A, B and C of record 2 in columns 8, 9 and 10.
  EXPECT_EQ((QStringList{W->SGData->Cells(8, 1), W->SGData->Cells(9, 1), W->SGData->Cells(10, 1)}),
            (QStringList{QStringLiteral("141.1 μΩ"), QStringLiteral("155.4 μΩ"), QStringLiteral("134.2 μΩ")}));
  // Row 2, record 1: single phase, so the B and C columns stay empty.
  EXPECT_EQ(W->SGData->Cells(2, 2), QStringLiteral("QK102"));
  EXPECT_EQ(W->SGData->Cells(5, 2), QStringLiteral("200A"));
  EXPECT_EQ(W->SGData->Cells(7, 2), QStringLiteral("单相"));
  EXPECT_FALSE(W->SGData->Cells(8, 2).isEmpty());
  EXPECT_TRUE(W->SGData->Cells(9, 2).isEmpty());
  EXPECT_TRUE(W->SGData->Cells(10, 2).isEmpty());
  EXPECT_EQ(W->SGData->Cells(2, 3), QStringLiteral("QK101"));
  EXPECT_TRUE(barShown);
  EXPECT_EQ(barMax, 3);
  EXPECT_TRUE(W->ProgressBar1->isHidden());
  EXPECT_FALSE(W->ComPort()->IsOpen());
}

TEST_F(MainDevice, UploadWithRepliesInRandomChunksCompletes) {
  StartSim({"--records", "4", "--chunks", "7", "--baud", "0"});
  Connect();
  W->BtnSampleData->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(W->Params.giDataCount, 4);
  EXPECT_EQ(W->SGData->Cells(2, 4), QStringLiteral("QK101"));
}

TEST_F(MainDevice, UploadWhoseSecondRecordIsNotAnsweredKeepsTheFirstRow) {
  StartSim({"--records", "3", "--mute", "F1@2"});
  Connect();
  // The 2000 ms wait for the second record passes at once.
  TTickPusher push([&] { return Log().size() >= 4; }, 500);
  W->BtnSampleData->click();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("通讯失败！")});
  EXPECT_EQ(Msgs.Boxes.value(0).icon, TMsgIcon::Warning);
  EXPECT_EQ(W->Params.giDataCount, 1);
  ASSERT_EQ(W->SGData->RowCount(), 4);
  EXPECT_EQ(W->SGData->Cells(2, 1), QStringLiteral("QK103"));
  for (int r = 2; r <= 3; ++r) {
    for (int c = 0; c < 11; ++c) EXPECT_TRUE(W->SGData->Cells(c, r).isEmpty()) << c << "," << r;
  }
  EXPECT_EQ(Log().mid(1), (QStringList{"F0", "F1 02", "F1 01"}));
  EXPECT_TRUE(W->ProgressBar1->isHidden());
  EXPECT_FALSE(W->ComPort()->IsOpen());
}

TEST_F(MainDevice, CountFailureAndZeroCountKeepThePreviousRows) {
  StartSim({"--records", "2", "--corrupt", "F0@2"});
  Connect();
  W->BtnSampleData->click();
  ASSERT_EQ(W->Params.giDataCount, 2);
  W->BtnSampleData->click();  // wrong count reply
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("通讯失败！")});
  EXPECT_EQ(W->Params.giDataCount, 2);
  EXPECT_EQ(W->SGData->Cells(2, 1), QStringLiteral("QK102"));
  Msgs.Clear();
  // Erase through the instrument, then upload: a count of 0.
  Msgs.Answers = {TMsgResult::Yes};
  W->BtnClearData->click();
  Msgs.Clear();
  W->SGData->SetRowCount(3);
  W->SGData->SetCells(2, 1, QStringLiteral("kept"));
  W->Params.giDataCount = 2;
  W->BtnSampleData->click();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("仪器无测试数据！")});
  EXPECT_EQ(Msgs.Boxes.value(0).icon, TMsgIcon::Warning);
  EXPECT_EQ(W->SGData->Cells(2, 1), QStringLiteral("kept"));
  EXPECT_EQ(W->Params.giDataCount, 2);
  EXPECT_TRUE(W->ProgressBar1->isHidden());
}

TEST_F(MainDevice, ClearAnsweredNoSendsNothing) {
  StartSim({"--records", "2"});
  Connect();
  W->BtnSampleData->click();
  Msgs.Answers = {TMsgResult::No};
  W->BtnClearData->click();
  ASSERT_EQ(Msgs.Boxes.size(), 1);
  EXPECT_EQ(Msgs.Boxes[0].text, QStringLiteral("您确定要请空历史数据吗？"));
  EXPECT_EQ(Msgs.Boxes[0].buttons, TMsgButtons::YesNo);
  EXPECT_EQ(Msgs.Boxes[0].icon, TMsgIcon::None);
  EXPECT_EQ(W->Params.giDataCount, 2);
  EXPECT_EQ(W->SGData->RowCount(), 3);
  PumpOrSleep(50);
  EXPECT_FALSE(Log().contains(QStringLiteral("F2")));
}

TEST_F(MainDevice, ClearAnsweredYesEmptiesTheTableWhileThePortStaysOpenUntilTheNotice) {
  StartSim({"--records", "2"});
  Connect();
  W->BtnSampleData->click();
  Msgs.Answers = {TMsgResult::Yes};
  bool openDuringNotice = false;
  Msgs.OnShow = [&](const TMsgRequest& r) {
    if (r.text == QStringLiteral("已清空！")) openDuringNotice = W->ComPort()->IsOpen();
  };
  W->BtnClearData->click();
  EXPECT_EQ(Msgs.Texts(), (QStringList{QStringLiteral("您确定要请空历史数据吗？"), QStringLiteral("已清空！")}));
  EXPECT_EQ(Msgs.Boxes.value(1).icon, TMsgIcon::None);
  EXPECT_TRUE(openDuringNotice);
  EXPECT_FALSE(W->ComPort()->IsOpen());
  EXPECT_EQ(W->SGData->RowCount(), 2);
  for (int c = 0; c < 11; ++c) EXPECT_TRUE(W->SGData->Cells(c, 1).isEmpty());
  EXPECT_EQ(W->Params.giDataCount, 0);
  // F8, F0, F1 01, F1 00, then the erase.
  ASSERT_TRUE(Sim->WaitForLogLines(5));
  EXPECT_EQ(Log().last(), QStringLiteral("F2"));
  EXPECT_TRUE(W->Params.gbConnected);
}

TEST_F(MainDevice, InstrumentPrintMapsTheSelectedRowToItsRecordNumber) {
  StartSim({"--records", "3", "--print-delay", "100"});
  Connect();
  W->BtnSampleData->click();
  QString notice;
  QRect noticeRect;
  TWhenReady seeNotice([&] {
    if (TfrmWait* w = CurrentWait()) {
      notice = w->lblMessage->text();
      noticeRect = w->frameGeometry();
    }
    return false;
  });
  W->SGData->SetRow(2);
  W->btnMachinePrint->click();
  W->SGData->SetRow(1);
  W->btnMachinePrint->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(Log().mid(5), (QStringList{"FE 02", "FE 03"}));
  EXPECT_EQ(notice, QStringLiteral("  请稍候，正在打印......"));
  const QRect m = W->frameGeometry();
  EXPECT_EQ(noticeRect.top(), m.top() + RoundHalfEven(m.height() / 4.0 * 2.5));
  EXPECT_EQ(noticeRect.left(), m.left() + RoundHalfEven(m.width() / 2.0) - 200);
  EXPECT_EQ(CurrentWait(), nullptr);
  EXPECT_FALSE(W->ComPort()->IsOpen());
}

TEST_F(MainDevice, InstrumentPrintFailuresAndRefusals) {
  StartSim({"--records", "3", "--mute", "FE"});
  Connect();
  // Nothing uploaded: nothing sent, nothing shown.
  W->btnMachinePrint->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty());
  W->BtnSampleData->click();
  // A row without a number.
  W->SGData->SetCells(0, 3, QString());
  W->SGData->SetRow(3);
  W->btnMachinePrint->click();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("获取仪器测试记录序号出错！")});
  EXPECT_EQ(Msgs.Boxes.value(0).icon, TMsgIcon::Warning);
  Msgs.Clear();
  // Not acknowledged within 2000 ms.
  W->SGData->SetRow(1);
  TTickPusher push([&] { return CurrentWait() != nullptr; }, 400);
  W->btnMachinePrint->click();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("通讯失败！")});
  EXPECT_EQ(CurrentWait(), nullptr);
  Sim->WaitForLogLines(6);
  EXPECT_EQ(Log().mid(5), QStringList{"FE 03"});
  EXPECT_FALSE(W->ComPort()->IsOpen());
}

struct TRangeCase {
  const char* simArgs;  // --ranges value, or a fault
  bool dialog;
  const char* items;    // offered ranges
  const char* message;  // box without a dialog
};

void PrintTo(const TRangeCase& c, std::ostream* os) {
  std::string a = c.simArgs;
  std::replace(a.begin(), a.end(), ' ', '_');
  *os << a;
}

class MainRange : public MainRig, public ::testing::WithParamInterface<TRangeCase> {};

TEST_P(MainRange, RangeQueryOpensTheTestDialogOrRefuses) {
  const TRangeCase& c = GetParam();
  const QString arg = QString::fromLatin1(c.simArgs);
  if (arg.startsWith(QLatin1String("--"))) {
    StartSim(arg.split(' '));
  } else {
    StartSim({"--ranges", arg});
  }
  Connect();
  QString items;
  QString shownRange;
  bool portClosedMeanwhile = false;
  TWhenReady driver([&] {
    auto* dlg = qobject_cast<TFrmTest*>(QApplication::activeModalWidget());
    if (!dlg) return false;
    QStringList l;
    for (int i = 0; i < dlg->CBCurrentStep->count(); ++i) l << dlg->CBCurrentStep->itemText(i);
    items = l.join(',');
    shownRange = dlg->CBCurrentStep->currentText();
    portClosedMeanwhile = !W->ComPort()->IsOpen();
    dlg->done(QDialog::Rejected);
    return true;
  });
  W->BtnTest->click();
  EXPECT_EQ(driver.Done(), c.dialog);
  if (c.dialog) {
    EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
    EXPECT_EQ(items, QString::fromLatin1(c.items));
    EXPECT_EQ(shownRange, QStringLiteral("100A"));  // the dialog always opens on 100A
    EXPECT_TRUE(portClosedMeanwhile);
  } else {
    EXPECT_EQ(Msgs.Texts(), QStringList{QString::fromUtf8(c.message)});
    EXPECT_EQ(Msgs.Boxes.value(0).icon, TMsgIcon::Warning);
  }
  EXPECT_EQ(W->Link().Assembler().ExpectKind, kReplyNone);
  EXPECT_FALSE(W->ComPort()->IsOpen());
  EXPECT_TRUE(W->Params.gbConnected);
  EXPECT_EQ(Log().value(1), QStringLiteral("F3"));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, MainRange,
    ::testing::Values(TRangeCase{"0,0", true, "100A", ""}, TRangeCase{"0,7", true, "100A", ""},
                      TRangeCase{"1,0", true, "100A,200A", ""}, TRangeCase{"1,1", true, "100A,200A", ""},
                      TRangeCase{"1,2", false, "", "读取设备电流档位错误！"},
                      TRangeCase{"5,0", false, "", "读取设备电流档位错误！"},
                      TRangeCase{"--corrupt F3", false, "", "通讯失败！"},
                      TRangeCase{"--mute F3", false, "", "通讯失败！"}));

TEST_F(MainDevice, PortThatCannotBeOpenedIsReportedByEveryOperation) {
  StartWithoutInstrument();
  W->Params.gbConnected = true;
  W->EnableButtons();
  W->StatusBar1->SetPanelText(0, QStringLiteral("已连接"));
  W->Params.giDataCount = 1;
  Msgs.Answers = {TMsgResult::Yes};
  for (QPushButton* b : {W->btnUpdateList, W->BtnSampleData, W->BtnClearData, W->btnMachinePrint, W->BtnTest}) {
    Msgs.Clear();
    b->click();
    ASSERT_FALSE(Msgs.Boxes.isEmpty()) << b->objectName().toStdString();
    EXPECT_EQ(Msgs.Boxes.last().text, kWarnPort) << b->objectName().toStdString();
    EXPECT_EQ(Msgs.Boxes.last().icon, TMsgIcon::Warning);
    // Under the message: the device tried and why it failed.
    EXPECT_TRUE(Msgs.Boxes.last().detail.startsWith(QStringLiteral("设备：/"))) << Msgs.Boxes.last().detail.toStdString();
    EXPECT_TRUE(Msgs.Boxes.last().detail.contains(QStringLiteral("设备不存在"))) << Msgs.Boxes.last().detail.toStdString();
  }
  // Neither the state nor the status text changed.
  EXPECT_TRUE(W->Params.gbConnected);
  EXPECT_EQ(W->StatusBar1->PanelText(0), QStringLiteral("已连接"));
  EXPECT_TRUE(W->BtnSampleData->isEnabled());
  QString err = QStringLiteral("before");
  EXPECT_FALSE(W->OpenPort(err));
  EXPECT_EQ(err, kWarnPort);
}

TEST_F(MainDevice, ClickOnAnotherOperationWhileOneWaitsIsIgnored) {
  StartSim({"--mute", "F8@2"});
  Connect();
  bool clicked = false;
  QString modalSeen;
  TWhenReady closer([&] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!d) return false;
    modalSeen = QString::fromLatin1(d->metaObject()->className());
    d->reject();
    return true;
  });
  TWhenReady during([&] {
    if (!W->Busy()) return false;
    W->BtnSampleData->click();  // would send F0
    W->btnUpdateList->click();  // would send a second F8
    // would open the serial-number dialog on the line in use
    emit W->findChild<QShortcut*>(QStringLiteral("SeriesShortcut"))->activated();
    clicked = true;
    return true;
  });
  W->btnUpdateList->click();
  EXPECT_TRUE(clicked);
  Sim->WaitForLogLines(2);
  EXPECT_EQ(Log(), (QStringList{"F8", "F8"}));
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("设备已断开！")});
  EXPECT_TRUE(modalSeen.isEmpty()) << modalSeen.toStdString();
}

TEST_F(MainDevice, ClosingDuringAnOperationWaitsForItsEnd) {
  StartSim({"--records", "2"});
  Connect();
  bool closedSignal = false;
  QObject::connect(W.get(), &TFrmMain::Closed, [&] { closedSignal = true; });
  TWhenReady during([&] {
    if (!W->Busy()) return false;
    W->close();
    return true;
  });
  W->BtnSampleData->click();
  EXPECT_EQ(W->Params.giDataCount, 2);  // the upload went on
  EXPECT_FALSE(closedSignal);
  EXPECT_TRUE(PumpUntil([&] { return closedSignal; }, 2000));
  EXPECT_FALSE(W->isVisible());
}

TEST_F(MainDevice, LineThatFailsDuringAnUploadEndsInTheGeneralErrorBox) {
  StartSim({"--records", "3", "--hangup", "F1@2:10"});
  Connect();
  W->BtnSampleData->click();
  ASSERT_EQ(Msgs.Boxes.size(), 1) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(Msgs.Boxes[0].icon, TMsgIcon::Error);
  EXPECT_EQ(Msgs.Boxes[0].caption, QStringLiteral("QK4820回路电阻测试仪1.0"));
  // The cause in words the operator can act on, the system's text after it.
  EXPECT_TRUE(Msgs.Boxes[0].text.startsWith(QStringLiteral("串口COM3通讯中断：设备已拔出或断开")))
      << Msgs.Boxes[0].text.toStdString();
  EXPECT_EQ(W->Params.giDataCount, 1);
  EXPECT_TRUE(W->ProgressBar1->isHidden());
  EXPECT_FALSE(W->ComPort()->IsOpen());
}

// A port whose writes fail, to reach the write error of the erase command.
class TBrokenPort : public ISerialPort {
 public:
  void SetPort(const QString& name) override { FName = name; }
  QString Port() const override { return FName; }
  void SetBaudRate(int baud) override { Baud = baud; }
  void SetDataBits(int bits) override { DataBits = bits; }
  void SetParity(TParity) override {}
  void SetStopBits(TStopBits) override {}
  void SetDeviceResolver(std::function<QString(const QString&)>) override {}
  void Open() override {
    FOpen = true;
    OpenedAs << FName;
    OpenedBaud << Baud;
  }
  void Close() override { FOpen = false; }
  bool IsOpen() const override { return FOpen; }
  void Write(const std::uint8_t*, int) override { throw EAppError(QStringLiteral("写入失败")); }
  TBuffer Read(int) override { return {}; }
  int InputCount() const override { return 0; }
  QString LineError() const override { return {}; }

  static inline QStringList OpenedAs;
  static inline QList<int> OpenedBaud;
  int Baud = 0;
  int DataBits = 0;

 private:
  QString FName;
  bool FOpen = false;
};

TEST_F(MainDevice, EraseWhoseWriteFailsReportsCommunicationFailure) {
  TBrokenPort::OpenedAs.clear();
  TBrokenPort::OpenedBaud.clear();
  SetSerialPortFactory([](QObject*) { return std::make_unique<TBrokenPort>(); });
  StartWithoutInstrument();
  W->Params.giCommPort = 7;
  W->Params.giBaudRate = 12;  // 115200 for the blocking transaction; this line stays at 9600
  W->Params.gbConnected = true;
  W->EnableButtons();
  W->SGData->SetRowCount(3);
  W->SGData->SetCells(2, 1, QStringLiteral("kept"));
  Msgs.Answers = {TMsgResult::Yes};
  W->BtnClearData->click();
  EXPECT_EQ(Msgs.Texts(), (QStringList{QStringLiteral("您确定要请空历史数据吗？"), QStringLiteral("通讯失败！")}));
  EXPECT_EQ(Msgs.Boxes.value(1).icon, TMsgIcon::Warning);
  EXPECT_EQ(W->SGData->Cells(2, 1), QStringLiteral("kept"));
  EXPECT_FALSE(W->ComPort()->IsOpen());
  EXPECT_EQ(TBrokenPort::OpenedAs, QStringList{QStringLiteral("COM7")});
  EXPECT_EQ(TBrokenPort::OpenedBaud, QList<int>{9600});
}

}  // namespace

namespace {

// Opens "通讯设置" from the main window, "选择设备…" there, picks the listed
// device at index and confirms both; the devices offered, "path|description".
QStringList ChooseDeviceInTheSettings(TFrmMain* w, int index) {
  QStringList offered;
  QTimer::singleShot(0, [&] {
    auto* settings = qobject_cast<TFrmSetComm*>(QApplication::activeModalWidget());
    ASSERT_NE(settings, nullptr);
    QTimer::singleShot(0, [&] {
      auto* chooser = qobject_cast<TFrmChooseDevice*>(QApplication::activeModalWidget());
      ASSERT_NE(chooser, nullptr);
      for (int i = 0; i < chooser->lvDevices->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = chooser->lvDevices->topLevelItem(i);
        offered << item->text(0) + u'|' + item->text(1);
      }
      chooser->lvDevices->setCurrentItem(chooser->lvDevices->topLevelItem(index));
      chooser->BtnOK->click();
    });
    settings->BtnChooseDevice->click();
    settings->BtnOK->click();
  });
  w->BtnSetComm->click();
  return offered;
}

// The operator picks the instrument's device in "通讯设置" → "选择设备…" (the
// simulator's terminal stands in the device list for a USB-serial cable);
// the main window then reaches the instrument there and shows the port.
TEST_F(MainDevice, ADeviceChosenInTheSettingsIsWhereTheProgramConnects) {
  StartWithoutInstrument();
  Sim = std::make_unique<TSimProcess>();
  ASSERT_TRUE(Sim->Started()) << Sim->Output().toStdString();
  const QString link = Sim->LinkPath();
  SetSerialDeviceSource([link] { return std::vector<TSerialDevice>{{link, "", "qk4820-sim", "", ""}}; });
  const QStringList offered = ChooseDeviceInTheSettings(W.get(), 0);
  SetSerialDeviceSource({});
  EXPECT_EQ(offered, QStringList{link + QStringLiteral("|qk4820-sim")});
  EXPECT_TRUE(W->StatusBar1->PanelText(2).startsWith(QStringLiteral("COM3 → /dev/pts/")))
      << W->StatusBar1->PanelText(2).toStdString();
  W->btnUpdateList->click();
  EXPECT_TRUE(W->Params.gbConnected) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(W->StatusBar1->PanelText(0), QStringLiteral("已连接"));
}

// A device the settings already map another port to (the simulator's
// terminal, which the system does not list as a serial device) is offered
// too: choosing it for COM3 reaches the instrument.
TEST_F(MainDevice, ADeviceMappedForAnotherPortCanBeChosen) {
  StartWithoutInstrument();
  Sim = std::make_unique<TSimProcess>();
  ASSERT_TRUE(Sim->Started()) << Sim->Output().toStdString();
  SettingsFile().WriteString(QStringLiteral("Ports"), QStringLiteral("COM5"), Sim->LinkPath());
  SetSerialDeviceSource([] { return std::vector<TSerialDevice>{}; });
  const QStringList offered = ChooseDeviceInTheSettings(W.get(), 0);
  SetSerialDeviceSource({});
  EXPECT_EQ(offered, QStringList{Sim->LinkPath() + QStringLiteral("|设置文件中COM5的设备")});
  W->btnUpdateList->click();
  EXPECT_TRUE(W->Params.gbConnected) << Msgs.Texts().join('|').toStdString();
}

}  // namespace

namespace {

// Every uploaded record goes to the results history once, however often it
// is uploaded, and is there after the program starts again.
TEST_F(MainDevice, UploadedRecordsAreKeptInTheHistoryOnce) {
  StartSim({QStringLiteral("--records"), QStringLiteral("3")});
  Connect();
  W->BtnSampleData->click();
  ASSERT_EQ(W->Params.giDataCount, 3);
  W->BtnSampleData->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  ASSERT_NE(W->History(), nullptr) << W->HistoryError().toStdString();
  std::vector<TStoredResult> kept = W->History()->Results();
  ASSERT_EQ(kept.size(), 3u);
  QStringList first;
  for (int c = 0; c < 11; ++c) first << W->SGData->Cells(c, 1);
  EXPECT_TRUE(std::any_of(kept.begin(), kept.end(), [&](const TStoredResult& r) { return r.texts == first; }));
  // The values are the records' own, which the texts show cut after their
  // last digit (0.1 μΩ here); the phases a single-phase record does not show
  // have none.
  int unrounded = 0;
  for (const TStoredResult& r : kept) {
    for (int p = 0; p < 3; ++p) {
      const std::optional<double> text = OhmsOfText(r.texts[8 + p]);
      ASSERT_EQ(bool(text), bool(r.ohms[size_t(p)])) << r.texts.join(' ').toStdString();
      if (!text) continue;
      EXPECT_GE(*r.ohms[size_t(p)], *text - 1e-12) << r.texts.join(' ').toStdString();
      EXPECT_LT(*r.ohms[size_t(p)], *text + 0.1e-6) << r.texts.join(' ').toStdString();
      unrounded += *r.ohms[size_t(p)] != *text ? 1 : 0;
    }
  }
  EXPECT_GT(unrounded, 0);

  W.reset();  // the program ends and starts again
  MakeWindow();
  ASSERT_NE(W->History(), nullptr);
  EXPECT_EQ(W->History()->Results().size(), 3u);
}

// A file in the store's place that is no store (damaged, or a stranger's):
// the upload completes, the operator is told once what was found, and the
// results go to a fresh store beside it; the file itself is left as it was.
TEST_F(MainDevice, AStoreThatIsNoDatabaseIsLeftAloneAndResultsGoBesideIt) {
  StartSim({QStringLiteral("--records"), QStringLiteral("2")});
  const QString file = QDir(SettingsDir()).filePath(QStringLiteral("results.sqlite"));
  QFile broken(file);
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write(QByteArray(4096, 'x'));
  broken.close();
  Connect();
  W->BtnSampleData->click();
  EXPECT_EQ(W->Params.giDataCount, 2);
  EXPECT_FALSE(W->SGData->Cells(8, 2).isEmpty());
  ASSERT_EQ(Msgs.Boxes.size(), 1) << Msgs.Texts().join('|').toStdString();
  EXPECT_TRUE(Msgs.Boxes[0].text.startsWith(QStringLiteral("历史记录数据库已损坏（")))
      << Msgs.Boxes[0].text.toStdString();
  EXPECT_TRUE(Msgs.Boxes[0].text.endsWith(QStringLiteral("），只读打开；请从备份恢复或导出可读部分")));
  const QString fresh = W->HistoryService().FreshFile();
  EXPECT_TRUE(Msgs.Boxes[0].detail.contains(fresh)) << Msgs.Boxes[0].detail.toStdString();
  W->BtnSampleData->click();
  EXPECT_EQ(Msgs.Boxes.size(), 1);
  EXPECT_EQ(W->Params.giDataCount, 2);
  QFile again(file);
  ASSERT_TRUE(again.open(QIODevice::ReadOnly));
  EXPECT_EQ(again.readAll(), QByteArray(4096, 'x'));
  TResultStore beside(fresh);
  EXPECT_EQ(beside.Results().size(), 2u);
}

// A store that opens but refuses to store (here a rule of the database, as a
// full disk would) is reported every time; the history tab says why until a
// result is stored again, and what waited is stored then.
TEST_F(MainDevice, AHistoryThatRefusesAResultIsToldEveryTimeAndTakesItLater) {
  StartSim({QStringLiteral("--records"), QStringLiteral("2")});
  ASSERT_NE(W->History(), nullptr) << W->HistoryError().toStdString();
  const QString file = QDir(SettingsDir()).filePath(QStringLiteral("results.sqlite"));
  auto rule = [&](const QString& sql) {
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("rule"));
      db.setDatabaseName(file);
      ASSERT_TRUE(db.open());
      QSqlQuery q(db);
      ASSERT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("rule"));
  };
  rule(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON results BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END"));
  Connect();
  W->BtnSampleData->click();
  EXPECT_EQ(W->Params.giDataCount, 2);
  ASSERT_EQ(Msgs.Boxes.size(), 1) << Msgs.Texts().join('|').toStdString();
  EXPECT_TRUE(Msgs.Boxes[0].detail.contains(QStringLiteral("磁盘已满"))) << Msgs.Boxes[0].detail.toStdString();
  // An archived result after it is told too, not lost without a word.
  W->Params.strResultA = QStringLiteral("45.5 μΩ");
  W->ArchiveResult();
  ASSERT_EQ(Msgs.Boxes.size(), 2) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(Msgs.Boxes[1].text, QStringLiteral("测试结果未能存入历史记录，表格中的数据不受影响。"));
  W->pgc->setCurrentIndex(2);
  EXPECT_TRUE(W->tsHistory->lblStatus->text().startsWith(QStringLiteral("最近的测试结果未能存入历史记录：磁盘已满")))
      << W->tsHistory->lblStatus->text().toStdString();
  EXPECT_TRUE(W->tsHistory->lblStatus->text().contains(QStringLiteral("（3 条等待重试）")))
      << W->tsHistory->lblStatus->text().toStdString();
  EXPECT_EQ(W->tsHistory->Model->rowCount(), 0);

  W->pgc->setCurrentIndex(0);
  rule(QStringLiteral("DROP TRIGGER refuse"));
  W->BtnSampleData->click();  // the same two records again: known by then
  EXPECT_EQ(Msgs.Boxes.size(), 2);
  W->pgc->setCurrentIndex(2);
  EXPECT_TRUE(W->tsHistory->lblStatus->text().startsWith(QStringLiteral("共 3 条结果")))
      << W->tsHistory->lblStatus->text().toStdString();
}

}  // namespace

namespace {

// "历史记录" shows what was uploaded, judged; after a restart too; a maximum
// set in "评估标准" turns the verdicts.
TEST_F(MainDevice, TheHistoryTabShowsTheUploadJudgedAlsoAfterARestart) {
  StartSim({QStringLiteral("--records"), QStringLiteral("3")});
  Connect();
  W->BtnSampleData->click();
  ASSERT_EQ(W->Params.giDataCount, 3);
  W.reset();  // the program ends and starts again
  MakeWindow();
  ASSERT_EQ(W->pgc->count(), 3);
  EXPECT_EQ(W->pgc->tabText(2), QStringLiteral("历史记录"));
  W->pgc->setCurrentIndex(2);
  THistoryModel* model = W->tsHistory->Model;
  ASSERT_EQ(model->rowCount(), 3) << W->tsHistory->lblStatus->text().toStdString();
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(model->index(r, 14).data().toString(), QStringLiteral("合格")) << r;
    EXPECT_FALSE(model->index(r, 11).data().toString().isEmpty()) << r;
  }
  const QString device = model->index(0, 2).data().toString();
  // Newest first.
  EXPECT_GE(model->index(0, 1).data().toString(), model->index(2, 1).data().toString());

  QTimer::singleShot(0, [] {
    auto* dlg = qobject_cast<TFrmCriteria*>(QApplication::activeModalWidget());
    ASSERT_NE(dlg, nullptr);
    dlg->edtMax->setText(QStringLiteral("0.1"));
    dlg->BtnOK->click();
  });
  W->tsHistory->cbDevice->setEditText(device);
  W->tsHistory->btnCriteria->click();
  ASSERT_GT(model->rowCount(), 0);
  for (int r = 0; r < model->rowCount(); ++r) {
    EXPECT_EQ(model->index(r, 2).data().toString(), device);
    EXPECT_EQ(model->index(r, 14).data().toString(), QStringLiteral("不合格")) << r;
    EXPECT_TRUE(model->index(r, 14).data(Qt::ToolTipRole).toString().contains(QStringLiteral("超过上限 0.1 μΩ")));
  }  // The trend of the device: one point per result and phase measured, the
  // maximum as a line.
  ASSERT_TRUE(W->tsHistory->cvTrend->isVisible());
  for (int p = 0; p < 3; ++p) {
    int measured = 0;
    for (int r = 0; r < model->rowCount(); ++r) measured += model->index(r, 8 + p).data().toString().isEmpty() ? 0 : 1;
    EXPECT_EQ(W->tsHistory->Phase[p]->count(), measured) << p;
  }
  ASSERT_EQ(W->tsHistory->MaxLine->count(), 2);
  EXPECT_DOUBLE_EQ(W->tsHistory->MaxLine->at(0).y(), 0.1);
  W->resize(1100, 700);
  W->grab().save(QStringLiteral(QK_TEST_OUTPUT_DIR "/history-tab.png"));  // to be looked at
}

}  // namespace

namespace {

// A new upload is seen from its first record: a view scrolled down to the
// end of an earlier upload starts at the top again.
TEST_F(MainDevice, ANewUploadStartsTheViewAtTheTop) {
  StartSim({QStringLiteral("--records"), QStringLiteral("60")});
  Connect();
  W->BtnSampleData->click();
  ASSERT_EQ(W->Params.giDataCount, 60);
  W->pgc->setCurrentWidget(W->tsMachine);
  QApplication::processEvents();
  QScrollBar* bar = W->SGData->verticalScrollBar();
  bar->setValue(bar->maximum());
  ASSERT_GT(bar->value(), 0);
  W->BtnSampleData->click();
  EXPECT_EQ(bar->value(), 0);
  EXPECT_TRUE(W->SGData->visualRect(W->SGData->model()->index(0, 0)).isValid());
}

}  // namespace
