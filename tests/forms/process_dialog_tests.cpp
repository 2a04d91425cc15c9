// The progress dialog: layout, bars, animation, cancel, and that nothing
// closes it during an operation except its own release.
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include "forms/UDataFiles.h"
#include "forms/UDlgProcess.h"
#include "platform/EventPump.h"

namespace {

void FlushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

class ProcessDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    dlg = new TFrmProcess(nullptr);
    dlg->show();
  }
  void TearDown() override {
    if (dlg) dlg->Release();
    FlushDeletes();
  }
  QPointer<TFrmProcess> dlg;
};

TEST_F(ProcessDialog, LayoutAndControls) {
  EXPECT_EQ(dlg->size(), QSize(298, 167));
  EXPECT_TRUE(dlg->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_FALSE(dlg->isModal());
  auto* count = dlg->findChild<QProgressBar*>(QStringLiteral("PBCount"));
  auto* process = dlg->findChild<QProgressBar*>(QStringLiteral("PBProcess"));
  ASSERT_TRUE(count && process);
  EXPECT_EQ(count->orientation(), Qt::Vertical);
  EXPECT_EQ(count->geometry(), QRect(18, 21, 17, 76));
  EXPECT_EQ(process->geometry(), QRect(50, 21, 17, 76));
  auto* image = dlg->findChild<QLabel*>(QStringLiteral("Image1"));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->geometry(), QRect(140, 36, 32, 32));
  auto* tip = dlg->findChild<QLabel*>(QStringLiteral("lblTip"));
  ASSERT_TRUE(tip);
  EXPECT_EQ(tip->text(), QStringLiteral("系统正在检测数据，请稍候 ..."));
  dlg->SetTip(DataFiles::kProgressTip);
  EXPECT_EQ(tip->text(), QStringLiteral("正在进行Excel报表转换，请稍候..."));
  auto* cancel = dlg->findChild<QPushButton*>(QStringLiteral("BtnCancel"));
  ASSERT_TRUE(cancel);
  EXPECT_EQ(cancel->text(), QStringLiteral("取消"));
  EXPECT_EQ(cancel->geometry(), QRect(104, 124, 75, 25));
  EXPECT_EQ(cancel->cursor().shape(), Qt::PointingHandCursor);
  auto* timer = dlg->findChild<QTimer*>(QStringLiteral("Timer1"));
  ASSERT_TRUE(timer);
  EXPECT_EQ(timer->interval(), 100);
  EXPECT_TRUE(timer->isActive());
}

TEST_F(ProcessDialog, RangesAndPositions) {
  auto* count = dlg->findChild<QProgressBar*>(QStringLiteral("PBCount"));
  auto* process = dlg->findChild<QProgressBar*>(QStringLiteral("PBProcess"));
  dlg->SetCountRange(1, 2);
  dlg->SetProcessRange(1, 3);
  EXPECT_EQ(count->minimum(), 1);
  EXPECT_EQ(count->maximum(), 2);
  EXPECT_EQ(count->value(), 1);
  EXPECT_EQ(process->maximum(), 3);
  EXPECT_EQ(process->value(), 1);
  dlg->SetPositions(2, 2);
  EXPECT_EQ(count->value(), count->maximum());  // the left bar is full
  EXPECT_EQ(process->value(), 2);
  // a range wholly above the old maximum: maximum first keeps the minimum
  dlg->SetCountRange(10, 20);
  EXPECT_EQ(count->minimum(), 10);
  EXPECT_EQ(count->maximum(), 20);
  EXPECT_EQ(count->value(), 10);
}

TEST_F(ProcessDialog, AnimationCyclesThroughFourDrawnFrames) {
  ASSERT_EQ(dlg->Frames().size(), 4);
  for (int i = 0; i < 4; ++i) {
    const QImage a = dlg->Frames()[i].toImage();
    EXPECT_EQ(a.size(), QSize(32, 32));
    for (int j = i + 1; j < 4; ++j) EXPECT_NE(a, dlg->Frames()[j].toImage()) << i << " " << j;
  }
  EXPECT_EQ(dlg->FrameIndex(), 1);
  EXPECT_EQ(dlg->ImageIndex(), 0);
  std::vector<int> seen;
  for (int tick = 0; tick < 5; ++tick) {
    dlg->Timer1Timer();
    seen.push_back(dlg->ImageIndex());
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 0, 1}));
  auto* image = dlg->findChild<QLabel*>(QStringLiteral("Image1"));
  EXPECT_EQ(image->pixmap().toImage(), dlg->Frames()[1].toImage());
  dlg->ShowFrame(9);
  EXPECT_EQ(dlg->ImageIndex(), 3);
  dlg->ShowFrame(-2);
  EXPECT_EQ(dlg->ImageIndex(), 0);
}

