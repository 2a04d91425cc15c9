// The wait notice.
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include "forms/uWaitForm.h"
#include "platform/EventPump.h"

namespace {

class Wait : public ::testing::Test {
 protected:
  void TearDown() override { HideWait(); }
};

TEST_F(Wait, ShowsAStayOnTopNoticeAtTheGivenPlace) {
  ShowWait(QStringLiteral("  请稍候，正在打印......"), kPosDesigned, 120, 500);
  TfrmWait* w = CurrentWait();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->windowTitle(), QStringLiteral("提示信息"));
  EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(w->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(w->isModal());
  EXPECT_EQ(w->lblMessage->text(), QStringLiteral("  请稍候，正在打印......"));
  EXPECT_EQ(w->width(), 400);
  EXPECT_EQ(w->height(), 51);
  EXPECT_EQ(w->frameGeometry().left(), 300);
  EXPECT_EQ(w->frameGeometry().top(), 120);
  EXPECT_EQ(w->lblMessage->geometry(), QRect((400 - 217) / 2, 16, 217, 20));
  EXPECT_EQ(w->Image1->geometry(), QRect(36, 11, 32, 32));
  EXPECT_EQ(w->pnlTitle->geometry(), QRect(0, 0, 400, 51));
  EXPECT_EQ(w->lblMessage->font().pixelSize(), 13);
  EXPECT_TRUE(w->tmr->isActive());
  EXPECT_EQ(w->tmr->interval(), 200);
}

TEST_F(Wait, SecondShowReusesTheNoticeWithNewTextAndPlace) {
  ShowWait(QStringLiteral("one"), kPosDesigned, 10, 300);
  TfrmWait* first = CurrentWait();
  ShowWait(QStringLiteral("two"), kPosDesigned, 40, 601);
  EXPECT_EQ(CurrentWait(), first);
  EXPECT_EQ(first->lblMessage->text(), QStringLiteral("two"));
  EXPECT_EQ(first->frameGeometry().topLeft(), QPoint(401, 40));
}

TEST_F(Wait, LongMessageIsCutAtTheLabelAndTheNoticeDoesNotGrow) {
  ShowWait(QString(80, QChar(0x6D4B)), kPosDesigned, 0, 500);
  EXPECT_EQ(CurrentWait()->width(), 400);
  EXPECT_EQ(CurrentWait()->lblMessage->width(), 217);
}

TEST_F(Wait, HideDestroysAndRepeatedHideDoesNothing) {
  HideWait();
  EXPECT_EQ(CurrentWait(), nullptr);
  ShowWait(QStringLiteral("x"), kPosDesigned, 0, 0);
  QPointer<TfrmWait> w = CurrentWait();
  HideWait();
  EXPECT_EQ(CurrentWait(), nullptr);
  EXPECT_TRUE(w.isNull());
  HideWait();
  ShowWait(QStringLiteral("y"), kPosDesigned, 0, 0);
  EXPECT_EQ(CurrentWait()->FStep, 0);  // a fresh notice after each hide
  EXPECT_EQ(CurrentWait()->ShownFrame(), -1);
}

TEST_F(Wait, AnimationRunsThroughTheFourFramesStartingWithFrameZero) {
  ShowWait(QStringLiteral("x"), kPosDesigned, 0, 0);
  TfrmWait* w = CurrentWait();
  EXPECT_EQ(w->Image1->pixmap().toImage(), w->DesignPicture.toImage());
  std::vector<int> frames;
  for (int i = 0; i < 9; ++i) {
    w->tmrTimer();
    frames.push_back(w->ShownFrame());
    EXPECT_EQ(w->Image1->pixmap().toImage(), w->ImageList1[w->ShownFrame()].toImage());
  }
  EXPECT_EQ(frames, (std::vector<int>{0, 1, 2, 3, 0, 1, 2, 3, 0}));
  // The four pictures differ from each other.
  for (int a = 0; a < 4; ++a) {
    for (int b = a + 1; b < 4; ++b) EXPECT_NE(w->ImageList1[a].toImage(), w->ImageList1[b].toImage());
  }
  w->ShowStep(9);
  EXPECT_EQ(w->ShownFrame(), 3);
  w->ShowStep(0);
  EXPECT_EQ(w->ShownFrame(), 0);
}

TEST_F(Wait, TimerAnimatesWhileEventsFlow) {
  ShowWait(QStringLiteral("x"), kPosDesigned, 0, 0);
  TfrmWait* w = CurrentWait();
  QElapsedTimer t;
  t.start();
  while (w->FStep < 2 && t.elapsed() < 5000) PumpOrSleep(50);
  EXPECT_GE(w->FStep, 2);
}

TEST_F(Wait, ClosingHidesWithoutDestroying) {
  ShowWait(QStringLiteral("x"), kPosDesigned, 0, 0);
  TfrmWait* w = CurrentWait();
  w->close();
  EXPECT_EQ(CurrentWait(), w);
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(w->tmr->isActive());
  ShowWait(QStringLiteral("again"), kPosDesigned, 0, 0);
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(w->tmr->isActive());
}

TEST(WaitPlace, StandardPlaceRoundsHalvesToEven) {
  QWidget owner;
  owner.setGeometry(100, 200, 101, 100);  // 100 / 4 * 2.5 = 62.5, 101 / 2 = 50.5
  int top = 0, centre = 0;
  StandardWaitPlace(&owner, top, centre);
  EXPECT_EQ(top, owner.frameGeometry().top() + 62);
  EXPECT_EQ(centre, owner.frameGeometry().left() + 50);
  owner.setGeometry(100, 200, 103, 108);  // 67.5 -> 68, 51.5 -> 52
  StandardWaitPlace(&owner, top, centre);
  EXPECT_EQ(top, owner.frameGeometry().top() + 68);
  EXPECT_EQ(centre, owner.frameGeometry().left() + 52);
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(-0.5), 0);
}

}  // namespace
