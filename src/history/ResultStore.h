#pragma once
// The results history: every record an upload brings and every live result
// the operator archives, kept in a database (SQLite, results.sqlite beside
// the settings file) as the tables show them, with their values in ohms.
//
// Schema version 1:
//   meta(key, value)             "schema_version"
//   results(id, kind, source_key UNIQUE, device_no, test_time, stored_at,
//           t0..t10 the 11 texts of the row, ohm_a, ohm_b, ohm_c,
//           start_range, start_time, start_phase)
// Version 2 adds:
//   criteria(device_no PRIMARY KEY, max_uohm, reference_uohm, rise_factor,
//            imbalance_pct)   device_no '' holds the program-wide defaults
// An upload of the same instrument records stores them once: source_key is
// unique in the database, so two writers cannot both add a record.
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <map>
#include <optional>
#include <vector>

#include "history/Assessment.h"

enum class TResultKind { Uploaded, Archived, Imported };

// Resistances of phases A, B, C in ohms, as the instrument's frame held them;
// an empty phase is read from its text instead.
using TOhms = std::array<std::optional<double>, 3>;

// The parameters a live test was started with (indices as the lists use them).
struct TStartParams {
  int currentStep = 0;
  int testTime = 0;
  int phase = 0;
};

struct TStoredResult {
  qint64 id = 0;
  TResultKind kind = TResultKind::Uploaded;
  QStringList texts;  // the 11 columns of the record tables
  QString device;
  QDateTime time;     // the instrument's or the archive's time
  std::array<std::optional<double>, 3> ohms;
  std::optional<TStartParams> start;
};

// Which database holds the history: [Database] of the settings file.
//   Driver=QSQLITE (default)  the file results.sqlite beside the settings
//   Driver=QPSQL              Host, Port, Name, User and Options (passed to
//                             libpq as they stand, e.g. sslmode=verify-full)
// No password is ever stored: libpq's ~/.pgpass or service file gives it.
struct TStoreConfig {
  QString driver = QStringLiteral("QSQLITE");
  QString file;  // QSQLITE
  QString host;
  int port = 5432;
  QString name;
  QString user;
  QString options;
  // Where the store is, in words ("PostgreSQL qk@db.example:5432/history").
  QString Describe() const;
};

// Which results a view asks for: one device or all (empty), and a time
// range (an invalid time is no bound).
struct THistoryFilter {
  QString device;
  QDateTime from;
  QDateTime to;
};

// A point of a device's trend: when, and phases A, B, C in ohms.
struct TTrendPoint {
  QDateTime time;
  std::array<std::optional<double>, 3> ohms;
};

class TIniFile;
// The store the settings select; file is the SQLite file to use by default.
TStoreConfig StoreConfigOf(const TIniFile& settings, const QString& sqliteFile);

class TResultStore {
 public:
  static constexpr int kSchemaVersion = 2;

  // Opens the SQLite file, creating it and bringing its schema to the
  // current version. Throws EAppError with a Chinese reason.
  explicit TResultStore(const QString& file);
  // Opens the store the configuration names (SQLite or PostgreSQL).
  explicit TResultStore(const TStoreConfig& config);
  ~TResultStore();
  TResultStore(const TResultStore&) = delete;
  TResultStore& operator=(const TResultStore&) = delete;

  // The SQLite file, or the description of a server store.
  QString FileName() const { return FFile; }
  int SchemaVersion() const;

  // Stores uploaded rows (11 texts each) in one transaction; rows stored
  // before are skipped. Returns how many were added. Throws EAppError.
  int AddUploaded(const std::vector<QStringList>& rows);
  // The same, with the values of each row's frame (as many as rows).
  int AddUploaded(const std::vector<QStringList>& rows, const std::vector<TOhms>& ohms);
  // Stores an archived row with the parameters its test started with, and
  // the values of its live frame where known. Throws EAppError.
  void AddArchived(const QStringList& texts, const TStartParams& start, const TOhms& ohms = {});
  // Stores rows read from a data file; rows stored before are skipped.
  int AddImported(const std::vector<QStringList>& rows);

  // The criteria of a device: its own where it has them, else the
  // program-wide defaults (device ""). Throws EAppError.
  TCriteria Criteria(const QString& device) const;
  // Only the device's own entries, unmerged.
  TCriteria OwnCriteria(const QString& device) const;
  void SetCriteria(const QString& device, const TCriteria& criteria);
  // The criteria of each of the devices, read at once.
  std::map<QString, TCriteria> CriteriaOf(const QStringList& devices) const;
  // The device's first stored result per phase, in micro-ohms.
  std::array<std::optional<double>, 3> FirstValues(const QString& device) const;
  // The first values of each of the devices, in one question to the store.
  std::map<QString, std::array<std::optional<double>, 3>> FirstValuesOf(const QStringList& devices) const;

  // Results, newest first; an empty device means every device, an invalid
  // time no bound.
  std::vector<TStoredResult> Results(const QString& device = QString(), const QDateTime& from = QDateTime(),
                                     const QDateTime& to = QDateTime()) const;
  // At most limit results of the filter, newest first, those after `after`
  // (a result an earlier call returned; null: from the newest).
  std::vector<TStoredResult> Page(const THistoryFilter& filter, const TStoredResult* after, int limit) const;
  // How many results the filter selects.
  int Count(const THistoryFilter& filter) const;
  // Times and values of the filter's results, oldest first.
  std::vector<TTrendPoint> Trend(const THistoryFilter& filter) const;
  // The device numbers stored, sorted.
  QStringList Devices() const;

 private:
  void Open(const TStoreConfig& config);
  void Migrate();
  // Stores the rows under their keys in one statement; returns how many
  // were new.
  int Insert(TResultKind kind, const std::vector<QString>& keys, const std::vector<const QStringList*>& rows,
             const std::vector<const TOhms*>& ohms, const std::optional<TStartParams>& start);
  int AddRows(TResultKind kind, const std::vector<QStringList>& rows, const std::vector<TOhms>* ohms);
  // The criteria table by device: maximum, reference, rise factor,
  // imbalance, each empty where not set.
  std::map<QString, std::array<std::optional<double>, 4>> CriteriaRows() const;

  QString FFile;
  QString FConnection;
  bool FServer = false;
};
