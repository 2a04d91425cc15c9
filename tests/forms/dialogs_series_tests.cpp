// The serial-number dialog: clicks against qk4820-sim over a pty, the USB
// path through a scripted bridge, and the entry parsing.
#include <QApplication>
#include <QLabel>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "comm/UCommUnit.h"
#include "data/UDataCenter.h"
#include "platform/Tick.h"
#include "forms/UDlgSeries.h"
#include "platform/IniFile.h"
#include "support/FakeUsbBridge.h"
#include "support/SimProcess.h"
#include "support/TestServices.h"

namespace {

QString Hex(const TBuffer& b, std::size_t from, std::size_t n) {
  QStringList parts;
  for (std::size_t i = from; i < from + n && i < b.size(); ++i) parts << QString::asprintf("%02X", b[i]);
  return parts.join(' ');
}

// ASCII form of an entry for test names.
std::string Shown(const char* entry) {
  std::string out = "'";
  for (const char* p = entry; *p; ++p) out += (static_cast<unsigned char>(*p) < 0x80) ? *p : '?';
  return out + "'";
}

struct TParseCase {
  const char* entry;
  const char* bytes;
};
void PrintTo(const TParseCase& c, std::ostream* os) { *os << Shown(c.entry); }

class ParseSeriesTable : public ::testing::TestWithParam<TParseCase> {};

TEST_P(ParseSeriesTable, TurnsTheEntryIntoNumberBytes) {
  TBuffer b(200, 0xEE);
  const int n = TFrmSeries::ParseSeries(QString::fromUtf8(GetParam().entry), b);
  EXPECT_EQ(Hex(b, 1, n), GetParam().bytes);
  EXPECT_EQ(b[0], 0xEE);                        // byte 0 is left to the caller
  EXPECT_EQ(b[static_cast<std::size_t>(n) + 1], 0xEE);  // nothing beyond
}

INSTANTIATE_TEST_SUITE_P(
    Entries, ParseSeriesTable,
    ::testing::Values(TParseCase{"0123456789ABCDEF", "01 23 45 67 89 AB CD EF"},
                      TParseCase{"1-2", "01 02"}, TParseCase{"000000", "00 00 00"},
                      TParseCase{"12 34 56 78 9A B", "12 34 56 78 9A 0B"},
                      TParseCase{"abcdef0123456789", "AB CD EF 01 23 45 67 89"},
                      TParseCase{"", ""}, TParseCase{"xyz-+", ""}, TParseCase{"A", "0A"},
                      TParseCase{"123", "12 03"}, TParseCase{"1x23", "01 23"},
                      TParseCase{"--fF", "FF"}, TParseCase{"１２", ""},  // full-width digits are no digits
                      TParseCase{"g1h2", "01 02"}));

TEST(ParseSeries, StopsAtTheEndOfTheBuffer) {
  TBuffer b(4, 0);
  EXPECT_EQ(TFrmSeries::ParseSeries("11223344556677", b), 3);
  EXPECT_EQ(Hex(b, 0, 4), "00 11 22 33");
}

class SeriesDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    P = TWorkingParams{};
    P.giCommStyle = 1;
    // The pauses of the blocking transaction pass at once.
    TickSource::SetInstantSleep(true);
  }
  void TearDown() override {
    SetAppDir(QString());
    P.giCommStyle = 1;
    TickSource::Restore();
  }
  std::unique_ptr<TSimProcess> StartSim(const QStringList& args = {}) {
    P.giCommPort = 3;
    return StartSimOnPort(args, 3);
  }
  // The channel of the dialog's exchanges, from the working parameters.
  TCommSettings Comm() { return TCommSettings{P.giCommStyle, P.giCommPort, P.giBaudRate, &P.giUsbHandle}; }
  TRecordingMessages Boxes;
  TWorkingParams P;
};

TEST_F(SeriesDialog, OpensWithItsLayoutAndTheOpeningText) {
  TFrmSeries dlg(Comm());
  EXPECT_EQ(dlg.windowTitle(), "序列号");
  EXPECT_EQ(dlg.size(), QSize(229, 119));
  EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
  EXPECT_EQ(dlg.lblSeries->text(), "序列号：");
  EXPECT_EQ(dlg.EdtSeries->text(), "000000");
  EXPECT_EQ(dlg.EdtSeries->pos(), QPoint(80, 32));
  EXPECT_EQ(dlg.EdtSeries->width(), 121);
  EXPECT_EQ(dlg.BtnRead->text(), "读取");
  EXPECT_EQ(dlg.BtnSet->text(), "设置");
  EXPECT_EQ(dlg.BtnExit->text(), "退出");
  EXPECT_EQ(dlg.BtnRead->geometry(), QRect(24, 72, 57, 25));
  EXPECT_EQ(dlg.BtnSet->geometry(), QRect(88, 72, 57, 25));
  EXPECT_EQ(dlg.BtnExit->geometry(), QRect(152, 72, 57, 25));
}

TEST_F(SeriesDialog, ReadShowsSixteenUpperCaseDigits) {
  auto sim = StartSim();
  TFrmSeries dlg(Comm());
  dlg.show();
  dlg.BtnRead->click();
  EXPECT_EQ(dlg.EdtSeries->text(), "0123456789ABCDEF");
  // All 16 digits are in view at the field's designed size: with the cursor
  // after the last one nothing has scrolled out at the left, and the last
  // digit ends inside the field.
  QLineEdit* e = dlg.EdtSeries;
  EXPECT_EQ(e->width(), 121);
  e->setCursorPosition(16);
  const int y = e->height() / 2;
  EXPECT_EQ(e->cursorPositionAt(QPoint(e->textMargins().left() + 5, y)), 0);
  EXPECT_EQ(e->cursorPositionAt(QPoint(e->width() - 4, y)), 16);
  dlg.grab().save(QDir(QStringLiteral(QK_TEST_OUTPUT_DIR)).filePath(QStringLiteral("serial-number.png")));
  EXPECT_TRUE(Boxes.Boxes.isEmpty());
  EXPECT_EQ(sim->LogLines(), QStringList{"F6"});
}

