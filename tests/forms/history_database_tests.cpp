// "历史记录数据库": a team's PostgreSQL database chosen, checked for reach,
// stored in [Database] without any password.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "data/UDataCenter.h"
#include "forms/UHistory.h"
#include "platform/IniFile.h"
#include "support/PgCluster.h"
#include "support/TestServices.h"

namespace {

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
    EXPECT_FALSE(dlg.Check());
    EXPECT_TRUE(dlg.lblState->text().startsWith(QStringLiteral("无法连接："))) << dlg.lblState->text().toStdString();
    dlg.spnPort->setValue(cluster.Port());
    EXPECT_TRUE(dlg.Check());
    EXPECT_TRUE(dlg.lblState->text().startsWith(QStringLiteral("可以连接：PostgreSQL qk@")))
        << dlg.lblState->text().toStdString();
    dlg.BtnOK->click();
  }
  TIniFile ini(SettingsFileName());
  EXPECT_EQ(ini.ReadString(QStringLiteral("Database"), QStringLiteral("Driver"), QString()), QStringLiteral("QPSQL"));
  EXPECT_EQ(ini.ReadSectionKeys(QStringLiteral("Database")),
            (QStringList{"Driver", "Host", "Port", "Name", "User", "Options"}));
  const TStoreConfig c = StoreConfigOf(ini, QString());
  EXPECT_EQ(c.name, QStringLiteral("team"));
  TResultStore store(c);  // the program's store is now the server's
  EXPECT_EQ(store.SchemaVersion(), TResultStore::kSchemaVersion);
  EXPECT_TRUE(messages.Boxes.isEmpty());
  SetAppDir(QString());
}

}  // namespace
