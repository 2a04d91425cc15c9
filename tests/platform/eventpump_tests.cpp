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

// The wait ends at the first test after the event that makes the condition
// hold: a later event (due seconds after) is never handled by it, and the
// condition is tested once before and once after.
TEST_F(Waiting, EndsAsSoonAsTheConditionHolds) {
  bool done = false;
  bool later = false;
  int tests = 0;
  QTimer::singleShot(0, [&] { done = true; });
  QTimer::singleShot(5000, [&] { later = true; });
  EXPECT_TRUE(WaitFor(
      [&] {
        ++tests;
        return done;
      },
      600000));
  EXPECT_FALSE(later) << "the wait went on after the condition held";
  EXPECT_EQ(tests, 2);
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