TEST_F(ProcessDialog, CancelOnlySetsTheFlag) {
  auto* cancel = dlg->findChild<QPushButton*>(QStringLiteral("BtnCancel"));
  EXPECT_FALSE(dlg->Cancelled());
  QTest::mouseClick(cancel, Qt::LeftButton);
  QTest::mouseClick(cancel, Qt::LeftButton);
  EXPECT_TRUE(dlg->Cancelled());
  EXPECT_TRUE(dlg->isVisible());
}

TEST_F(ProcessDialog, EscPressesCancelAndNeverCloses) {
  QTest::keyClick(dlg, Qt::Key_Escape);
  EXPECT_TRUE(dlg->Cancelled());
  ASSERT_TRUE(dlg);
  EXPECT_TRUE(dlg->isVisible());
}

TEST_F(ProcessDialog, CloseRequestsAreRefusedUntilReleased) {
  EXPECT_FALSE(dlg->close());
  FlushDeletes();
  ASSERT_TRUE(dlg);
  EXPECT_TRUE(dlg->isVisible());
  CloseProgress(dlg);
  EXPECT_TRUE(dlg.isNull());
}

TEST_F(ProcessDialog, ReleaseClosesAndFrees) {
  QPointer<TFrmProcess> watch = dlg;
  dlg->Release();
  EXPECT_FALSE(watch->isVisible());
  FlushDeletes();
  EXPECT_TRUE(watch.isNull());
}

TEST_F(ProcessDialog, CancelBetweenCheckpointsIsSeenAtTheNext) {
  dlg->SetCountRange(1, 2);
  dlg->SetProcessRange(1, 3);
  EXPECT_FALSE(UpdateProgress(dlg, 1, 1));
  QTest::mouseClick(dlg->findChild<QPushButton*>(QStringLiteral("BtnCancel")), Qt::LeftButton);
  EXPECT_TRUE(UpdateProgress(dlg, 2, 2));
  EXPECT_EQ(dlg->findChild<QProgressBar*>(QStringLiteral("PBCount"))->value(), 2);
  EXPECT_TRUE(dlg->isVisible());
}

TEST_F(ProcessDialog, TheAnimationRunsOnlyWhileEventsFlow) {
  const int before = dlg->FrameIndex();
  QThread::msleep(250);  // time passes, but no event is handled
  EXPECT_EQ(dlg->FrameIndex(), before);
  EXPECT_TRUE(WaitFor([&] { return dlg->FrameIndex() != before; }, 10000));
}

TEST_F(ProcessDialog, AGoneDialogIsNeverTouched) {
  QPointer<TFrmProcess> gone = dlg;
  // something else destroys it behind the operation's back
  QTimer::singleShot(0, [gone] { delete gone.data(); });
  EXPECT_FALSE(UpdateProgress(gone, 1, 1));
  EXPECT_TRUE(gone.isNull());
  EXPECT_FALSE(UpdateProgress(gone, 2, 2));
  CloseProgress(gone);
  dlg = nullptr;
}

TEST(ProcessDialogPlace, CentredOverTheOwner) {
  QWidget owner;
  owner.setGeometry(100, 100, 1096, 547);
  owner.show();
  QPointer<TFrmProcess> dlg = new TFrmProcess(&owner);
  const QPoint c = dlg->geometry().center();
  EXPECT_NEAR(c.x(), owner.frameGeometry().center().x(), 2);
  EXPECT_NEAR(c.y(), owner.frameGeometry().center().y(), 2);
  CloseProgress(dlg);
  FlushDeletes();
}

}  // namespace
