#include "support/PgCluster.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

TPgCluster::TPgCluster() {
  const QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  for (const QString& v : versions) {
    const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(v);
    if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl"))) FBin = bin;
  }
  if (FBin.isEmpty()) {
    FWhy = QStringLiteral("PostgreSQL's initdb and pg_ctl are not installed (Debian package postgresql)");
    return;
  }
  if (!FDir.isValid()) {
    FWhy = QStringLiteral("no temporary folder");
    return;
  }
  QDir().mkpath(SocketDir());
  if (geteuid() == 0) {
    // The server runs as nobody, who must reach and own its folders.
    const QByteArray root = QFile::encodeName(FDir.path());
    if (chmod(root.constData(), 0755) != 0 || chown(QFile::encodeName(SocketDir()).constData(), 65534, 65534) != 0) {
      FWhy = QStringLiteral("cannot hand the folders to nobody");
      return;
    }
    QDir().mkpath(FDir.path() + QStringLiteral("/data"));
    if (chown(QFile::encodeName(FDir.path() + QStringLiteral("/data")).constData(), 65534, 65534) != 0) {
      FWhy = QStringLiteral("cannot hand the data folder to nobody");
      return;
    }
  }
  QString out;
  if (!Run(FBin + QStringLiteral("/initdb"),
           {QStringLiteral("-D"), FDir.path() + QStringLiteral("/data"), QStringLiteral("-U"), User(),
            QStringLiteral("--auth=trust"), QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C"),
            QStringLiteral("--no-sync")},
           &out)) {
    FWhy = QStringLiteral("initdb failed: ") + out;
    return;
  }
  if (!Start()) return;
}

bool TPgCluster::Start() {
  QString out;
  const QString options = QStringLiteral("-k %1 -c listen_addresses= -p %2 -c fsync=off").arg(SocketDir()).arg(Port());
  if (!Run(FBin + QStringLiteral("/pg_ctl"),
           {QStringLiteral("-D"), FDir.path() + QStringLiteral("/data"), QStringLiteral("-o"), options,
            QStringLiteral("-l"), SocketDir() + QStringLiteral("/server.log"), QStringLiteral("-w"),
            QStringLiteral("start")},
           &out)) {
    QFile log(SocketDir() + QStringLiteral("/server.log"));
    log.open(QIODevice::ReadOnly);
    FWhy = QStringLiteral("pg_ctl start failed: ") + out + QString::fromLocal8Bit(log.readAll());
    return false;
  }
  FStarted = true;
  return true;
}

bool TPgCluster::Stop() {
  if (!FStarted) return true;
  const bool ok = Run(FBin + QStringLiteral("/pg_ctl"), {QStringLiteral("-D"), FDir.path() + QStringLiteral("/data"),
                                                         QStringLiteral("-m"), QStringLiteral("immediate"),
                                                         QStringLiteral("-w"), QStringLiteral("stop")});
  if (ok) FStarted = false;
  return ok;
}

QStringList TPgCluster::Query(const QString& database, const QString& sql) {
  static int n = 0;
  const QString connection = QStringLiteral("pg-query-%1").arg(++n);
  QStringList out;
  FQueryError.clear();
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
    db.setHostName(SocketDir());
    db.setPort(Port());
    db.setDatabaseName(database);
    db.setUserName(User());
    if (db.open()) {
      QSqlQuery q(db);
      if (q.exec(sql)) {
        while (q.next()) out << q.value(0).toString();
      } else {
        FQueryError = q.lastError().text();
      }
      db.close();
    } else {
      FQueryError = db.lastError().text();
    }
  }
  QSqlDatabase::removeDatabase(connection);
  return out;
}

TPgCluster::~TPgCluster() { Stop(); }

bool TPgCluster::Run(const QString& program, const QStringList& args, QString* output) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.setWorkingDirectory(FDir.path());
  if (geteuid() == 0) {
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    p.start(setpriv, QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                 QStringLiteral("--clear-groups"), program} + args);
  } else {
    p.start(program, args);
  }
  const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  if (output) *output = QString::fromLocal8Bit(p.readAll());
  return ok;
}

bool TPgCluster::CreateDatabase(const QString& name) {
  const QString connection = QStringLiteral("pg-admin-") + name;
  bool ok = false;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
    db.setHostName(SocketDir());
    db.setPort(Port());
    db.setDatabaseName(QStringLiteral("postgres"));
    db.setUserName(User());
    if (db.open()) {
      QSqlQuery q(db);
      ok = q.exec(QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
      if (!ok) FWhy = q.lastError().text();
      db.close();
    } else {
      FWhy = db.lastError().text();
    }
  }
  QSqlDatabase::removeDatabase(connection);
  return ok;
}

TTeamConfig TPgCluster::TeamConfig(const QString& database) const {
  TTeamConfig c;
  c.enabled = true;
  c.host = SocketDir();
  c.port = Port();
  c.name = database;
  c.user = User();
  return c;
}
