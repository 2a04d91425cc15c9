// Replication of the local history with a team's PostgreSQL database, on a
// throwaway cluster started here, with its faults: writers meeting on an
// empty database and on the same rows, the server stopped mid-push and
// started again, a server that hangs, an endpoint that never answers, and
// options that would send the data elsewhere.
#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

#include "history/HistorySync.h"
#include "history/ResultIdentity.h"
#include "data/TestSeries.h"
#include "history/ResultStore.h"
#include "history/TeamStore.h"
#include "platform/IniFile.h"
#include "platform/MessageService.h"
#include "support/PgCluster.h"
#include "support/SilentEndpoint.h"

namespace {

TPgCluster& Cluster() {
  static std::unique_ptr<TPgCluster> cluster = std::make_unique<TPgCluster>();
  return *cluster;
}

// The i-th of a series of distinct tests: one a minute, two devices.
QStringList Row(int i, const QString& who = QStringLiteral("张三")) {
  const QDateTime t = QDateTime(QDate(2025, 3, 1), QTime(8, 0)).addSecs(60LL * i);
  return {QString::asprintf("%2d", i % 255 + 1), t.toString(QStringLiteral("yy-MM-dd hh:mm")),
          i % 2 ? QStringLiteral("QK-B") : QStringLiteral("QK-A"), who, QStringLiteral("开关站"),
          QStringLiteral("200A"), QStringLiteral("30 秒"), QStringLiteral("三相"),
          QStringLiteral("%1.%2 μΩ").arg(40 + i % 9).arg(i % 10), QStringLiteral("46.1 μΩ"),
          QStringLiteral("45.9 μΩ")};
}

std::vector<QStringList> Rows(int from, int count) {
  std::vector<QStringList> rows;
  for (int i = from; i < from + count; ++i) rows.push_back(Row(i));
  return rows;
}

class TeamSync : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Cluster().Why().contains(QStringLiteral("not installed"))) GTEST_SKIP() << Cluster().Why().toStdString();
    ASSERT_TRUE(Cluster().Why().isEmpty()) << Cluster().Why().toStdString();
    static std::atomic<int> n{0};
    FName = QStringLiteral("team%1").arg(++n);
    ASSERT_TRUE(Cluster().CreateDatabase(FName)) << Cluster().Why().toStdString();
    FConfig = Cluster().TeamConfig(FName);
    FConfig.connectTimeout = 3;
    FConfig.statementTimeout = 3;
  }
  QString Local(const QString& pc) const { return FDir.filePath(pc + QStringLiteral(".sqlite")); }
  qint64 ServerCount() {
    const QStringList n = Cluster().Query(FName, QStringLiteral("SELECT COUNT(*) FROM results"));
    return n.isEmpty() ? -1 : n[0].toLongLong();
  }
  qint64 ServerDistinct() {
    const QStringList n = Cluster().Query(FName, QStringLiteral("SELECT COUNT(DISTINCT identity) FROM results"));
    return n.isEmpty() ? -1 : n[0].toLongLong();
  }

  QTemporaryDir FDir;
  QString FName;
  TTeamConfig FConfig;
};