TEST_F(SeriesDialog, ReadKeepsTheLeadingZeroOfSmallBytes) {
  auto sim = StartSim({"--serial", "0A00FF10abcdef01"});
  TFrmSeries dlg(Comm());
  dlg.BtnRead->click();
  EXPECT_EQ(dlg.EdtSeries->text(), "0A00FF10ABCDEF01");
}

TEST_F(SeriesDialog, SetSendsTheNineByteFrameAndALaterReadReturnsIt) {
  auto sim = StartSim();
  TFrmSeries dlg(Comm());
  dlg.show();
  dlg.EdtSeries->setText("  11223344556677889900 ");  // cut to 16 after trimming
  dlg.BtnSet->click();
  EXPECT_TRUE(Boxes.Boxes.isEmpty());
  ASSERT_TRUE(sim->WaitForLogLines(1));
  EXPECT_EQ(sim->LogLines(), QStringList{"F7 11 22 33 44 55 66 77 88"});

  dlg.EdtSeries->setText("000000");
  dlg.BtnRead->click();
  EXPECT_EQ(dlg.EdtSeries->text(), "1122334455667788");
}

struct TFrameCase {
  const char* entry;
  const char* frame;
};
void PrintTo(const TFrameCase& c, std::ostream* os) { *os << Shown(c.entry); }

class SeriesSetFrames : public SeriesDialog, public ::testing::WithParamInterface<TFrameCase> {};

TEST_P(SeriesSetFrames, AreAlwaysNineBytesWithZerosWhereTheEntryEnds) {
  auto sim = StartSim();
  TFrmSeries dlg(Comm());
  dlg.EdtSeries->setText(QString::fromUtf8(GetParam().entry));
  dlg.BtnSet->click();
  ASSERT_TRUE(sim->WaitForLogLines(1));
  EXPECT_EQ(sim->LogLines(), QStringList{GetParam().frame});
}

INSTANTIATE_TEST_SUITE_P(Entries, SeriesSetFrames,
                         ::testing::Values(TFrameCase{"", "F7 00 00 00 00 00 00 00 00"},
                                           TFrameCase{"000000", "F7 00 00 00 00 00 00 00 00"},
                                           TFrameCase{"12 34 56 78 9A BC", "F7 12 34 56 78 9A 0B 00 00"},
                                           TFrameCase{"0123456789ABCDEF0123",
                                                      "F7 01 23 45 67 89 AB CD EF"}));

TEST_F(SeriesDialog, AFailedExchangeShowsCommunicationFailedAndChangesNothing) {
  QTemporaryDir dir;
  SetAppDir(dir.path());
  TIniFile(SettingsFileName()).WriteString("Ports", "COM3", dir.path() + "/absent");
  TFrmSeries dlg(Comm());
  dlg.EdtSeries->setText("ABCD");
  dlg.BtnRead->click();
  dlg.BtnSet->click();
  ASSERT_EQ(Boxes.Boxes.size(), 2);
  for (const TMsgRequest& r : Boxes.Boxes) {
    EXPECT_EQ(r.text, "通讯失败！");
    EXPECT_EQ(r.icon, TMsgIcon::Warning);
    EXPECT_EQ(r.caption, "三通道回路电阻测试仪");
  }
  EXPECT_EQ(dlg.EdtSeries->text(), "ABCD");
}

TEST_F(SeriesDialog, AnIncompleteReplyIsAFailure) {
  auto sim = StartSim({"--truncate", "F6:8"});
  TFrmSeries dlg(Comm());
  dlg.BtnRead->click();
  EXPECT_EQ(Boxes.Texts(), QStringList{"通讯失败！"});
  EXPECT_EQ(dlg.EdtSeries->text(), "000000");
}

TEST_F(SeriesDialog, ReadsAndWritesOverTheUsbBridge) {
  TFakeUsbBridge bridge;
  P.giCommStyle = 0;
  TFrmSeries dlg(Comm());
  dlg.BtnRead->click();
  EXPECT_EQ(dlg.EdtSeries->text(), "0123456789ABCDEF");
  dlg.EdtSeries->setText("fedcba9876543210");
  dlg.BtnSet->click();
  EXPECT_EQ(bridge.Serial, (TBuffer{0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}));
  EXPECT_TRUE(Boxes.Boxes.isEmpty());

  // A reply of too few bytes over the bridge is a failure, not a number
  // made up from what the buffer held.
  bridge.ReadAnswers = {{SI_SUCCESS, {0xF6, 0x01}}, {SI_SUCCESS, {0xF6, 0x01}},
                        {SI_SUCCESS, {0xF6, 0x01}}, {SI_SUCCESS, {0xF6, 0x01}}};
  dlg.BtnRead->click();
  EXPECT_EQ(Boxes.Texts(), QStringList{"通讯失败！"});
  EXPECT_EQ(dlg.EdtSeries->text(), "fedcba9876543210");
}

TEST_F(SeriesDialog, ExecuteRunsModallyAndExitDestroysTheDialog) {
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* dlg = qobject_cast<TFrmSeries*>(QApplication::activeModalWidget());
    ASSERT_NE(dlg, nullptr);
    seen = true;
    dlg->BtnExit->click();
  });
  TFrmSeries::Execute(Comm(), nullptr);
  EXPECT_TRUE(seen);
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_EQ(qobject_cast<TFrmSeries*>(w), nullptr);
}

}  // namespace
