// qk4820-history, the history for a lab's scripts: on the store beside the
// settings file it is given, with the summary the history tab shows, exit
// statuses a script can act on, and a team database on a throwaway cluster.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "history/ResultStore.h"
#include "history/TeamStore.h"
#include "platform/IniFile.h"
#include "support/PgCluster.h"

namespace {

const QString kFixtures = QStringLiteral(QT_TESTCASE_SOURCEDIR "/history/fixtures/");

struct TRun {
  int status = -1;
  QString out;
  QString err;
};

class HistoryTool : public ::testing::Test {
 protected:
  void SetUp() override {
    QFile ini(Settings());
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  }
  QString Settings() const { return FDir.filePath(QStringLiteral("SystemFile.ini")); }
  TRun Run(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(QK4820_HISTORY_PATH), QStringList{QStringLiteral("--settings"), Settings()} + args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return TRun{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
  }
  QTemporaryDir FDir;
};

TEST_F(HistoryTool, ImportsExportsListsAndChecks) {
  const TRun imported = Run({QStringLiteral("import"), kFixtures + QStringLiteral("formatted.xlsx")});
  EXPECT_EQ(imported.status, 1);  // a row was refused
  EXPECT_TRUE(imported.out.contains(QStringLiteral(
      "已导入 2 条结果，0 条已在历史记录中，1 条未导入（第 4 行：时间\"25-02-30 10:00\"无法识别）")))
      << imported.out.toStdString();

  const QString out = FDir.filePath(QStringLiteral("导出.xlsx"));
  const TRun exported = Run({QStringLiteral("export"), QStringLiteral("--device"), QStringLiteral("QK355"),
                             QStringLiteral("--from"), QStringLiteral("2025-01-01"), QStringLiteral("--to"),
                             QStringLiteral("2025-01-31"), out});
  EXPECT_EQ(exported.status, 0) << exported.err.toStdString();
  EXPECT_TRUE(exported.out.startsWith(QStringLiteral("已导出 1 条结果"))) << exported.out.toStdString();
  const TRun again = Run({QStringLiteral("import"), out});
  EXPECT_EQ(again.status, 0);
  EXPECT_TRUE(again.out.contains(QStringLiteral("已导入 0 条结果，1 条已在历史记录中"))) << again.out.toStdString();

  const TRun listed = Run({QStringLiteral("list"), QStringLiteral("--device"), QStringLiteral("QK355")});
  EXPECT_EQ(listed.status, 0);
  const QStringList lines = listed.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("序号\t时间\t设备编号")));
  EXPECT_TRUE(lines[1].contains(QStringLiteral("\t25-06-04 00:00\t"))) << lines[1].toStdString();  // newest first

  const TRun checked = Run({QStringLiteral("check")});
  EXPECT_EQ(checked.status, 0);
  EXPECT_TRUE(checked.out.contains(QStringLiteral("完好，共 2 条结果，待同步 2 条"))) << checked.out.toStdString();
  {
    QFile f(FDir.filePath(QStringLiteral("results.sqlite")));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.seek(4096);
    f.write(QByteArray(4096, 'x'));
  }
  EXPECT_EQ(Run({QStringLiteral("check")}).status, 1);

  EXPECT_EQ(Run({QStringLiteral("export")}).status, 2);
  EXPECT_EQ(Run({QStringLiteral("list"), QStringLiteral("--from"), QStringLiteral("someday")}).status, 2);
}

// sync says what moved; with the server away it says why and exits 1.
TEST_F(HistoryTool, SyncReportsWhatMovedOrWhyItCouldNot) {
  EXPECT_EQ(Run({QStringLiteral("sync")}).status, 1);  // no team database set
  TPgCluster cluster;
  if (cluster.Why().contains(QStringLiteral("not installed"))) GTEST_SKIP() << cluster.Why().toStdString();
  ASSERT_TRUE(cluster.Why().isEmpty()) << cluster.Why().toStdString();
  ASSERT_TRUE(cluster.CreateDatabase(QStringLiteral("team")));
  TTeamConfig c = cluster.TeamConfig(QStringLiteral("team"));
  c.connectTimeout = 2;
  {
    TIniFile ini(Settings());
    WriteTeamConfig(ini, c);
  }
  Run({QStringLiteral("import"), kFixtures + QStringLiteral("ours.csv")});
  const TRun synced = Run({QStringLiteral("sync")});
  EXPECT_EQ(synced.status, 0) << synced.err.toStdString();
  EXPECT_TRUE(synced.out.contains(QStringLiteral("上传 2 条，下载 0 条，待同步 0 条"))) << synced.out.toStdString();
  ASSERT_TRUE(cluster.Stop());
  Run({QStringLiteral("import"), kFixtures + QStringLiteral("formatted.xlsx")});
  const TRun away = Run({QStringLiteral("sync")});
  EXPECT_EQ(away.status, 1);
  EXPECT_TRUE(away.err.contains(QStringLiteral("无法连接团队数据库"))) << away.err.toStdString();
  EXPECT_TRUE(away.err.contains(QStringLiteral("待同步 1 条"))) << away.err.toStdString();
}

}  // namespace