// Two PCs: each one's results reach the other through the team database,
// each test once, also when both stored the same test (an upload on one,
// the import of its export on the other); the frame's values win over
// values read from texts.
TEST_F(TeamSync, EachPcsResultsReachTheOtherOnce) {
  TResultStore a(Local(QStringLiteral("a")));
  TResultStore b(Local(QStringLiteral("b")));
  TOhms frame{45.5487e-6, {}, {}};
  std::vector<TOhms> values(255, frame);
  ASSERT_EQ(a.AddUploaded(Rows(0, 255), values), 255);
  ASSERT_EQ(b.AddImported(Rows(200, 100)), 100);  // 55 of them A's too
  EXPECT_EQ(a.PendingCount(), 255);

  TTeamLink linkA(FConfig);
  TTeamLink linkB(FConfig);
  const TSyncReport first = SyncOnce(a, linkA);
  EXPECT_EQ(first.pushed, 255);
  EXPECT_EQ(first.pending, 0);
  const TSyncReport second = SyncOnce(b, linkB);
  EXPECT_EQ(second.pushed, 45);  // 55 of B's were there already
  EXPECT_EQ(second.pulled, 200);
  const TSyncReport third = SyncOnce(a, linkA);
  EXPECT_EQ(third.pulled, 45);
  EXPECT_EQ(third.pushed, 0);
  EXPECT_EQ(a.Results().size(), 300u);
  EXPECT_EQ(b.Results().size(), 300u);
  EXPECT_EQ(ServerCount(), 300);
  EXPECT_EQ(ServerDistinct(), 300);
  // B's imported copy of A's upload took the frame's value from the team.
  for (const TStoredResult& r : b.Results(QStringLiteral("QK-A"))) {
    if (r.identity == ResultIdentity(Row(200))) {
      EXPECT_TRUE(r.exact);
      ASSERT_TRUE(r.ohms[0]);
      EXPECT_DOUBLE_EQ(*r.ohms[0], 45.5487e-6);
    }
  }
  EXPECT_EQ(a.PendingCount(), 0);
}

// A live test's course reaches the other PC with its result, also when the
// other PC had the same test without it (from an upload).
TEST_F(TeamSync, ALiveTestsCourseTravelsWithItsResult) {
  TResultStore a(Local(QStringLiteral("a")));
  TResultStore b(Local(QStringLiteral("b")));
  TTestSeries course;
  for (int i = 1; i <= 60; ++i) {
    TSeriesFrame f;
    f.seconds = i;
    f.ohms = {45.5e-6 + i * 1e-9, {}, {}};
    f.current = 100.0;
    course.push_back(f);
  }
  const QStringList row = Row(7);
  ASSERT_EQ(b.AddUploaded({row}, {TOhms{45.5487e-6, {}, {}}}), 1);
  TTeamLink linkB(FConfig);
  SyncOnce(b, linkB);
  ASSERT_EQ(a.Add({TNewResult{TResultKind::Archived, row, TOhms{45.5487e-6, {}, {}}, TStartParams{}, QDateTime(),
                              SeriesText(course)}})
                .added,
            1);
  TTeamLink linkA(FConfig);
  SyncOnce(a, linkA);
  SyncOnce(b, linkB);
  EXPECT_EQ(ServerCount(), 1);
  TResultStore reopened(Local(QStringLiteral("b")));
  const std::vector<TStoredResult> kept = reopened.Results();
  ASSERT_EQ(kept.size(), 1u);
  const TTestSeries back = SeriesOfText(kept[0].series);
  ASSERT_EQ(back.size(), course.size());
  EXPECT_EQ(back.back().ohms, course.back().ohms);
}

// Four programs opening an empty database at once all find one schema.
TEST_F(TeamSync, WritersMeetingOnAnEmptyDatabaseAllConnect) {
  std::vector<std::thread> threads;
  std::atomic<int> failed{0};
  QString why;
  std::mutex lock;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      try {
        TTeamLink link(FConfig);
        link.Connect();
        link.Push({});
      } catch (const EAppError& e) {
        ++failed;
        std::lock_guard<std::mutex> g(lock);
        why = e.Text();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failed.load(), 0) << why.toStdString();
  EXPECT_EQ(Cluster().Query(FName, QStringLiteral("SELECT value FROM meta WHERE key = 'schema_version'")),
            QStringList{QStringLiteral("3")});
}

// Two PCs pushing overlapping batches in opposite order, over and over:
// no deadlock, no error, each test once.
TEST_F(TeamSync, OverlappingBatchesInOppositeOrderNeitherDeadlockNorDuplicate) {
  TResultStore source(Local(QStringLiteral("source")));
  source.AddUploaded(Rows(0, 900));
  std::vector<TStoredResult> all = source.Pending(900);
  ASSERT_EQ(all.size(), 900u);
  std::vector<TStoredResult> first(all.begin(), all.begin() + 600);
  std::vector<TStoredResult> second(all.begin() + 300, all.end());
  std::reverse(second.begin(), second.end());
  std::atomic<int> failed{0};
  std::atomic<int> added{0};
  auto push = [&](const std::vector<TStoredResult>& batch) {
    try {
      TTeamLink link(FConfig);
      link.Connect();
      for (int round = 0; round < 3; ++round) added += link.Push(batch);
    } catch (const EAppError& e) {
      ++failed;
      ADD_FAILURE() << e.Text().toStdString();
    }
  };
  std::thread t1(push, first);
  std::thread t2(push, second);
  t1.join();
  t2.join();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(added.load(), 900);
  EXPECT_EQ(ServerCount(), 900);
}

