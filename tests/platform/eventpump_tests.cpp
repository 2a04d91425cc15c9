// Waiting without spinning: the request-reply wait and its tick arithmetic.
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include "platform/EventPump.h"
#include "platform/Tick.h"

namespace {

class Waiting : public ::testing::Test {
 protected:
  void TearDown() override { TickSource::Restore(); }
};

TEST_F(Waiting, EndsAsSoonAsTheConditionHolds) {
  bool done = false;
  QTimer::singleShot(30, [&] { done = true; });
  QElapsedTimer t;
  t.start();
  EXPECT_TRUE(WaitFor([&] { return done; }, 20000));
  EXPECT_LT(t.elapsed(), 10000);
}

TEST_F(Waiting, TestsBeforeHandlingAnyEvent) {
  int handled = 0;
  QTimer::singleShot(0, [&] { ++handled; });
  EXPECT_TRUE(WaitFor([] { return true; }, 500));
  EXPECT_EQ(handled, 0);
  ProcessPendingEvents();
  EXPECT_EQ(handled, 1);
}

TEST_F(Waiting, TimesOutAcrossTheTickWrap) {
  TickSource::SetNow(0xFFFFFFFFu - 100);
  QElapsedTimer t;
  t.start();
  EXPECT_FALSE(WaitFor([] { return false; }, 300));
  EXPECT_GE(t.elapsed(), 299);
  EXPECT_LT(GetTickCount(), 0x10000u);
}

TEST_F(Waiting, SleepsWhileNothingIsPending) {
  // A busy loop would pass through the pump thousands of times in 200 ms;
  // a sleeping one wakes only for the few events there are.
  bool fired = false;
  QTimer::singleShot(200, [&] { fired = true; });
  int passes = 0;
  while (!fired) {
    PumpOrSleep(5000);
    ++passes;
  }
  EXPECT_LT(passes, 50);
}

TEST_F(Waiting, WaitOfManySecondsEndsWhenTheTicksMoveOn) {
  QTimer::singleShot(20, [] { TickSource::Advance(15000); });
  int passes = 0;
  EXPECT_FALSE(WaitFor(
      [&] {
        ++passes;
        return false;
      },
      15000));
  EXPECT_LT(passes, 50);
}

}  // namespace
