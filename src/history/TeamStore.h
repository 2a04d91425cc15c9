#pragma once
// A team's PostgreSQL database that the PCs of a team replicate their
// results to (history/HistorySync.h). Talked to through libpq without
// blocking: every wait has a deadline (the connect and statement timeouts of
// [Database]) and ends within 100 ms of a stop being asked for, so a hung or
// lost server costs a worker thread some seconds and never the window.
//
// Schema version 3 of the team database:
//   meta(key, value)   "schema_version", "database_id" (a UUID)
//   results(seq BIGSERIAL, identity UNIQUE, kind, device_no, test_time,
//           stored_at, t0..t10, ohm_a, ohm_b, ohm_c, exact, start_range,
//           start_time, start_phase, origin, series)
//           seq orders the results as they were committed: a PC reads what
//           is new after the last seq it read
//   criteria(device_no PRIMARY KEY, max_uohm, reference_uohm, rise_factor,
//            imbalance_pct)
// Version 2 (the store the program wrote to directly) is brought to 3, its
// copies of one test merged.
#include <QString>

#include <atomic>
#include <map>
#include <vector>

#include "history/ResultStore.h"

class TIniFile;

// [Database] of the settings file:
//   Driver=QPSQL        a team database; anything else: none
//   Host, Port, Name, User, Options (libpq's own, e.g. sslmode=verify-full)
//   ConnectTimeout, StatementTimeout   seconds (5 and 15 by default)
// No password is ever stored: libpq's ~/.pgpass or service file gives it.
struct TTeamConfig {
  bool enabled = false;
  QString host;
  int port = 5432;
  QString name;
  QString user;
  QString options;
  int connectTimeout = 5;
  int statementTimeout = 15;
  // "PostgreSQL qk@db.example:5432/history"
  QString Describe() const;
  // Why the options cannot be used, naming the key; empty when they can.
  // A key with a field of its own (host, hostaddr, port, dbname, user) or
  // one that belongs in ~/.pgpass or a service file (password, passfile,
  // service) is refused: it would send the data elsewhere than the dialog
  // shows, or keep a password in the settings.
  QString OptionsError() const;
};

TTeamConfig TeamConfigOf(const TIniFile& settings);
void WriteTeamConfig(TIniFile& settings, const TTeamConfig& config);

class TTeamLink {
 public:
  static constexpr int kSchemaVersion = 3;

  // stop: when set, a wait ends within 100 ms with an error.
  explicit TTeamLink(const TTeamConfig& config, const std::atomic<bool>* stop = nullptr);
  ~TTeamLink();
  TTeamLink(const TTeamLink&) = delete;
  TTeamLink& operator=(const TTeamLink&) = delete;

  // Connects within the connect timeout and brings the team schema to the
  // current version (one program at a time). Throws EAppError.
  void Connect();
  bool Connected() const { return FConn != nullptr; }
  void Close();
  // The server actually reached, in words: "PostgreSQL 15.4 /run/pg:5432
  // 数据库 history 用户 qk".
  QString Reached() const { return FReached; }
  // The team database's own id.
  QString DatabaseId() const { return FDatabaseId; }

  // Stores the results the team database lacks and gives the frame's
  // values to those it holds with values read from texts. Results go in
  // identity order, one writer at a time. Returns how many were new.
  int Push(std::vector<TStoredResult> results);
  // At most limit results stored after cursor, in the order they were
  // committed; cursor moves past them.
  std::vector<TStoredResult> Pull(qint64& cursor, int limit);
  void PushCriteria(const std::map<QString, TCriteriaRow>& rows);
  std::map<QString, TCriteriaRow> PullCriteria();
  qint64 ResultCount();

 private:
  struct TResult;
  // Runs one statement with text parameters (null: SQL NULL) and waits for
  // its result within the statement timeout. Throws EAppError.
  TResult Run(const char* sql, const std::vector<QByteArray>& params = {}, const std::vector<bool>& nulls = {});
  void Migrate();
  void MigrateFromVersion2();
  // Waits until the socket is ready for reading (or writing) or the
  // deadline passes; false on timeout. Throws when a stop is asked for.
  bool Wait(bool forWrite, qint64 deadlineMs);
  [[noreturn]] void Lost(const QString& why);

  TTeamConfig FConfig;
  const std::atomic<bool>* FStop;
  struct pg_conn* FConn = nullptr;
  QString FReached;
  QString FDatabaseId;
};