// The server stops (as in a power cut) while a PC pushes, and starts
// again: what was pending goes up on the next pass, each test once, and the
// local store never missed a result.
TEST_F(TeamSync, AServerStoppedMidPushLosesNothing) {
  TResultStore local(Local(QStringLiteral("pc")));
  ASSERT_EQ(local.AddUploaded(Rows(0, 6000)), 6000);
  std::atomic<bool> done{false};
  QString why;
  std::thread pusher([&] {
    TTeamLink link(FConfig);
    try {
      TResultStore own(Local(QStringLiteral("pc")));
      SyncOnce(own, link);
    } catch (const EAppError& e) {
      why = e.Text();
    }
    done = true;
  });
  // Stop it once the first batches are in.
  QElapsedTimer t;
  t.start();
  while (!done && ServerCount() <= 0 && t.elapsed() < 20000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(Cluster().Stop());
  pusher.join();
  ASSERT_TRUE(Cluster().Start()) << Cluster().Why().toStdString();
  EXPECT_FALSE(why.isEmpty()) << "the push ended before the stop";
  EXPECT_LT(ServerCount(), 6000);
  EXPECT_GT(local.PendingCount(), 0);

  TTeamLink again(FConfig);
  const TSyncReport report = SyncOnce(local, again);
  EXPECT_EQ(report.pending, 0);
  EXPECT_EQ(ServerCount(), 6000);
  EXPECT_EQ(ServerDistinct(), 6000);
  EXPECT_EQ(local.Results().size(), 6000u);
}

// The worker keeps trying with a back-off while the server is away and
// sends what waits once it is back; its state says so meanwhile.
TEST_F(TeamSync, TheWorkerSendsWhatWaitedOnceTheServerIsBack) {
  const QString file = Local(QStringLiteral("pc"));
  {
    TResultStore local(file);
    local.AddUploaded(Rows(0, 10));
  }
  ASSERT_TRUE(Cluster().Stop());
  std::mutex lock;
  std::vector<TSyncState> states;
  THistorySync sync(file, FConfig, [&](const TSyncState& s) {
    std::lock_guard<std::mutex> g(lock);
    states.push_back(s);
  });
  auto last = [&] {
    std::lock_guard<std::mutex> g(lock);
    return states.empty() ? TSyncState{} : states.back();
  };
  QElapsedTimer t;
  t.start();
  while (last().kind != TSyncState::Unreachable && t.elapsed() < 20000) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(last().kind, TSyncState::Unreachable);
  EXPECT_EQ(last().pending, 10);
  EXPECT_TRUE(last().Text().startsWith(QStringLiteral("团队数据库：无法连接（"))) << last().Text().toStdString();
  EXPECT_TRUE(last().Text().contains(QStringLiteral("），本机结果照常保存（待同步 10 条）"))) << last().Text().toStdString();
  {
    TResultStore local(file);
    local.AddUploaded(Rows(10, 2));  // stored while away
  }
  sync.Kick();
  ASSERT_TRUE(Cluster().Start()) << Cluster().Why().toStdString();
  t.restart();
  while (last().kind != TSyncState::Synced && t.elapsed() < 60000) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(last().Text(), QStringLiteral("团队数据库：已同步"));
  EXPECT_EQ(ServerCount(), 12);
}

// A backend that hangs (stopped by a signal) costs the worker its
// statement timeout, never the caller; the worker stops promptly.
TEST_F(TeamSync, AHungServerCostsTheWorkerItsTimeoutAndStopsPromptly) {
  const QString file = Local(QStringLiteral("pc"));
  {
    TResultStore local(file);
    local.AddUploaded(Rows(0, 3));
  }
  auto sync = std::make_unique<THistorySync>(file, FConfig, nullptr);
  QElapsedTimer t;
  t.start();
  while (sync->State().kind != TSyncState::Synced && t.elapsed() < 20000) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(sync->State().kind, TSyncState::Synced);
  const QStringList pids = Cluster().Query(
      FName, QStringLiteral("SELECT pid FROM pg_stat_activity WHERE application_name = 'qk4820'"));
  ASSERT_EQ(pids.size(), 1);
  const pid_t backend = pid_t(pids[0].toInt());
  ASSERT_EQ(::kill(backend, SIGSTOP), 0);
  {
    TResultStore local(file);
    t.restart();
    local.AddUploaded(Rows(3, 2));  // the local store does not wait on the server
    EXPECT_LT(t.elapsed(), 2000);
  }
  sync->Kick();
  t.restart();
  while (sync->State().kind != TSyncState::Unreachable && t.elapsed() < 20000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(sync->State().kind, TSyncState::Unreachable);
  EXPECT_TRUE(sync->State().why.contains(QStringLiteral("秒内没有回答"))) << sync->State().why.toStdString();
  // A pass waiting on the hung server again ends as soon as it is asked to.
  sync->Kick();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  t.restart();
  sync.reset();
  EXPECT_LT(t.elapsed(), 2000);
  ::kill(backend, SIGCONT);
}

// An endpoint that accepts and never answers: the connect ends at its
// timeout with the reason, whatever libpq's own connect_timeout is.
TEST(TeamLink, ASilentEndpointEndsAtTheConnectTimeout) {
  TSilentEndpoint silent;
  ASSERT_NE(silent.Port(), 0);
  TTeamConfig c;
  c.enabled = true;
  c.host = QStringLiteral("127.0.0.1");
  c.port = silent.Port();
  c.name = QStringLiteral("team");
  c.user = QStringLiteral("qk");
  c.options = QStringLiteral("connect_timeout=0");
  c.connectTimeout = 1;
  TTeamLink link(c);
  QElapsedTimer t;
  t.start();
  try {
    link.Connect();
    FAIL() << "connected";
  } catch (const EAppError& e) {
    EXPECT_TRUE(e.Text().contains(QStringLiteral("1 秒内没有回答"))) << e.Text().toStdString();
  }
  EXPECT_LT(t.elapsed(), 10000);
  // A stop asked for ends the wait within a moment, long before the timeout.
  c.connectTimeout = 60;
  std::atomic<bool> stop{false};
  TTeamLink stopped(c, &stop);
  std::thread asker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
  });
  t.restart();
  EXPECT_THROW(stopped.Connect(), EAppError);
  asker.join();
  EXPECT_LT(t.elapsed(), 5000);
}

