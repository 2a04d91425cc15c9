// The single-instance guard.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/SingleInstance.h"
#include "support/TestServices.h"

namespace {

class Instance : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    SetSingleInstanceDir(FDir.path());
  }
  void TearDown() override { SetSingleInstanceDir(QString()); }
  QTemporaryDir FDir;
};

TEST_F(Instance, SecondStartIsRefusedWithThePlainNotice) {
  TRecordingMessages msgs;
  TSingleInstance first(kInstanceName);
  ASSERT_TRUE(first.IsFirst());
  EXPECT_TRUE(FirstInstanceOrNotice(first));
  EXPECT_TRUE(msgs.Boxes.isEmpty());

  TSingleInstance second(kInstanceName);
  EXPECT_FALSE(second.IsFirst());
  EXPECT_FALSE(FirstInstanceOrNotice(second));
  ASSERT_EQ(msgs.Boxes.size(), 1);
  EXPECT_EQ(msgs.Boxes[0].text, QStringLiteral("您已运行了本软件。"));
  EXPECT_EQ(msgs.Boxes[0].caption, QStringLiteral("三通道回路电阻测试仪"));
  EXPECT_EQ(msgs.Boxes[0].icon, TMsgIcon::None);
  EXPECT_EQ(msgs.Boxes[0].buttons, TMsgButtons::Ok);
  // The refused start does not disturb the running one.
  EXPECT_TRUE(first.IsFirst());
  EXPECT_TRUE(first.LockFileName().contains(QStringLiteral("RunOnlyOn_QK4820Resistance")));
}

TEST_F(Instance, EndedInstanceFreesTheGuard) {
  { TSingleInstance first(kInstanceName); ASSERT_TRUE(first.IsFirst()); }
  TSingleInstance next(kInstanceName);
  EXPECT_TRUE(next.IsFirst());
}

TEST_F(Instance, OtherNamesDoNotCollide) {
  TSingleInstance a(kInstanceName);
  TSingleInstance b(QStringLiteral("SomeOtherProgram"));
  EXPECT_TRUE(a.IsFirst());
  EXPECT_TRUE(b.IsFirst());
}

TEST_F(Instance, CrashedFirstInstanceNeverBlocksTheNextStart) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Takes the guard, says so, and waits to be killed without any clean-up.
    TSingleInstance held(kInstanceName);
    const char c = held.IsFirst() ? '1' : '0';
    (void)!write(ready[1], &c, 1);
    for (;;) pause();
  }
  close(ready[1]);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  ASSERT_EQ(c, '1');
  {
    TSingleInstance whileRunning(kInstanceName);
    EXPECT_FALSE(whileRunning.IsFirst());
  }
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  TSingleInstance after(kInstanceName);
  EXPECT_TRUE(after.IsFirst());
}

TEST_F(Instance, FolderWithoutWriteAccessDoesNotKeepTheProgramFromRunning) {
  SetSingleInstanceDir(FDir.path() + QStringLiteral("/missing/folder"));
  TSingleInstance g(kInstanceName);
  EXPECT_TRUE(g.IsFirst());
}

}  // namespace
