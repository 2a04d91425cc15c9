// "历史记录数据库": a team's PostgreSQL database chosen, checked in the
// background (the server actually reached is named), stored in [Database]
// without any password; options that would redirect the connection refused.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "data/UDataCenter.h"
#include "forms/UHistory.h"
#include "history/TeamStore.h"
#include "platform/IniFile.h"
#include "support/PgCluster.h"
#include "support/SilentEndpoint.h"
#include "support/ReportSupport.h"
#include "support/TestServices.h"

namespace {

// Lets the dialog's check end, answering events meanwhile.
void WaitForCheck(TFrmDatabase& dlg) {
  QElapsedTimer t;
  t.start();
  while (dlg.Checking() && t.elapsed() < 30000) FlushEvents();
}

TEST(HistoryDatabase, AServerIsCheckedAndStoredWithoutAPassword) {
  TPgCluster cluster;
  if (cluster.Why().contains(QStringLiteral("not installed"))) GTEST_SKIP() << cluster.Why().toStdString();
  ASSERT_TRUE(cluster.Why().isEmpty()) << cluster.Why().toStdString();
  ASSERT_TRUE(cluster.CreateDatabase(QStringLiteral("team")));
  QTemporaryDir dir;
  SetAppDir(dir.path());
  TRecordingMessages messages;
  {
    TFrmDatabase dlg(dir.filePath(QStringLiteral("results.sqlite")));
    EXPECT_EQ(dlg.cbDriver->currentIndex(), 0);
    EXPECT_FALSE(dlg.edtHost->isEnabled());
    dlg.cbDriver->setCurrentIndex(1);
    dlg.edtHost->setText(cluster.SocketDir());
    dlg.spnPort->setValue(cluster.Port() + 1);  // nothing listens there
    dlg.edtName->setText(QStringLiteral("team"));
    dlg.edtUser->setText(cluster.User());
    dlg.btnCheck->click();
    WaitForCheck(dlg);
    EXPECT_TRUE(dlg.lblState->text().startsWith(QStringLiteral("无法连接："))) << dlg.lblState->text().toStdString();
    dlg.spnPort->setValue(cluster.Port());
    dlg.btnCheck->click();
    WaitForCheck(dlg);
    // The server reached, as the server itself says: its version, socket and database.
    const QString state = dlg.lblState->text();
    EXPECT_TRUE(state.startsWith(QStringLiteral("已连接：PostgreSQL "))) << state.toStdString();
    EXPECT_TRUE(state.contains(cluster.SocketDir() + QStringLiteral(":5439，数据库 team，用户 qk"))) << state.toStdString();
    dlg.BtnOK->click();
  }
  TIniFile ini(SettingsFileName());
  EXPECT_EQ(ini.ReadString(QStringLiteral("Database"), QStringLiteral("Driver"), QString()), QStringLiteral("QPSQL"));
  EXPECT_EQ(ini.ReadSectionKeys(QStringLiteral("Database")),
            (QStringList{"Driver", "Host", "Port", "Name", "User", "Options", "ConnectTimeout", "StatementTimeout"}));
  const TTeamConfig c = TeamConfigOf(ini);
  EXPECT_EQ(c.name, QStringLiteral("team"));
  EXPECT_EQ(c.statementTimeout, 15);
  EXPECT_TRUE(messages.Boxes.isEmpty());
  SetAppDir(QString());
}

// The dialog answers while a server never does; closing it ends the check.
TEST(HistoryDatabase, ASilentServerLeavesTheDialogAnswering) {
  TSilentEndpoint silent;
  ASSERT_NE(silent.Port(), 0);
  QTemporaryDir dir;
  SetAppDir(dir.path());
  {
    TFrmDatabase dlg(dir.filePath(QStringLiteral("results.sqlite")));
    dlg.cbDriver->setCurrentIndex(1);
    dlg.edtHost->setText(QStringLiteral("127.0.0.1"));
    dlg.spnPort->setValue(silent.Port());
    dlg.spnConnectTimeout->setValue(30);
    QElapsedTimer t;
    t.start();
    dlg.btnCheck->click();
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_TRUE(dlg.Checking());
    EXPECT_TRUE(dlg.lblState->text().startsWith(QStringLiteral("正在连接 "))) << dlg.lblState->text().toStdString();
    t.restart();
  }  // closed while the check waits
  SetAppDir(QString());
}

// Options naming the server, the user or a password are refused in the
// dialog with the key named; nothing is written.
TEST(HistoryDatabase, OptionsThatRedirectOrHoldAPasswordAreRefused) {
  QTemporaryDir dir;
  SetAppDir(dir.path());
  TRecordingMessages messages;
  {
    TFrmDatabase dlg(dir.filePath(QStringLiteral("results.sqlite")));
    dlg.cbDriver->setCurrentIndex(1);
    dlg.edtHost->setText(QStringLiteral("db.example"));
    dlg.edtOptions->setText(QStringLiteral("host=127.0.0.1 password=secret sslmode=disable"));
    dlg.btnCheck->click();
    EXPECT_TRUE(dlg.lblState->text().contains(QStringLiteral("连接选项不能含有“host”"))) << dlg.lblState->text().toStdString();
    dlg.BtnOK->click();
    ASSERT_EQ(messages.Boxes.size(), 1);
    EXPECT_TRUE(messages.Boxes[0].text.contains(QStringLiteral("“host”")));
    EXPECT_TRUE(dlg.isVisible() || dlg.result() != QDialog::Accepted);
  }
  EXPECT_FALSE(QFileInfo::exists(SettingsFileName()));
  SetAppDir(QString());
}

}  // namespace