struct TOptionsCase {
  const char* options;
  const char* named;  // empty: accepted
};

class TeamOptions : public ::testing::TestWithParam<TOptionsCase> {};

// Keys that would send the data elsewhere than the fields show, or keep a
// password in the settings, are refused and named.
TEST_P(TeamOptions, AreRefusedWhenTheyRedirectOrHoldAPassword) {
  TTeamConfig c;
  c.options = QString::fromUtf8(GetParam().options);
  const QString why = c.OptionsError();
  if (!*GetParam().named) {
    EXPECT_TRUE(why.isEmpty()) << why.toStdString();
  } else {
    EXPECT_TRUE(why.contains(QStringLiteral("“%1”").arg(QString::fromUtf8(GetParam().named)))) << why.toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TeamOptions,
    ::testing::Values(TOptionsCase{"sslmode=verify-full", ""}, TOptionsCase{"sslmode=require;keepalives_idle=30", ""},
                      TOptionsCase{"host=127.0.0.1 password=secret sslmode=disable", "host"},
                      TOptionsCase{"sslmode=disable password=secret", "password"},
                      TOptionsCase{"hostaddr=10.0.0.9", "hostaddr"}, TOptionsCase{"port=6543", "port"},
                      TOptionsCase{"dbname=other", "dbname"}, TOptionsCase{"user=postgres", "user"},
                      TOptionsCase{"passfile=/tmp/p", "passfile"}, TOptionsCase{"service=team", "service"}));

// Options read from the settings file that would redirect the connection:
// nothing connects and the state says why.
TEST_F(TeamSync, RefusedOptionsFromTheSettingsConnectNowhere) {
  FConfig.options = QStringLiteral("host=127.0.0.1 password=secret");
  THistorySync sync(Local(QStringLiteral("pc")), FConfig, nullptr);
  QElapsedTimer t;
  t.start();
  while (sync.Passes() == 0 && t.elapsed() < 10000) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(sync.State().kind, TSyncState::Unreachable);
  EXPECT_TRUE(sync.State().why.contains(QStringLiteral("连接选项不能含有“host”"))) << sync.State().why.toStdString();
  EXPECT_TRUE(Cluster().Query(FName, QStringLiteral("SELECT 1 FROM pg_tables WHERE tablename = 'results'")).isEmpty());
}

// A team database the program of the version before wrote to directly:
// brought to the current schema, an upload and its re-dated import merged.
TEST_F(TeamSync, ATeamDatabaseOfTheVersionBeforeIsMigratedAndMerged) {
  for (const char* sql :
       {"CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
        "INSERT INTO meta VALUES ('schema_version', '2')",
        "CREATE TABLE results (id BIGSERIAL PRIMARY KEY, kind TEXT NOT NULL, source_key TEXT NOT NULL UNIQUE,"
        " device_no TEXT NOT NULL, test_time TEXT NOT NULL, stored_at TEXT NOT NULL, t0 TEXT, t1 TEXT, t2 TEXT,"
        " t3 TEXT, t4 TEXT, t5 TEXT, t6 TEXT, t7 TEXT, t8 TEXT, t9 TEXT, t10 TEXT, ohm_a DOUBLE PRECISION,"
        " ohm_b DOUBLE PRECISION, ohm_c DOUBLE PRECISION, start_range INTEGER, start_time INTEGER, start_phase INTEGER)",
        "CREATE INDEX results_device_time ON results (device_no, test_time)",
        "CREATE TABLE criteria (device_no TEXT PRIMARY KEY, max_uohm DOUBLE PRECISION, reference_uohm DOUBLE PRECISION,"
        " rise_factor DOUBLE PRECISION, imbalance_pct DOUBLE PRECISION)",
        "INSERT INTO criteria VALUES ('QK-A', 55, NULL, 1.2, 50)",
        "INSERT INTO results (kind, source_key, device_no, test_time, stored_at, t0, t1, t2, t5, t6, t7, t8, ohm_a)"
        " VALUES ('imported', 'imported|x', 'QK-A', '2026-12-01T10:00:00', '2026-12-01T10:00:00', ' 1',"
        " '2025-03-01 08:00:00', 'QK-A', '200A', '30秒', '三相', '40.0 μΩ', 0.00004)",
        "INSERT INTO results (kind, source_key, device_no, test_time, stored_at, t0, t1, t2, t5, t6, t7, t8, ohm_a)"
        " VALUES ('uploaded', 'uploaded|x', 'QK-A', '2025-03-01T08:00:00', '2025-03-01T09:00:00', ' 1',"
        " '25-03-01 08:00', 'QK-A', '200A', '30 秒', '三相', '40.0 μΩ', 0.0000400123)"}) {
    Cluster().Query(FName, QString::fromUtf8(sql));
  }
  TTeamLink link(FConfig);
  TResultStore local(Local(QStringLiteral("pc")));
  const TSyncReport report = SyncOnce(local, link);
  EXPECT_EQ(report.pulled, 1);
  const std::vector<TStoredResult> got = local.Results();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].kind, TResultKind::Uploaded);
  EXPECT_EQ(got[0].time, QDateTime(QDate(2025, 3, 1), QTime(8, 0)));
  EXPECT_DOUBLE_EQ(*got[0].ohms[0], 0.0000400123);
  EXPECT_EQ(local.Criteria(QStringLiteral("QK-A")).maxMicroOhm, 55.0);
}

}  // namespace
