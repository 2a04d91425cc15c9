// The main window with a team database in [Database]: every result is
// stored on this PC at once, the history tab shows the state of the link,
// a server that is stopped during an upload gets everything once it is
// back, and a server that hangs never holds the window.
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTimer>

#include <csignal>

#include "forms/UHistory.h"
#include "history/HistoryService.h"
#include "main_fixture.h"
#include "support/PgCluster.h"

namespace {

class HistoryTeam : public MainRig {
 protected:
  void SetUp() override {
    MainRig::SetUp();
    if (FCluster.Why().contains(QStringLiteral("not installed"))) GTEST_SKIP() << FCluster.Why().toStdString();
    ASSERT_TRUE(FCluster.Why().isEmpty()) << FCluster.Why().toStdString();
    ASSERT_TRUE(FCluster.CreateDatabase(QStringLiteral("team")));
  }
  // The settings name the team database; the window opens its history.
  void UseTeam() {
    TTeamConfig c = FCluster.TeamConfig(QStringLiteral("team"));
    c.connectTimeout = 2;
    c.statementTimeout = 2;
    WriteTeamConfig(SettingsFile(), c);
    ASSERT_NE(W->History(), nullptr) << W->HistoryError().toStdString();
  }
  QString State() const { return W->tsHistory->lblStatus->text(); }
  qint64 ServerCount() {
    const QStringList n = FCluster.Query(QStringLiteral("team"), QStringLiteral("SELECT COUNT(*) FROM results"));
    return n.isEmpty() ? -1 : n[0].toLongLong();
  }
  void Archive(const QString& value) {
    W->Params.strDevice = QStringLiteral("QK-7");
    W->Params.strResultA = value;
    W->Params.iLastPhase = 0;
    W->ArchiveResult();
  }

  TPgCluster FCluster;
};

TEST_F(HistoryTeam, AStoppedServerGetsEverythingOnceItIsBack) {
  StartSim({QStringLiteral("--records"), QStringLiteral("20")});
  UseTeam();
  W->pgc->setCurrentWidget(W->tsHistory);
  ASSERT_TRUE(PumpUntil([&] { return State().contains(QStringLiteral("团队数据库：已同步")); }, 20000)) << State().toStdString();

  ASSERT_TRUE(FCluster.Stop());
  Connect();
  W->BtnSampleData->click();
  ASSERT_EQ(W->Params.giDataCount, 20);
  Archive(QStringLiteral("45.5 μΩ"));
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  // Stored here at once; the tab says what waits and why.
  EXPECT_EQ(W->History()->Count({}), 21);
  ASSERT_TRUE(PumpUntil([&] { return State().contains(QStringLiteral("（待同步 21 条）")); }, 20000)) << State().toStdString();
  EXPECT_TRUE(State().contains(QStringLiteral("团队数据库：无法连接（"))) << State().toStdString();
  EXPECT_TRUE(State().contains(QStringLiteral("本机结果照常保存"))) << State().toStdString();
  W->resize(1100, 700);
  W->tsHistory->Refresh();
  W->grab().save(QStringLiteral(QK_TEST_OUTPUT_DIR "/history-team-away.png"));  // to be looked at

  ASSERT_TRUE(FCluster.Start()) << FCluster.Why().toStdString();
  ASSERT_TRUE(PumpUntil([&] { return State().contains(QStringLiteral("团队数据库：已同步")); }, 90000)) << State().toStdString();
  EXPECT_EQ(ServerCount(), 21);
  // The same upload again changes nothing anywhere.
  W->BtnSampleData->click();
  W->HistoryService().Store({});
  ASSERT_TRUE(PumpUntil([&] { return State().contains(QStringLiteral("团队数据库：已同步")); }, 20000));
  EXPECT_EQ(ServerCount(), 21);
  EXPECT_EQ(W->History()->Count({}), 21);
}

TEST_F(HistoryTeam, AHungServerNeverHoldsTheWindow) {
  StartSim();
  UseTeam();
  W->pgc->setCurrentWidget(W->tsHistory);
  Archive(QStringLiteral("45.5 μΩ"));
  ASSERT_TRUE(PumpUntil([&] { return State().contains(QStringLiteral("团队数据库：已同步")); }, 20000)) << State().toStdString();
  const QStringList pids = FCluster.Query(QStringLiteral("team"),
                                          QStringLiteral("SELECT pid FROM pg_stat_activity WHERE application_name = 'qk4820'"));
  ASSERT_EQ(pids.size(), 1);
  const pid_t backend = pid_t(pids[0].toInt());
  ASSERT_EQ(::kill(backend, SIGSTOP), 0);
  struct TContinue {
    pid_t pid;
    ~TContinue() { ::kill(pid, SIGCONT); }
  } resume{backend};

  // The window's event loop is timed while the worker waits on the server.
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0;
  qint64 longest = 0;
  QTimer beat;
  beat.setInterval(10);
  QObject::connect(&beat, &QTimer::timeout, [&] {
    longest = std::max(longest, clock.elapsed() - last);
    last = clock.elapsed();
  });
  beat.start();
  QElapsedTimer archive;
  archive.start();
  Archive(QStringLiteral("46.5 μΩ"));
  const qint64 archiveMs = archive.elapsed();
  PumpUntil([&] { return clock.elapsed() > 1500; }, 3000);
  W->pgc->setCurrentIndex(0);
  W->pgc->setCurrentWidget(W->tsHistory);  // the tab reads the local store
  PumpUntil([&] { return clock.elapsed() > 2500; }, 3000);
  beat.stop();
  EXPECT_LT(archiveMs, 100);
  EXPECT_LT(longest, 100);
  EXPECT_EQ(W->History()->Count({}), 2);
  // The statement timeout ends the wait; the state says so.
  EXPECT_TRUE(PumpUntil([&] { return State().contains(QStringLiteral("秒内没有回答")); }, 20000)) << State().toStdString();
  ::kill(backend, SIGCONT);
  ASSERT_TRUE(PumpUntil([&] { return State().contains(QStringLiteral("团队数据库：已同步")); }, 90000)) << State().toStdString();
  EXPECT_EQ(ServerCount(), 2);
}

}  // namespace
