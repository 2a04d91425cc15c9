#pragma once
// A throwaway PostgreSQL cluster for one test suite, from Debian's
// postgresql package: initdb and pg_ctl in a temporary folder, listening
// only on a Unix socket there, run as nobody when the suite runs as root
// (the server refuses root). Stopped and removed with the object.
#include <QString>
#include <QTemporaryDir>

#include <memory>

#include "history/TeamStore.h"

class TPgCluster {
 public:
  TPgCluster();
  ~TPgCluster();
  // Empty when the cluster runs; otherwise why it does not.
  QString Why() const { return FWhy; }
  QString SocketDir() const { return FDir.path() + QStringLiteral("/socket"); }
  int Port() const { return 5439; }
  QString User() const { return QStringLiteral("qk"); }
  // The settings that name the database on this cluster (the program's
  // timeouts; callers shorten them).
  TTeamConfig TeamConfig(const QString& database) const;
  // Creates a database of that name; false with Why() when it cannot.
  bool CreateDatabase(const QString& name);
  // Stops the server at once, as a crash or a power cut would
  // (pg_ctl stop -m immediate), and starts it again.
  bool Stop();
  bool Start();
  // The first column of each row sql gives on the database; QueryError()
  // says what failed.
  QStringList Query(const QString& database, const QString& sql);
  QString QueryError() const { return FQueryError; }

 private:
  bool Run(const QString& program, const QStringList& args, QString* output = nullptr);

  QTemporaryDir FDir;
  QString FBin;
  QString FWhy;
  QString FQueryError;
  bool FStarted = false;
};
