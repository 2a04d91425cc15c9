#pragma once
// The results history on this PC: every record an upload brings, every live
// result the operator archives and every row imported from a file, kept in
// an SQLite file (results.sqlite beside the settings file) as the tables
// show them, with their values in ohms. Each test is kept once: its
// identity (history/ResultIdentity.h) is unique in the database, whatever
// path brought it. A team database, where one is set, receives a copy in
// the background (history/HistorySync.h); this store never waits on it.
//
// Schema version 3:
//   meta(key, value)        "schema_version", "store_id" (this store's own,
//                           a UUID), and what the replication keeps
//   results(id, identity UNIQUE, kind, device_no, test_time, stored_at,
//           t0..t10 the 11 texts of the row, ohm_a, ohm_b, ohm_c, exact
//           (the values are the instrument's frame's, not read from texts),
//           start_range, start_time, start_phase, origin (the store_id of
//           the PC that stored it first), synced (the team database has it),
//           series)
//   criteria(device_no PRIMARY KEY, max_uohm, reference_uohm, rise_factor,
//            imbalance_pct, synced)   device_no '' holds the defaults
// Versions 1 and 2 (a source key per path, the import moment for a time
// that was not read) are brought to 3 when the store opens, their copies of
// one test merged into one result.
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

// A result to store.
struct TNewResult {
  TResultKind kind = TResultKind::Uploaded;
  QStringList texts;  // the 11 columns of the record tables
  TOhms ohms;         // the frame's values where the program has them
  std::optional<TStartParams> start;
  // The moment to the second where the program knows it (an archive); else
  // the time its text states.
  QDateTime time;
  // A live test's course (data/TestSeries.h, as text); empty: none.
  QString series;
};

struct TStoredResult {
  qint64 id = 0;
  TResultKind kind = TResultKind::Uploaded;
  QStringList texts;  // the 11 columns of the record tables
  QString device;
  QDateTime time;     // the instrument's or the archive's time
  std::array<std::optional<double>, 3> ohms;
  std::optional<TStartParams> start;
  QString identity;
  bool exact = false;  // the values are the frame's
  QString storedAt;
  QString origin;
  bool synced = false;
  QString series;  // the live test's course as text; empty: none
};

// What storing gave: results new to the store, results it held already
// (from any path), results whose values read from texts were replaced by the
// frame's, and characters a database cannot keep (NUL and other control
// characters) left out.
struct TAddCount {
  int added = 0;
  int existing = 0;
  int upgraded = 0;
  int removedChars = 0;
};

// Which results a view asks for: one device or all (empty), and a time
// range (an invalid time is no bound).
struct THistoryFilter {
  QString device;
  QDateTime from;
  QDateTime to;
};

// A point of a device's trend: when (ms since the epoch: a trend of ten
// thousand results is drawn and searched by it), and phases A, B, C in ohms.
struct TTrendPoint {
  qint64 ms = 0;
  std::array<std::optional<double>, 3> ohms;
  TTrendPoint() = default;
  TTrendPoint(qint64 msecs, const std::array<std::optional<double>, 3>& values) : ms(msecs), ohms(values) {}
  TTrendPoint(const QDateTime& time, const std::array<std::optional<double>, 3>& values)
      : ms(time.toMSecsSinceEpoch()), ohms(values) {}
  QDateTime Time() const { return QDateTime::fromMSecsSinceEpoch(ms); }
};

// A row of the criteria table: maximum, reference, rise factor, imbalance,
// each empty where not set.
using TCriteriaRow = std::array<std::optional<double>, 4>;

class TResultStore {
 public:
  static constexpr int kSchemaVersion = 3;
  enum class TMode { ReadWrite, ReadOnly };

  // Opens the SQLite file, creating it (readable by its owner only) and
  // bringing its schema to the current version. Throws EAppError with a
  // Chinese reason.
  explicit TResultStore(const QString& file, TMode mode = TMode::ReadWrite);
  ~TResultStore();
  TResultStore(const TResultStore&) = delete;
  TResultStore& operator=(const TResultStore&) = delete;

  QString FileName() const { return FFile; }
  bool ReadOnly() const { return FMode == TMode::ReadOnly; }
  int SchemaVersion() const;
  // This store's own id, a UUID made when it was created.
  QString StoreId() const { return FStoreId; }

  // The damage SQLite's quick check finds in the file, in words; empty when
  // it finds none. Reads the whole file: a second for a million results.
  static QString QuickCheck(const QString& file);
  // Whether an error since the store opened was a damaged page.
  bool DamageSeen() const { return FDamageSeen; }

  // Stores results in one transaction, each test once. Throws EAppError
  // (nothing is stored then).
  TAddCount Add(const std::vector<TNewResult>& results);
  // Uploaded rows (11 texts each), with the values of each row's frame
  // where given. Returns how many were new.
  int AddUploaded(const std::vector<QStringList>& rows, const std::vector<TOhms>& ohms = {});
  // An archived row with the parameters its test started with, and the
  // values of its live frame where known; time: the archive's moment.
  void AddArchived(const QStringList& texts, const TStartParams& start, const TOhms& ohms = {},
                   const QDateTime& time = QDateTime());
  // Rows read from a data file, as they stand (history/HistoryImport.h reads
  // and checks a file's rows first).
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

  // ---- what the replication to a team database uses ----
  // Results the team database does not have yet.
  int PendingCount() const;
  // At most limit of them, in identity order (writers that meet on a team
  // database take its rows in one order).
  std::vector<TStoredResult> Pending(int limit) const;
  // The team database has these results as they were read by Pending (a
  // result upgraded since stays pending).
  void MarkSynced(const std::vector<TStoredResult>& results);
  // Results of the team database: those new here are stored as synced,
  // those held here with values read from texts take the frame's values.
  // Returns how many were new.
  int Merge(const std::vector<TStoredResult>& results);
  // Every result pending again (the team database is another one).
  void ResetSync();
  // Criteria rows changed here since the team database had them.
  std::map<QString, TCriteriaRow> PendingCriteria() const;
  void MarkCriteriaSynced(const std::map<QString, TCriteriaRow>& rows);
  // The team database's criteria, over those not changed here since.
  void MergeCriteria(const std::map<QString, TCriteriaRow>& rows);
  QString Meta(const QString& key) const;
  void SetMeta(const QString& key, const QString& value);

 private:
  void Open();
  void Migrate();
  void MigrateResults(int from);
  // The criteria table by device.
  std::map<QString, TCriteriaRow> CriteriaRows() const;
  // Throws EAppError for the SQL error, noting a damaged page.
  [[noreturn]] void Fail(const QString& what, const class QSqlError& e) const;
  // Runs a statement that returns no rows; Fail on error.
  void Exec(const QString& sql, const QString& what) const;

  QString FFile;
  TMode FMode;
  QString FConnection;
  QString FStoreId;
  mutable bool FDamageSeen = false;
};

// The store's kinds as they are kept ("uploaded", "archived", "imported").
QString KindText(TResultKind kind);
TResultKind KindOfText(const QString& text);
// A text without the characters a database cannot keep (NUL and the other
// control characters but tab); count grows by how many were left out.
QString StorableText(const QString& text, int& count);
