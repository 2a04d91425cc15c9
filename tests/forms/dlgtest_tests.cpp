// The test dialog: layout, lists, parameter check, results, closing.
#include <QDir>
#include <QChartView>
#include <QGroupBox>
#include <QPainter>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>

#include "main_fixture.h"

namespace {

class DlgTest : public ::testing::Test {
 protected:
  void SetUp() override { P = TWorkingParams{}; }
  void TearDown() override {
    Dlg.reset();
    P = TWorkingParams{};
  }
  // A dialog as the opener builds it, shown.
  void Open(const QStringList& ranges = {QStringLiteral("100A"), QStringLiteral("200A")}, int selected = 0) {
    Dlg = std::make_unique<TFrmTest>(TTestContext{&P, nullptr, {}, {}, {}});
    Dlg->CBCurrentStep->clear();
    Dlg->CBCurrentStep->addItems(ranges);
    Dlg->CBCurrentStep->setCurrentIndex(selected);
    Dlg->show();
  }
  // Chooses a range as the user does.
  void ChooseRange(int index) {
    Dlg->CBCurrentStep->setCurrentIndex(index);
    emit Dlg->CBCurrentStep->activated(index);
  }
  TRecordingMessages Msgs;
  TWorkingParams P;
  std::unique_ptr<TFrmTest> Dlg;
};

TEST_F(DlgTest, LayoutListsAndGrid) {
  P.strDevice = QStringLiteral("D-7");
  P.strTestUser = QStringLiteral("王五");
  P.strTestAdd = QStringLiteral("二号站");
  P.iTestTime = 12;
  Open();
  EXPECT_EQ(Dlg->windowTitle(), QStringLiteral("测试"));
  // The test's course stands to the right of the parameters, which keep
  // their places.
  EXPECT_EQ(Dlg->size(), QSize(1006, 376));
  EXPECT_GE(Dlg->ChartView->geometry().left(), Dlg->GroupBox1->geometry().right());
  EXPECT_LT(Dlg->ChartView->geometry().bottom(), Dlg->Panel1->geometry().top());
  EXPECT_EQ(Dlg->GroupBox1->geometry(), QRect(16, 8, 553, 312));
  EXPECT_EQ(Dlg->GroupBox1->title(), QStringLiteral("测试参数"));
  // 其它参数's frame stays inside 测试参数's and clear of the bottom panel:
  // its lower edge is in view.
  EXPECT_EQ(Dlg->GroupBox2->geometry(), QRect(24, 256, 537, 60));
  EXPECT_LT(Dlg->GroupBox2->geometry().bottom(), Dlg->GroupBox1->geometry().bottom());
  EXPECT_LT(Dlg->GroupBox1->geometry().bottom(), Dlg->Panel1->geometry().top());
  EXPECT_EQ(Dlg->GroupBox2->title(), QStringLiteral("其它参数"));
  EXPECT_EQ(Dlg->TSData->geometry(), QRect(8, 56, 521, 161));
  EXPECT_EQ(Dlg->BtnTest->geometry(), QRect(448, 22, 75, 25));
  EXPECT_EQ(Dlg->BtnTest->text(), QStringLiteral("测试"));
  EXPECT_EQ(Dlg->BtnTest->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(Dlg->BtnOK->text(), QStringLiteral("归档"));
  EXPECT_EQ(Dlg->BtnOK->geometry(), QRect(128, 15, 73, 25));
  EXPECT_EQ(Dlg->btnPrint->text(), QStringLiteral("仪器打印"));
  EXPECT_EQ(Dlg->btnPrint->geometry(), QRect(250, 15, 89, 25));
  EXPECT_EQ(Dlg->BtnCancel->text(), QStringLiteral("退出"));
  EXPECT_EQ(Dlg->BtnCancel->geometry(), QRect(390, 15, 75, 25));
  EXPECT_EQ(Dlg->Panel1->geometry(), QRect(0, 320, 1006, 56));
  EXPECT_EQ(Dlg->CBCurrentStep->geometry().topLeft(), QPoint(80, 24));
  EXPECT_EQ(Dlg->cbbPhaseSelect->geometry().topLeft(), QPoint(208, 24));
  EXPECT_EQ(Dlg->cbTestTime->geometry().topLeft(), QPoint(352, 24));
  EXPECT_EQ(Dlg->EdtDeviceNum->geometry(), QRect(80, 22, 97, 21));
  EXPECT_FALSE(Dlg->CBCurrentStep->isEditable());
  EXPECT_FALSE(Dlg->cbbPhaseSelect->isEditable());
  EXPECT_TRUE(Dlg->cbTestTime->isEditable());
  ASSERT_EQ(Dlg->cbbPhaseSelect->count(), 2);
  EXPECT_EQ(Dlg->cbbPhaseSelect->itemText(0), QStringLiteral("单相"));
  EXPECT_EQ(Dlg->cbbPhaseSelect->currentText(), QStringLiteral("三相"));
  EXPECT_EQ(Dlg->cbTestTime->count(), 56);  // 100A: 5 to 60
  EXPECT_EQ(Dlg->cbTestTime->itemText(55), QStringLiteral("60"));
  EXPECT_EQ(Dlg->cbTestTime->currentText(), QStringLiteral("12"));
  EXPECT_EQ(Dlg->EdtDeviceNum->text(), QStringLiteral("D-7"));
  EXPECT_EQ(Dlg->EdtTestUser->text(), QStringLiteral("王五"));
  EXPECT_EQ(Dlg->EdtTestAdd->text(), QStringLiteral("二号站"));

  TStringGrid* g = Dlg->TSData;
  EXPECT_EQ(g->ColCount(), 4);
  EXPECT_EQ(g->RowCount(), 4);
  EXPECT_EQ(g->ColWidths(0), 95);
  for (int c = 1; c <= 3; ++c) EXPECT_EQ(g->ColWidths(c), 130);
  EXPECT_EQ(g->RowHeights(0), 24);
  for (int r = 1; r <= 3; ++r) EXPECT_EQ(g->RowHeights(r), 40);
  EXPECT_EQ(g->Cells(1, 0), QStringLiteral("测试电阻"));
  EXPECT_EQ(g->Cells(2, 0), QStringLiteral("测试电压"));
  EXPECT_EQ(g->Cells(3, 0), QStringLiteral("测试电流"));
  EXPECT_EQ(g->Cells(0, 1), QStringLiteral("A相"));
  EXPECT_EQ(g->Cells(0, 3), QStringLiteral("C相"));
  EXPECT_EQ(g->font().pixelSize(), 16);
  EXPECT_EQ(g->Row(), -1);  // nothing highlighted
  EXPECT_EQ(g->verticalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
  EXPECT_TRUE(Msgs.Boxes.isEmpty());
}

TEST_F(DlgTest, StoredLoadTimeAboveThirtyOpensAsFive) {
  P.iTestTime = 45;
  Open();
  EXPECT_EQ(Dlg->cbTestTime->currentText(), QStringLiteral("5"));
  Dlg.reset();
  P.iTestTime = 30;
  Open();
  EXPECT_EQ(Dlg->cbTestTime->currentText(), QStringLiteral("30"));
}

TEST_F(DlgTest, OpensOnTheFirstRangeWhateverTheOpenerSelected) {
  Open({QStringLiteral("100A"), QStringLiteral("200A")}, 1);
  EXPECT_EQ(Dlg->CBCurrentStep->currentText(), QStringLiteral("100A"));
  EXPECT_EQ(Dlg->cbTestTime->count(), 56);
}

TEST_F(DlgTest, RangeChangeRebuildsTheLoadTimes) {
  Open();
  Dlg->cbTestTime->setEditText(QStringLiteral("45"));
  ChooseRange(1);  // 200A
  EXPECT_EQ(Dlg->cbTestTime->count(), 26);
  EXPECT_EQ(Dlg->cbTestTime->itemText(25), QStringLiteral("30"));
  EXPECT_EQ(Dlg->cbTestTime->currentText(), QStringLiteral("5"));
  ChooseRange(0);
  EXPECT_EQ(Dlg->cbTestTime->count(), 56);
  EXPECT_EQ(Dlg->cbTestTime->currentText(), QStringLiteral("5"));
  Dlg->cbTestTime->setEditText(QStringLiteral("25"));
  ChooseRange(1);
  EXPECT_EQ(Dlg->cbTestTime->currentText(), QStringLiteral("25"));
  EXPECT_TRUE(Msgs.Boxes.isEmpty());
}

TEST_F(DlgTest, RangeChangeWithANonIntegerLoadTimeIsReportedAndKeepsTheList) {
  Open();
  Dlg->cbTestTime->setEditText(QStringLiteral("abc"));
  ChooseRange(1);
  ASSERT_EQ(Msgs.Boxes.size(), 1);
  EXPECT_EQ(Msgs.Boxes[0].icon, TMsgIcon::Error);
  EXPECT_TRUE(Msgs.Boxes[0].text.contains(QStringLiteral("abc")));
  EXPECT_EQ(Dlg->cbTestTime->count(), 56);
  EXPECT_EQ(Dlg->cbTestTime->currentText(), QStringLiteral("abc"));
}

struct TCheckCase {
  const char* id;
  const char* range;
  const char* phase;
  const char* time;
  const char* device;
  const char* user;
  const char* place;
  const char* message;  // empty: the check passes
  const char* focus;
};

const char* const k60 = "“时间”范围在5~60 秒之间！\n\n请重新输入！";
const char* const k30 = "“时间”范围在5~30 秒之间！\n\n请重新输入！";
const char* const kTen = "一二三四五六七八九十";
const char* const kEleven = "一二三四五六七八九十百";

void PrintTo(const TCheckCase& c, std::ostream* os) {
  *os << c.id;
}

class DlgCheck : public DlgTest, public ::testing::WithParamInterface<TCheckCase> {};

TEST_P(DlgCheck, CheckStopsAtTheFirstInvalidEntry) {
  const TCheckCase& c = GetParam();
  Open({QStringLiteral("100A"), QStringLiteral("200A"), QStringLiteral("100a")});
  const int range = Dlg->CBCurrentStep->findText(QString::fromUtf8(c.range));
  Dlg->CBCurrentStep->setCurrentIndex(range);
  Dlg->cbbPhaseSelect->addItem(QStringLiteral("两相"));
  Dlg->cbbPhaseSelect->setCurrentIndex(Dlg->cbbPhaseSelect->findText(QString::fromUtf8(c.phase)));
  Dlg->cbTestTime->setEditText(QString::fromUtf8(c.time));
  Dlg->EdtDeviceNum->setText(QString::fromUtf8(c.device));
  Dlg->EdtTestUser->setText(QString::fromUtf8(c.user));
  Dlg->EdtTestAdd->setText(QString::fromUtf8(c.place));
  const bool ok = Dlg->CheckParams();
  const QString message = QString::fromUtf8(c.message);
  EXPECT_EQ(ok, message.isEmpty());
  if (message.isEmpty()) {
    EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  } else {
    ASSERT_EQ(Msgs.Boxes.size(), 1);
    EXPECT_EQ(Msgs.Boxes[0].text, message);
    EXPECT_EQ(Msgs.Boxes[0].icon, TMsgIcon::Information);
    EXPECT_EQ(Msgs.Boxes[0].caption, QStringLiteral("三通道回路电阻测试仪"));
    ASSERT_NE(Dlg->focusWidget(), nullptr);
    // An editable combo box focuses its line edit.
    QWidget* f = Dlg->focusWidget();
    if (qobject_cast<QLineEdit*>(f) && f->parentWidget() && qobject_cast<QComboBox*>(f->parentWidget())) {
      f = f->parentWidget();
    }
    EXPECT_EQ(f->objectName(), QLatin1String(c.focus));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, DlgCheck,
    ::testing::Values(
        TCheckCase{"ok_60s", "100A", "三相", "60", "", "", "", "", ""},
        TCheckCase{"ok_5s_trimmed", "100A", "单相", " 5 ", "D1", "", "", "", ""},
        TCheckCase{"ok_200A_30s", "200A", "三相", "30", "", "", "", "", ""},
        TCheckCase{"time_4", "100A", "三相", "4", "", "", "", k60, "cbTestTime"},
        TCheckCase{"time_61", "100A", "三相", "61", "", "", "", k60, "cbTestTime"},
        TCheckCase{"time_31_200A", "200A", "三相", "31", "", "", "", k30, "cbTestTime"},
        TCheckCase{"time_empty", "100A", "三相", "", "", "", "", k60, "cbTestTime"},
        TCheckCase{"time_1x", "100A", "三相", "1x", "", "", "", k60, "cbTestTime"},
        TCheckCase{"range_100a", "100a", "三相", "10", "", "", "", "请正确选择“电流档位”！", "CBCurrentStep"},
        TCheckCase{"time_40_other_range", "100a", "三相", "40", "", "", "", k30, "cbTestTime"},
        TCheckCase{"phase", "100A", "两相", "10", "", "", "", "请正确选择“相”！", "cbbPhaseSelect"},
        TCheckCase{"device_21", "100A", "三相", "10", "123456789012345678901", "", "",
                   "“设备编号”字符数应在20个字符以内\n\n请重新输入！", "EdtDeviceNum"},
        TCheckCase{"ok_ten_chinese", "100A", "三相", "10", "12345678901234567890", kTen, "", "", ""},
        TCheckCase{"tester_eleven_chinese", "100A", "三相", "10", "", kEleven, "", "“测试人员”字符数应在20个字符以内\n\n请重新输入！",
                   "EdtTestUser"},
        TCheckCase{"place_21_bytes", "100A", "三相", "10", "", "", "一二三四五六七八九十x",
                   "“测试地点”字符数应在20个字符以内\n\n请重新输入！", "EdtTestAdd"},
        TCheckCase{"ok_place_trimmed", "100A", "三相", "10", "", "", " 一二三四五六七八九十 ", "", ""}));

TEST_F(DlgTest, RefusedCheckKeepsWhatEarlierStepsStored) {
  Open();
  ChooseRange(1);  // 200A
  Dlg->cbbPhaseSelect->setCurrentIndex(0);
  Dlg->cbTestTime->setEditText(QStringLiteral("20"));
  Dlg->EdtDeviceNum->setText(QStringLiteral(" D9 "));
  Dlg->EdtTestUser->setText(QStringLiteral("赵六"));
  Dlg->EdtTestAdd->setText(QString::fromUtf8(kEleven));
  P.strTestAdd = QStringLiteral("old");
  EXPECT_FALSE(Dlg->CheckParams());
  EXPECT_EQ(P.strCurrentStep, QStringLiteral("200A"));
  EXPECT_EQ(P.strPhase, QStringLiteral("单相"));
  EXPECT_EQ(P.iTestTime, 20);
  EXPECT_EQ(P.iCurrentStep, 1);
  EXPECT_EQ(P.iPhase, 1);
  EXPECT_EQ(P.strDevice, QStringLiteral("D9"));
  EXPECT_EQ(P.strTestUser, QStringLiteral("赵六"));
  EXPECT_EQ(P.strTestAdd, QStringLiteral("old"));
}

TEST_F(DlgTest, TestButtonChecksAndSetsThePhaseRows) {
  Open();
  Dlg->cbbPhaseSelect->setCurrentIndex(0);
  Dlg->TSData->SetCells(1, 1, QStringLiteral("x"));
  Dlg->cbTestTime->setEditText(QStringLiteral("99"));
  Dlg->BtnTest->click();
  EXPECT_EQ(Msgs.Texts(), QStringList{QString::fromUtf8(k60)});
  EXPECT_EQ(Dlg->TSData->Cells(0, 1), QStringLiteral("单相"));
  EXPECT_TRUE(Dlg->TSData->Cells(0, 2).isEmpty());
  EXPECT_TRUE(Dlg->TSData->Cells(0, 3).isEmpty());
  EXPECT_TRUE(Dlg->TSData->Cells(1, 1).isEmpty());
  Dlg->cbbPhaseSelect->setCurrentIndex(1);
  Dlg->BtnTest->click();
  EXPECT_EQ(Dlg->TSData->Cells(0, 1), QStringLiteral("A相"));
  EXPECT_EQ(Dlg->TSData->Cells(0, 2), QStringLiteral("B相"));
  EXPECT_EQ(Dlg->TSData->Cells(0, 3), QStringLiteral("C相"));
}

TEST_F(DlgTest, SaveResultsCopiesTheResistanceColumn) {
  Open();
  Dlg->TSData->SetCells(1, 1, QStringLiteral(" 52.4 μΩ "));
  Dlg->TSData->SetCells(1, 2, QStringLiteral("61.9 μΩ"));
  Dlg->TSData->SetCells(2, 3, QStringLiteral("voltage"));
  P.strResultC = QStringLiteral("stale");
  EXPECT_TRUE(Dlg->SaveResults());
  EXPECT_EQ(P.strResultA, QStringLiteral("52.4 μΩ"));
  EXPECT_EQ(P.strResultB, QStringLiteral("61.9 μΩ"));
  EXPECT_TRUE(P.strResultC.isEmpty());
  Dlg->cbTestTime->setEditText(QStringLiteral("0"));
  P.strResultA = QStringLiteral("kept");
  EXPECT_FALSE(Dlg->SaveResults());
  EXPECT_EQ(P.strResultA, QStringLiteral("kept"));
}

TEST_F(DlgTest, ClosingRequiresValidParameters) {
  Open();
  Dlg->cbTestTime->setEditText(QString());
  Dlg->BtnCancel->click();
  EXPECT_TRUE(Dlg->isVisible());
  EXPECT_EQ(Msgs.Texts(), QStringList{QString::fromUtf8(k60)});
  Msgs.Clear();
  Dlg->close();  // title-bar close
  EXPECT_TRUE(Dlg->isVisible());
  EXPECT_EQ(Msgs.Boxes.size(), 1);
  Msgs.Clear();
  QTest::keyClick(Dlg.get(), Qt::Key_Escape);
  EXPECT_TRUE(Dlg->isVisible());
  EXPECT_EQ(Msgs.Boxes.size(), 1);
  Msgs.Clear();
  Dlg->TSData->SetCells(1, 3, QStringLiteral("47.3 μΩ"));
  Dlg->cbTestTime->setEditText(QStringLiteral("15"));
  Dlg->EdtTestUser->setText(QStringLiteral("  钱七"));
  QTest::keyClick(Dlg.get(), Qt::Key_Escape);
  EXPECT_FALSE(Dlg->isVisible());
  EXPECT_EQ(Dlg->result(), QDialog::Rejected);
  EXPECT_TRUE(Msgs.Boxes.isEmpty());
  EXPECT_EQ(P.iTestTime, 15);
  EXPECT_EQ(P.strTestUser, QStringLiteral("钱七"));
  EXPECT_EQ(P.strResultC, QStringLiteral("47.3 μΩ"));
}

TEST_F(DlgTest, EscapeDoesNothingWhileTheExitButtonIsDisabled) {
  Open();
  Dlg->BtnCancel->setEnabled(false);
  QTest::keyClick(Dlg.get(), Qt::Key_Escape);
  EXPECT_TRUE(Dlg->isVisible());
}

TEST_F(DlgTest, GridCellsAreDrawnRaisedAndCentred) {
  Open();
  Dlg->TSData->SetCells(2, 1, QStringLiteral("8.2 mV"));
  PumpOrSleep(0);
  const QImage img = Dlg->TSData->viewport()->grab().toImage();
  const QRect cell = Dlg->TSData->visualRect(Dlg->TSData->Model()->index(0, 1));
  // Text centred: ink in the middle third, none near the edges.
  int left = cell.right(), right = cell.left();
  const QColor base = QApplication::palette().color(QPalette::Base);
  for (int x = cell.left() + 1; x < cell.right(); ++x) {
    for (int y = cell.top() + 1; y < cell.bottom(); ++y) {
      if (QColor(img.pixel(x, y)) != base) {
        left = std::min(left, x);
        right = std::max(right, x);
      }
    }
  }
  ASSERT_LT(left, right);
  EXPECT_LE(std::abs((left + right) / 2 - cell.center().x()), 3);
  // Header cells: white top edge, black bottom edge.
  QHeaderView* cols = Dlg->TSData->horizontalHeader();
  const QImage h = cols->grab().toImage();
  const int x = cols->sectionViewportPosition(0) + cols->sectionSize(0) / 2;
  EXPECT_EQ(QColor(h.pixel(x, 0)), QColor(Qt::white));
}

// Rows of img within area that hold ink (text drawn in black).
int InkRows(const QImage& img, const QRect& area) {
  int rows = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (qGray(img.pixel(x, y)) < 110) {
        ++rows;
        break;
      }
    }
  }
  return rows;
}

// Ink rows of text drawn in font with nothing around it to cut it, on the
// background of the grid's captions.
int FreeInkRows(const QFont& font, const QString& text) {
  QImage img(400, 120, QImage::Format_RGB32);
  img.fill(QApplication::palette().color(QPalette::Button));
  QPainter p(&img);
  p.setFont(font);
  p.setPen(Qt::black);
  p.drawText(QPointF(20, 70), text);
  p.end();
  return InkRows(img, img.rect());
}

// The captions of the live grid are whole: "测试电阻" keeps the lower strokes
// of 阻, the row captions are drawn in the grid's 16-pixel font like the
// column captions. The dialog is also written to a PNG to be looked at.
TEST_F(DlgTest, GridCaptionsAreDrawnWholeInTheGridsFont) {
  Open();
  const QFont gridFont = Dlg->TSData->font();
  ASSERT_EQ(gridFont.pixelSize(), 16);
  EXPECT_EQ(Dlg->TSData->horizontalHeader()->font().pixelSize(), 16);
  EXPECT_EQ(Dlg->TSData->verticalHeader()->font().pixelSize(), 16);
  PumpOrSleep(0);
  const QString shot = QDir(QStringLiteral(QK_TEST_OUTPUT_DIR)).filePath(QStringLiteral("test-dialog.png"));
  Dlg->grab().save(shot);

  QHeaderView* cols = Dlg->TSData->horizontalHeader();
  const QImage h = cols->grab().toImage();
  for (int c = 1; c <= 3; ++c) {
    const QString caption = Dlg->TSData->Cells(c, 0);
    // Inside the raised edges.
    const QRect area(cols->sectionViewportPosition(c - 1) + 2, 1, cols->sectionSize(c - 1) - 4, h.height() - 3);
    EXPECT_EQ(InkRows(h, area), FreeInkRows(gridFont, caption)) << caption.toStdString();
  }
  QHeaderView* rows = Dlg->TSData->verticalHeader();
  const QImage v = rows->grab().toImage();
  for (int r = 1; r <= 3; ++r) {
    const QString caption = Dlg->TSData->Cells(0, r);
    const QRect area(2, rows->sectionViewportPosition(r - 1) + 1, v.width() - 4, rows->sectionSize(r - 1) - 3);
    EXPECT_EQ(InkRows(v, area), FreeInkRows(gridFont, caption)) << caption.toStdString();
  }
}

// The load-time list holds 5 to the range's maximum; a time typed and
// confirmed with Enter is used but not added to it.
TEST_F(DlgTest, EnterInTheLoadTimeAddsNoEntry) {
  Open();
  ASSERT_EQ(Dlg->cbTestTime->count(), 56);
  Dlg->cbTestTime->lineEdit()->selectAll();
  QTest::keyClicks(Dlg->cbTestTime->lineEdit(), QStringLiteral("7"));
  QTest::keyClick(Dlg->cbTestTime->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(Dlg->cbTestTime->count(), 56);
  EXPECT_EQ(Dlg->cbTestTime->currentText(), QStringLiteral("7"));
  QTest::keyClicks(Dlg->cbTestTime->lineEdit(), QStringLiteral("99"));
  QTest::keyClick(Dlg->cbTestTime->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(Dlg->cbTestTime->count(), 56);
}

}  // namespace
