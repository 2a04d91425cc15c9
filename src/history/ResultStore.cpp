#include "history/ResultStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>
#include <QUuid>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <set>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include "data/RecordTable.h"
#include "history/ResultIdentity.h"
#include "history/ResultValues.h"
#include "platform/MessageService.h"

namespace {

const int kTexts = Record::kColumns;

// SQLite's result codes of a damaged file: SQLITE_CORRUPT, SQLITE_NOTADB.
bool IsDamage(const QSqlError& e) {
  const QString code = e.nativeErrorCode();
  const QString t = e.text();
  return code == QLatin1String("11") || code == QLatin1String("26") ||
         t.contains(QLatin1String("malformed"), Qt::CaseInsensitive) ||
         t.contains(QLatin1String("not a database"), Qt::CaseInsensitive);
}

QString Why(const QSqlError& e) {
  const QString t = e.text().trimmed();
  QString cause;
  if (t.contains(QLatin1String("readonly"), Qt::CaseInsensitive) ||
      t.contains(QLatin1String("read-only"), Qt::CaseInsensitive)) {
    cause = QStringLiteral("数据库为只读");
  } else if (t.contains(QLatin1String("full"), Qt::CaseInsensitive)) {
    cause = QStringLiteral("磁盘已满");
  } else if (t.contains(QLatin1String("I/O error"), Qt::CaseInsensitive)) {
    cause = QStringLiteral("磁盘读写出错，磁盘可能已满");
  } else if (t.contains(QLatin1String("locked"), Qt::CaseInsensitive) ||
             t.contains(QLatin1String("busy"), Qt::CaseInsensitive)) {
    cause = QStringLiteral("数据库被其他程序占用");
  } else if (t.contains(QLatin1String("not a database"), Qt::CaseInsensitive)) {
    cause = QStringLiteral("文件不是历史记录数据库");
  } else if (IsDamage(e)) {
    cause = QStringLiteral("数据库文件已损坏");
  } else {
    cause = QStringLiteral("数据库错误");
  }
  return t.isEmpty() ? cause : QStringLiteral("%1（%2）").arg(cause, t);
}

// A text as the store keeps it: an empty text is '' and never NULL (Qt's
// drivers bind a null QString as NULL, which device_no refuses).
QVariant Text(const QString& s) { return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s); }

QVariant Optional(const std::optional<double>& v) { return v ? QVariant(*v) : QVariant(QMetaType::fromType<double>()); }

QString IsoTime(const QDateTime& t) { return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")); }

// "yyyy-MM-ddTHH:mm:ss" as this store writes it, read by hand: the format
// parser of QDateTime took half the time of reading a hundred thousand rows.
QDateTime TimeOfIso(const QString& s) {
  if (s.size() != 19) return QDateTime::fromString(s, Qt::ISODate);
  auto num = [&](int at, int len) {
    int v = 0;
    for (int i = at; i < at + len; ++i) v = v * 10 + (s[i].unicode() - u'0');
    return v;
  };
  return QDateTime(QDate(num(0, 4), num(5, 2), num(8, 2)), QTime(num(11, 2), num(14, 2), num(17, 2)));
}

// The stored times of a trend in ms since the epoch. A local QDateTime
// costs microseconds and a device's trend has thousands of points: the
// times are read as local wall-clock ms first, then moved to UTC by the
// offsets in force, which change only at the zone's few transitions.
class TLocalTimes {
 public:
  // "yyyy-MM-ddTHH:mm:ss" as ms of the wall clock since the epoch.
  void Add(const char* text, int size) {
    if (size != 19) {
      const QDateTime t = QDateTime::fromString(QString::fromLatin1(text, size), Qt::ISODate);
      FWall.push_back(t.isValid() ? QDateTime(t.date(), t.time(), Qt::UTC).toMSecsSinceEpoch() : 0);
      return;
    }
    auto num = [&](int at, int len) {
      int v = 0;
      for (int i = at; i < at + len; ++i) v = v * 10 + (text[i] - '0');
      return v;
    };
    const qint64 day = QDate(num(0, 4), num(5, 2), num(8, 2)).toJulianDay() - kEpochDay;
    FWall.push_back(day * 86400000LL + (num(11, 2) * 3600LL + num(14, 2) * 60LL + num(17, 2)) * 1000LL);
  }
  // The times in ms since the epoch, in the order added.
  std::vector<qint64> Utc() const {
    std::vector<qint64> out(FWall);
    if (out.empty()) return out;
    const auto [low, high] = std::minmax_element(out.begin(), out.end());
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(*low - 2 * 86400000LL, Qt::UTC);
    const QDateTime to = QDateTime::fromMSecsSinceEpoch(*high + 2 * 86400000LL, Qt::UTC);
    // The wall-clock moments from which each offset holds, in order.
    std::vector<std::pair<qint64, qint64>> offsets{{INT64_MIN, qint64(zone.offsetFromUtc(from)) * 1000}};
    if (zone.hasTransitions()) {
      for (const QTimeZone::OffsetData& t : zone.transitions(from, to)) {
        const qint64 offset = qint64(t.offsetFromUtc) * 1000;
        offsets.emplace_back(t.atUtc.toMSecsSinceEpoch() + offset, offset);
      }
    }
    for (qint64& ms : out) {
      auto it = std::upper_bound(offsets.begin(), offsets.end(), ms,
                                 [](qint64 v, const std::pair<qint64, qint64>& o) { return v < o.first; });
      ms -= std::prev(it)->second;
    }
    return out;
  }

 private:
  static constexpr qint64 kEpochDay = 2440588;  // the Julian day of 1970-01-01
  std::vector<qint64> FWall;
};

const char* const kResultsTable =
    "CREATE TABLE results ("
    " id INTEGER PRIMARY KEY,"
    " identity TEXT NOT NULL UNIQUE,"
    " kind TEXT NOT NULL,"
    " device_no TEXT NOT NULL,"
    " test_time TEXT NOT NULL,"
    " stored_at TEXT NOT NULL,"
    " t0 TEXT, t1 TEXT, t2 TEXT, t3 TEXT, t4 TEXT, t5 TEXT, t6 TEXT, t7 TEXT, t8 TEXT, t9 TEXT, t10 TEXT,"
    " ohm_a DOUBLE PRECISION, ohm_b DOUBLE PRECISION, ohm_c DOUBLE PRECISION,"
    " exact INTEGER NOT NULL DEFAULT 0,"
    " start_range INTEGER, start_time INTEGER, start_phase INTEGER,"
    " origin TEXT NOT NULL DEFAULT '',"
    " synced INTEGER NOT NULL DEFAULT 0,"
    " series TEXT)";
const char* const kResultsIndexes[] = {
    // A device's results in time order with their values: its trend and
    // its first values are read from the index alone.
    "CREATE INDEX results_device_time ON results (device_no, test_time, ohm_a, ohm_b, ohm_c)",
    "CREATE INDEX results_time ON results (test_time)",
    // The results still to replicate, in the order they are sent.
    "CREATE INDEX results_pending ON results (identity) WHERE synced = 0",
};
const char* const kCriteriaTable =
    "CREATE TABLE criteria ("
    " device_no TEXT PRIMARY KEY,"
    " max_uohm DOUBLE PRECISION, reference_uohm DOUBLE PRECISION, rise_factor DOUBLE PRECISION,"
    " imbalance_pct DOUBLE PRECISION, synced INTEGER NOT NULL DEFAULT 0)";

// Every column of a stored result, in the order ResultAt reads them.
const QString kColumns = QStringLiteral(
    "id, kind, device_no, test_time, t0, t1, t2, t3, t4, t5, t6, t7, t8, t9, t10, ohm_a, ohm_b, ohm_c,"
    " start_range, start_time, start_phase, identity, exact, stored_at, origin, synced, series");

std::array<std::optional<double>, 3> OhmsAt(const QSqlQuery& q, int column) {
  std::array<std::optional<double>, 3> out;
  for (int p = 0; p < 3; ++p) {
    const QVariant v = q.value(column + p);
    if (!v.isNull()) out[size_t(p)] = v.toDouble();
  }
  return out;
}

// Stores a new result: identity, kind, device, time, stored-at, the 11
// texts, the three values, exact, the three start parameters, origin and
// course bound in that order; synced as the team database has it or not.
QString InsertResultSql(bool synced) {
  return QStringLiteral(
             "INSERT INTO results (identity, kind, device_no, test_time, stored_at, t0, t1, t2, t3, t4, t5, t6, t7,"
             " t8, t9, t10, ohm_a, ohm_b, ohm_c, exact, start_range, start_time, start_phase, origin, series, synced)"
             " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, %1)")
      .arg(synced ? 1 : 0);
}

TStoredResult ResultAt(const QSqlQuery& q) {
  TStoredResult r;
  r.id = q.value(0).toLongLong();
  r.kind = KindOfText(q.value(1).toString());
  r.device = q.value(2).toString();
  r.time = TimeOfIso(q.value(3).toString());
  r.texts.reserve(kTexts);
  for (int i = 0; i < kTexts; ++i) r.texts << q.value(4 + i).toString();
  r.ohms = OhmsAt(q, 15);
  if (!q.value(18).isNull()) r.start = TStartParams{q.value(18).toInt(), q.value(19).toInt(), q.value(20).toInt()};
  r.identity = q.value(21).toString();
  r.exact = q.value(22).toInt() != 0;
  r.storedAt = q.value(23).toString();
  r.origin = q.value(24).toString();
  r.synced = q.value(25).toInt() != 0;
  r.series = q.value(26).toString();
  return r;
}

// A value of a result: the frame's where the program has it, else what its
// text shows.
std::optional<double> ValueOf(const TNewResult& r, int phase, bool& exact) {
  const std::optional<double>& frame = r.ohms[size_t(phase)];
  if (frame && std::isfinite(*frame)) {
    exact = true;
    return frame;
  }
  return OhmsOfText(r.texts.value(Record::OhmColumn(phase)));
}

}  // namespace

QString KindText(TResultKind kind) {
  switch (kind) {
    case TResultKind::Archived: return QStringLiteral("archived");
    case TResultKind::Imported: return QStringLiteral("imported");
    case TResultKind::Uploaded: break;
  }
  return QStringLiteral("uploaded");
}

TResultKind KindOfText(const QString& text) {
  if (text == QLatin1String("archived")) return TResultKind::Archived;
  if (text == QLatin1String("imported")) return TResultKind::Imported;
  return TResultKind::Uploaded;
}

QString StorableText(const QString& text, int& count) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  auto bad = [](QChar c) { return (c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F; };
  while (i < n && !bad(text[i])) ++i;
  if (i == n) return text;
  QString out = text.left(i);
  for (; i < n; ++i) {
    if (bad(text[i])) {
      ++count;
    } else {
      out += text[i];
    }
  }
  return out;
}

TResultStore::TResultStore(const QString& file, TMode mode) : FFile(file), FMode(mode) { Open(); }

void TResultStore::Fail(const QString& what, const QSqlError& e) const {
  if (IsDamage(e)) FDamageSeen = true;
  throw EAppError(QStringLiteral("%1：%2").arg(what, Why(e)));
}

void TResultStore::Exec(const QString& sql, const QString& what) const {
  QSqlQuery q(QSqlDatabase::database(FConnection));
  if (!q.exec(sql)) Fail(what, q.lastError());
}

void TResultStore::Open() {
  static std::atomic<int> counter{0};
  FConnection = QStringLiteral("qk-results-%1").arg(++counter);
  const bool readOnly = FMode == TMode::ReadOnly;
  if (!readOnly && !QFileInfo::exists(FFile)) {
    // The results are the user's own: a new file is readable by its owner
    // only (SQLite gives its journal files the same permissions).
    const int fd = ::open(QFile::encodeName(FFile).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
  }
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FConnection);
    if (!db.isValid()) {
      db = QSqlDatabase();
      QSqlDatabase::removeDatabase(FConnection);
      throw EAppError(QStringLiteral("无法打开历史记录：缺少数据库驱动 QSQLITE"));
    }
    db.setDatabaseName(FFile);
    db.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000;QSQLITE_OPEN_READONLY")
                                  : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
      const QSqlError e = db.lastError();
      db = QSqlDatabase();
      QSqlDatabase::removeDatabase(FConnection);
      Fail(QStringLiteral("无法打开历史记录“%1”").arg(FFile), e);
    }
  }
  try {
    if (!readOnly) {
      // Readers (the window, the replication) never wait for a writer. A
      // file that cannot change its journal (read-only) keeps its own and
      // still reads.
      QSqlQuery(QSqlDatabase::database(FConnection)).exec(QStringLiteral("PRAGMA journal_mode=WAL"));
      if (SchemaVersion() != kSchemaVersion) Migrate();
    } else if (SchemaVersion() != kSchemaVersion) {
      throw EAppError(QStringLiteral("历史记录“%1”的版本（%2）无法只读打开").arg(FFile).arg(SchemaVersion()));
    }
    FStoreId = Meta(QStringLiteral("store_id"));
  } catch (...) {
    QSqlDatabase::database(FConnection, false).close();
    QSqlDatabase::removeDatabase(FConnection);
    throw;
  }
}

TResultStore::~TResultStore() {
  {
    QSqlDatabase db = QSqlDatabase::database(FConnection, false);
    if (db.isOpen()) db.close();
  }
  QSqlDatabase::removeDatabase(FConnection);
}

int TResultStore::SchemaVersion() const {
  QSqlQuery q(QSqlDatabase::database(FConnection));
  if (!q.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'schema_version'")) || !q.next()) return 0;
  return q.value(0).toInt();
}

QString TResultStore::Meta(const QString& key) const {
  QSqlQuery q(QSqlDatabase::database(FConnection));
  q.prepare(QStringLiteral("SELECT value FROM meta WHERE key = ?"));
  q.addBindValue(key);
  if (!q.exec()) Fail(QStringLiteral("无法读取历史记录"), q.lastError());
  return q.next() ? q.value(0).toString() : QString();
}

void TResultStore::SetMeta(const QString& key, const QString& value) {
  QSqlQuery q(QSqlDatabase::database(FConnection));
  q.prepare(QStringLiteral("INSERT INTO meta (key, value) VALUES (?, ?) ON CONFLICT (key) DO UPDATE SET value = excluded.value"));
  q.addBindValue(key);
  q.addBindValue(Text(value));
  if (!q.exec()) Fail(QStringLiteral("历史记录未能保存"), q.lastError());
}

void TResultStore::Migrate() {
  const QString what = QStringLiteral("无法建立历史记录“%1”").arg(FFile);
  // One program brings the schema up at a time: an immediate transaction
  // holds the file's write lock from its start, and the version is read
  // under it.
  Exec(QStringLiteral("BEGIN IMMEDIATE"), what);
  try {
    Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)"), what);
    const int version = SchemaVersion();
    if (version > kSchemaVersion) {
      throw EAppError(
          QStringLiteral("历史记录“%1”来自较新版本的程序（数据库版本 %2），请升级本程序").arg(FFile).arg(version));
    }
    if (version < kSchemaVersion) {
      if (version == 0) {
        Exec(QString::fromUtf8(kResultsTable), what);
        for (const char* sql : kResultsIndexes) Exec(QString::fromUtf8(sql), what);
        Exec(QString::fromUtf8(kCriteriaTable), what);
      } else {
        MigrateResults(version);
      }
      if (Meta(QStringLiteral("store_id")).isEmpty()) {
        SetMeta(QStringLiteral("store_id"), QUuid::createUuid().toString(QUuid::WithoutBraces));
      }
      SetMeta(QStringLiteral("schema_version"), QString::number(kSchemaVersion));
    }
    Exec(QStringLiteral("COMMIT"), what);
  } catch (...) {
    QSqlQuery(QSqlDatabase::database(FConnection)).exec(QStringLiteral("ROLLBACK"));
    throw;
  }
}

void TResultStore::MigrateResults(int from) {
  const QString what = QStringLiteral("无法升级历史记录“%1”").arg(FFile);
  QSqlDatabase db = QSqlDatabase::database(FConnection);
  if (from < 2) {
    Exec(QStringLiteral(
             "CREATE TABLE criteria (device_no TEXT PRIMARY KEY, max_uohm DOUBLE PRECISION,"
             " reference_uohm DOUBLE PRECISION, rise_factor DOUBLE PRECISION, imbalance_pct DOUBLE PRECISION)"),
         what);
  }
  Exec(QStringLiteral("ALTER TABLE criteria ADD COLUMN synced INTEGER NOT NULL DEFAULT 0"), what);
  Exec(QStringLiteral("ALTER TABLE results RENAME TO results_v2"), what);
  for (const char* index : {"results_device_time", "results_time"}) {
    Exec(QStringLiteral("DROP INDEX IF EXISTS %1").arg(QLatin1String(index)), what);
  }
  Exec(QString::fromUtf8(kResultsTable), what);
  for (const char* sql : kResultsIndexes) Exec(QString::fromUtf8(sql), what);
  // Copies of one test that came by several paths become one result: an
  // upload or an archive (their values are the frame's) before an import,
  // the first stored before a later one. An import's time is read again
  // from its text (earlier versions stored the import's moment for a time
  // they could not read).
  QSqlQuery read(db);
  read.setForwardOnly(true);
  if (!read.exec(QStringLiteral(
          "SELECT kind, device_no, test_time, stored_at, t0, t1, t2, t3, t4, t5, t6, t7, t8, t9, t10, ohm_a, ohm_b,"
          " ohm_c, start_range, start_time, start_phase FROM results_v2"
          " ORDER BY CASE kind WHEN 'imported' THEN 1 ELSE 0 END, id"))) {
    Fail(what, read.lastError());
  }
  QSqlQuery write(db);
  write.prepare(QStringLiteral(
      "INSERT OR IGNORE INTO results (identity, kind, device_no, test_time, stored_at, t0, t1, t2, t3, t4, t5, t6,"
      " t7, t8, t9, t10, ohm_a, ohm_b, ohm_c, exact, start_range, start_time, start_phase, origin, synced)"
      " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, '', 0)"));
  while (read.next()) {
    QStringList texts;
    for (int i = 0; i < kTexts; ++i) texts << read.value(4 + i).toString();
    const QString kind = read.value(0).toString();
    QString time = read.value(2).toString();
    if (kind == QLatin1String("imported")) {
      const QDateTime stated = ImportTimeOfText(texts.value(Record::kTime));
      if (stated.isValid()) time = IsoTime(stated);
    }
    write.addBindValue(ResultIdentity(texts));
    write.addBindValue(kind);
    write.addBindValue(read.value(1));
    write.addBindValue(time);
    write.addBindValue(read.value(3));
    for (int i = 0; i < kTexts; ++i) write.addBindValue(Text(texts[i]));
    for (int p = 0; p < 3; ++p) write.addBindValue(read.value(15 + p));
    write.addBindValue(kind == QLatin1String("imported") ? 0 : 1);
    for (int i = 0; i < 3; ++i) write.addBindValue(read.value(18 + i));
    if (!write.exec()) Fail(what, write.lastError());
  }
  if (read.lastError().isValid()) Fail(what, read.lastError());
  Exec(QStringLiteral("DROP TABLE results_v2"), what);
}

QString TResultStore::QuickCheck(const QString& file) {
  static std::atomic<int> counter{0};
  const QString connection = QStringLiteral("qk-results-check-%1").arg(++counter);
  QString out;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(file);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000;QSQLITE_OPEN_READONLY"));
    if (!db.open()) {
      out = Why(db.lastError());
    } else {
      QSqlQuery q(db);
      q.setForwardOnly(true);
      if (!q.exec(QStringLiteral("PRAGMA quick_check(5)"))) {
        out = Why(q.lastError());
      } else {
        QStringList problems;
        while (q.next()) {
          const QString line = q.value(0).toString();
          if (line != QLatin1String("ok")) problems << line;
        }
        if (q.lastError().isValid()) problems << Why(q.lastError());
        out = problems.join(QStringLiteral("；"));
      }
      q.finish();
      db.close();
    }
  }
  QSqlDatabase::removeDatabase(connection);
  return out;
}

// ---- storing -------------------------------------------------------------------

TAddCount TResultStore::Add(const std::vector<TNewResult>& results) {
  const QString what = QStringLiteral("测试结果未能存入历史记录");
  TAddCount count;
  if (results.empty()) return count;
  QSqlDatabase db = QSqlDatabase::database(FConnection);
  Exec(QStringLiteral("BEGIN IMMEDIATE"), what);
  try {
    QSqlQuery find(db);
    find.prepare(QStringLiteral("SELECT id, exact FROM results WHERE identity = ?"));
    QSqlQuery insert(db);
    insert.prepare(InsertResultSql(false));
    QSqlQuery addSeries(db);
    addSeries.prepare(QStringLiteral("UPDATE results SET series = ?, synced = 0 WHERE id = ? AND series IS NULL"));
    QSqlQuery upgrade(db);
    upgrade.prepare(QStringLiteral(
        "UPDATE results SET ohm_a = ?, ohm_b = ?, ohm_c = ?, exact = 1, synced = 0 WHERE id = ?"));
    const QString stored = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    const QDateTime now = QDateTime::currentDateTime();
    for (const TNewResult& r : results) {
      QStringList texts;
      texts.reserve(kTexts);
      for (int c = 0; c < kTexts; ++c) texts << StorableText(r.texts.value(c), count.removedChars);
      const QString identity = ResultIdentity(texts);
      bool exact = false;
      std::array<std::optional<double>, 3> values;
      for (int p = 0; p < 3; ++p) values[size_t(p)] = ValueOf(r, p, exact);

      find.addBindValue(identity);
      if (!find.exec()) Fail(what, find.lastError());
      if (find.next()) {
        const qint64 id = find.value(0).toLongLong();
        const bool heldExact = find.value(1).toInt() != 0;
        find.finish();
        ++count.existing;
        if (exact && !heldExact) {
          for (int p = 0; p < 3; ++p) upgrade.addBindValue(Optional(values[size_t(p)]));
          upgrade.addBindValue(id);
          if (!upgrade.exec()) Fail(what, upgrade.lastError());
          ++count.upgraded;
        }
        // The same test archived with its course after it came another way.
        if (!r.series.isEmpty()) {
          addSeries.addBindValue(r.series);
          addSeries.addBindValue(id);
          if (!addSeries.exec()) Fail(what, addSeries.lastError());
        }
        continue;
      }
      if (find.lastError().isValid()) Fail(what, find.lastError());
      find.finish();
      QDateTime time = r.time.isValid() ? r.time : ImportTimeOfText(texts.value(Record::kTime));
      if (!time.isValid()) time = now;  // a garbled instrument clock: when it arrived
      insert.addBindValue(identity);
      insert.addBindValue(KindText(r.kind));
      insert.addBindValue(Text(texts.value(Record::kDevice).trimmed()));
      insert.addBindValue(IsoTime(time));
      insert.addBindValue(stored);
      for (int c = 0; c < kTexts; ++c) insert.addBindValue(Text(texts[c]));
      for (int p = 0; p < 3; ++p) insert.addBindValue(Optional(values[size_t(p)]));
      insert.addBindValue(exact ? 1 : 0);
      for (const int v : {r.start ? r.start->currentStep : 0, r.start ? r.start->testTime : 0,
                          r.start ? r.start->phase : 0}) {
        insert.addBindValue(r.start ? QVariant(v) : QVariant(QMetaType::fromType<int>()));
      }
      insert.addBindValue(Text(FStoreId));
      insert.addBindValue(r.series.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(r.series));
      if (!insert.exec()) Fail(what, insert.lastError());
      ++count.added;
    }
    Exec(QStringLiteral("COMMIT"), what);
  } catch (...) {
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    throw;
  }
  return count;
}

int TResultStore::AddUploaded(const std::vector<QStringList>& rows, const std::vector<TOhms>& ohms) {
  std::vector<TNewResult> results;
  results.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    results.push_back(TNewResult{TResultKind::Uploaded, rows[i], i < ohms.size() ? ohms[i] : TOhms{}, {}, {}});
  }
  return Add(results).added;
}

void TResultStore::AddArchived(const QStringList& texts, const TStartParams& start, const TOhms& ohms,
                               const QDateTime& time) {
  Add({TNewResult{TResultKind::Archived, texts, ohms, start, time}});
}

int TResultStore::AddImported(const std::vector<QStringList>& rows) {
  std::vector<TNewResult> results;
  results.reserve(rows.size());
  for (const QStringList& row : rows) results.push_back(TNewResult{TResultKind::Imported, row, {}, {}, {}});
  return Add(results).added;
}

// ---- reading -------------------------------------------------------------------

namespace {

// The WHERE clause of a filter, and its values in order.
QString Where(const THistoryFilter& f, QVariantList& values) {
  QString sql = QStringLiteral(" WHERE 1 = 1");
  if (!f.device.isEmpty()) {
    sql += QStringLiteral(" AND device_no = ?");
    values << f.device;
  }
  if (f.from.isValid()) {
    sql += QStringLiteral(" AND test_time >= ?");
    values << IsoTime(f.from);
  }
  if (f.to.isValid()) {
    sql += QStringLiteral(" AND test_time <= ?");
    values << IsoTime(f.to);
  }
  return sql;
}

}  // namespace

std::vector<TStoredResult> TResultStore::Results(const QString& device, const QDateTime& from,
                                                 const QDateTime& to) const {
  return Page(THistoryFilter{device, from, to}, nullptr, -1);
}

std::vector<TStoredResult> TResultStore::Page(const THistoryFilter& filter, const TStoredResult* after,
                                              int limit) const {
  QVariantList values;
  QString sql = QStringLiteral("SELECT ") + kColumns + QStringLiteral(" FROM results") + Where(filter, values);
  // The next page starts below the last result of the one before, by its
  // place in the order: the indexes find it without counting rows.
  if (after) {
    sql += QStringLiteral(" AND (test_time < ? OR (test_time = ? AND id < ?))");
    const QString t = IsoTime(after->time);
    values << t << t << after->id;
  }
  sql += QStringLiteral(" ORDER BY test_time DESC, id DESC");
  if (limit >= 0) sql += QStringLiteral(" LIMIT %1").arg(limit);
  const QString what = QStringLiteral("无法读取历史记录");
  QSqlQuery q(QSqlDatabase::database(FConnection));
  q.setForwardOnly(true);
  if (!q.prepare(sql)) Fail(what, q.lastError());
  for (const QVariant& v : values) q.addBindValue(v);
  if (!q.exec()) Fail(what, q.lastError());
  std::vector<TStoredResult> out;
  if (limit > 0) out.reserve(size_t(limit));
  while (q.next()) out.push_back(ResultAt(q));
  // A page the file could not give whole is an error, not a shorter page.
  if (q.lastError().isValid()) Fail(what, q.lastError());
  return out;
}

int TResultStore::Count(const THistoryFilter& filter) const {
  QVariantList values;
  const QString sql = QStringLiteral("SELECT COUNT(*) FROM results") + Where(filter, values);
  const QString what = QStringLiteral("无法读取历史记录");
  QSqlQuery q(QSqlDatabase::database(FConnection));
  q.setForwardOnly(true);
  if (!q.prepare(sql)) Fail(what, q.lastError());
  for (const QVariant& v : values) q.addBindValue(v);
  if (!q.exec() || !q.next()) Fail(what, q.lastError());
  return q.value(0).toInt();
}

std::vector<TTrendPoint> TResultStore::Trend(const THistoryFilter& filter) const {
  QVariantList values;
  // Results of one moment come in any order: the index gives them sorted.
  const QString sql = QStringLiteral("SELECT test_time, ohm_a, ohm_b, ohm_c FROM results") + Where(filter, values) +
                      QStringLiteral(" ORDER BY test_time");
  const QString what = QStringLiteral("无法读取历史记录");
  // A device's trend is thousands of rows: they are read from SQLite itself
  // on the connection Qt opened (a QVariant per value took five times as long).
  const QVariant handle = QSqlDatabase::database(FConnection).driver()->handle();
  if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
    sqlite3* db = *static_cast<sqlite3* const*>(handle.data());
    sqlite3_stmt* stmt = nullptr;
    const QByteArray text = sql.toUtf8();
    if (db && sqlite3_prepare_v2(db, text.constData(), int(text.size()), &stmt, nullptr) == SQLITE_OK) {
      std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(stmt, sqlite3_finalize);
      for (int i = 0; i < values.size(); ++i) {
        const QByteArray v = values[i].toString().toUtf8();
        sqlite3_bind_text(stmt, i + 1, v.constData(), int(v.size()), SQLITE_TRANSIENT);
      }
      std::vector<TTrendPoint> out;
      TLocalTimes times;
      int rc = SQLITE_ROW;
      while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const auto* time = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        times.Add(time ? time : "", sqlite3_column_bytes(stmt, 0));
        TTrendPoint point;
        for (int p = 0; p < 3; ++p) {
          if (sqlite3_column_type(stmt, 1 + p) != SQLITE_NULL) point.ohms[size_t(p)] = sqlite3_column_double(stmt, 1 + p);
        }
        out.push_back(point);
      }
      if (rc != SQLITE_DONE) {
        const int code = sqlite3_errcode(db);
        Fail(what, QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(db)), QSqlError::StatementError,
                             QString::number(code & 0xFF)));
      }
      const std::vector<qint64> utc = times.Utc();
      for (size_t i = 0; i < out.size(); ++i) out[i].ms = utc[i];
      return out;
    }
  }
  QSqlQuery q(QSqlDatabase::database(FConnection));
  q.setForwardOnly(true);
  if (!q.prepare(sql)) Fail(what, q.lastError());
  for (const QVariant& v : values) q.addBindValue(v);
  if (!q.exec()) Fail(what, q.lastError());
  std::vector<TTrendPoint> out;
  while (q.next()) out.push_back(TTrendPoint{TimeOfIso(q.value(0).toString()), OhmsAt(q, 1)});
  if (q.lastError().isValid()) Fail(what, q.lastError());
  return out;
}

QStringList TResultStore::Devices() const {
  // One step through the device index per device number rather than a walk
  // over every result: the list stays quick however many results a device has.
  QSqlQuery q(QSqlDatabase::database(FConnection));
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral(
          "WITH RECURSIVE d(n) AS ("
          " SELECT MIN(device_no) FROM results WHERE device_no > ''"
          " UNION ALL"
          " SELECT (SELECT MIN(device_no) FROM results WHERE device_no > d.n) FROM d WHERE d.n IS NOT NULL)"
          " SELECT n FROM d WHERE n IS NOT NULL"))) {
    Fail(QStringLiteral("无法读取历史记录"), q.lastError());
  }
  QStringList out;
  while (q.next()) out << q.value(0).toString();
  if (q.lastError().isValid()) Fail(QStringLiteral("无法读取历史记录"), q.lastError());
  return out;
}

// ---- criteria ------------------------------------------------------------------

namespace {

// Entries of a row over the criteria c: an empty one keeps c's.
TCriteria Over(TCriteria c, const TCriteriaRow& row) {
  if (row[0]) c.maxMicroOhm = row[0];
  if (row[1]) c.referenceMicroOhm = row[1];
  if (row[2]) c.riseFactor = *row[2];
  if (row[3]) c.imbalancePercent = *row[3];
  return c;
}

TCriteriaRow RowAt(const QSqlQuery& q, int column) {
  TCriteriaRow row;
  for (int i = 0; i < 4; ++i) {
    if (!q.value(column + i).isNull()) row[size_t(i)] = q.value(column + i).toDouble();
  }
  return row;
}

}  // namespace

std::map<QString, TCriteriaRow> TResultStore::CriteriaRows() const {
  // The criteria table holds a row per device someone judged: read it whole.
  QSqlQuery q(QSqlDatabase::database(FConnection));
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral("SELECT device_no, max_uohm, reference_uohm, rise_factor, imbalance_pct FROM criteria"))) {
    Fail(QStringLiteral("无法读取评估标准"), q.lastError());
  }
  std::map<QString, TCriteriaRow> rows;
  while (q.next()) rows[q.value(0).toString()] = RowAt(q, 1);
  if (q.lastError().isValid()) Fail(QStringLiteral("无法读取评估标准"), q.lastError());
  return rows;
}

TCriteria TResultStore::OwnCriteria(const QString& device) const {
  const auto rows = CriteriaRows();
  const auto own = rows.find(device);
  return own == rows.end() ? TCriteria{} : Over(TCriteria{}, own->second);
}

TCriteria TResultStore::Criteria(const QString& device) const { return CriteriaOf({device}).at(device); }

std::map<QString, TCriteria> TResultStore::CriteriaOf(const QStringList& devices) const {
  // The defaults (device ""), then a device's own entries over them.
  const auto rows = CriteriaRows();
  const auto d = rows.find(QString());
  const TCriteria defaults = d == rows.end() ? TCriteria{} : Over(TCriteria{}, d->second);
  std::map<QString, TCriteria> out;
  for (const QString& device : devices) {
    const auto own = rows.find(device);
    out[device] = device.isEmpty() || own == rows.end() ? defaults : Over(defaults, own->second);
  }
  return out;
}

void TResultStore::SetCriteria(const QString& device, const TCriteria& c) {
  QSqlQuery q(QSqlDatabase::database(FConnection));
  q.prepare(QStringLiteral(
      "INSERT INTO criteria (device_no, max_uohm, reference_uohm, rise_factor, imbalance_pct, synced)"
      " VALUES (COALESCE(?, ''), ?, ?, ?, ?, 0)"
      " ON CONFLICT (device_no) DO UPDATE SET max_uohm = excluded.max_uohm, reference_uohm = excluded.reference_uohm,"
      " rise_factor = excluded.rise_factor, imbalance_pct = excluded.imbalance_pct, synced = 0"));
  q.addBindValue(device);
  q.addBindValue(Optional(c.maxMicroOhm));
  q.addBindValue(Optional(c.referenceMicroOhm));
  q.addBindValue(c.riseFactor);
  q.addBindValue(c.imbalancePercent);
  if (!q.exec()) Fail(QStringLiteral("评估标准未能保存"), q.lastError());
}

std::array<std::optional<double>, 3> TResultStore::FirstValues(const QString& device) const {
  return FirstValuesOf({device}).at(device);
}

std::map<QString, std::array<std::optional<double>, 3>> TResultStore::FirstValuesOf(const QStringList& devices) const {
  std::map<QString, std::array<std::optional<double>, 3>> out;
  // One statement for up to 100 devices, each part a step through the
  // device index (SQLite allows 500 parts).
  const int kPart = 100;
  const QString what = QStringLiteral("无法读取历史记录");
  for (int begin = 0; begin < devices.size(); begin += kPart) {
    const QStringList part = devices.mid(begin, kPart);
    QString sql;
    for (int i = 0; i < part.size(); ++i) {
      if (i > 0) sql += QStringLiteral(" UNION ALL ");
      sql += QStringLiteral(
                 "SELECT * FROM (SELECT device_no, ohm_a, ohm_b, ohm_c FROM results WHERE device_no = ?"
                 " ORDER BY test_time, id LIMIT 1) AS f%1")
                 .arg(i);
    }
    QSqlQuery q(QSqlDatabase::database(FConnection));
    q.setForwardOnly(true);
    if (!q.prepare(sql)) Fail(what, q.lastError());
    for (const QString& d : part) q.addBindValue(d);
    if (!q.exec()) Fail(what, q.lastError());
    while (q.next()) out[q.value(0).toString()] = MicroOhmsOf(OhmsAt(q, 1));
    if (q.lastError().isValid()) Fail(what, q.lastError());
  }
  for (const QString& device : devices) out.try_emplace(device);
  return out;
}

// ---- replication ---------------------------------------------------------------

int TResultStore::PendingCount() const {
  QSqlQuery q(QSqlDatabase::database(FConnection));
  if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM results WHERE synced = 0")) || !q.next()) {
    Fail(QStringLiteral("无法读取历史记录"), q.lastError());
  }
  return q.value(0).toInt();
}

std::vector<TStoredResult> TResultStore::Pending(int limit) const {
  const QString what = QStringLiteral("无法读取历史记录");
  QSqlQuery q(QSqlDatabase::database(FConnection));
  q.setForwardOnly(true);
  if (!q.prepare(QStringLiteral("SELECT ") + kColumns +
                 QStringLiteral(" FROM results WHERE synced = 0 ORDER BY identity LIMIT ?"))) {
    Fail(what, q.lastError());
  }
  q.addBindValue(limit);
  if (!q.exec()) Fail(what, q.lastError());
  std::vector<TStoredResult> out;
  while (q.next()) out.push_back(ResultAt(q));
  if (q.lastError().isValid()) Fail(what, q.lastError());
  return out;
}

void TResultStore::MarkSynced(const std::vector<TStoredResult>& results) {
  if (results.empty()) return;
  const QString what = QStringLiteral("历史记录未能保存");
  QSqlDatabase db = QSqlDatabase::database(FConnection);
  Exec(QStringLiteral("BEGIN IMMEDIATE"), what);
  try {
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE results SET synced = 1 WHERE id = ? AND exact = ?"));
    for (const TStoredResult& r : results) {
      q.addBindValue(r.id);
      q.addBindValue(r.exact ? 1 : 0);
      if (!q.exec()) Fail(what, q.lastError());
    }
    Exec(QStringLiteral("COMMIT"), what);
  } catch (...) {
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    throw;
  }
}

int TResultStore::Merge(const std::vector<TStoredResult>& results) {
  if (results.empty()) return 0;
  const QString what = QStringLiteral("团队数据库的结果未能存入历史记录");
  QSqlDatabase db = QSqlDatabase::database(FConnection);
  int added = 0;
  int removed = 0;
  Exec(QStringLiteral("BEGIN IMMEDIATE"), what);
  try {
    QSqlQuery find(db);
    find.prepare(QStringLiteral("SELECT id, exact FROM results WHERE identity = ?"));
    QSqlQuery insert(db);
    insert.prepare(InsertResultSql(true));
    QSqlQuery upgrade(db);
    upgrade.prepare(QStringLiteral("UPDATE results SET ohm_a = ?, ohm_b = ?, ohm_c = ?, exact = 1 WHERE id = ?"));
    QSqlQuery addSeries(db);
    addSeries.prepare(QStringLiteral("UPDATE results SET series = ? WHERE id = ? AND series IS NULL"));
    for (const TStoredResult& r : results) {
      find.addBindValue(r.identity);
      if (!find.exec()) Fail(what, find.lastError());
      if (find.next()) {
        const qint64 id = find.value(0).toLongLong();
        const bool heldExact = find.value(1).toInt() != 0;
        find.finish();
        if (r.exact && !heldExact) {
          for (int p = 0; p < 3; ++p) upgrade.addBindValue(Optional(r.ohms[size_t(p)]));
          upgrade.addBindValue(id);
          if (!upgrade.exec()) Fail(what, upgrade.lastError());
        }
        if (!r.series.isEmpty()) {
          addSeries.addBindValue(r.series);
          addSeries.addBindValue(id);
          if (!addSeries.exec()) Fail(what, addSeries.lastError());
        }
        continue;
      }
      find.finish();
      insert.addBindValue(r.identity);
      insert.addBindValue(KindText(r.kind));
      insert.addBindValue(Text(StorableText(r.device, removed)));
      insert.addBindValue(IsoTime(r.time));
      insert.addBindValue(Text(r.storedAt));
      for (int c = 0; c < kTexts; ++c) insert.addBindValue(Text(StorableText(r.texts.value(c), removed)));
      for (int p = 0; p < 3; ++p) insert.addBindValue(Optional(r.ohms[size_t(p)]));
      insert.addBindValue(r.exact ? 1 : 0);
      for (const int v : {r.start ? r.start->currentStep : 0, r.start ? r.start->testTime : 0,
                          r.start ? r.start->phase : 0}) {
        insert.addBindValue(r.start ? QVariant(v) : QVariant(QMetaType::fromType<int>()));
      }
      insert.addBindValue(Text(r.origin));
      insert.addBindValue(r.series.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(r.series));
      if (!insert.exec()) Fail(what, insert.lastError());
      ++added;
    }
    Exec(QStringLiteral("COMMIT"), what);
  } catch (...) {
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    throw;
  }
  return added;
}

void TResultStore::ResetSync() {
  const QString what = QStringLiteral("历史记录未能保存");
  Exec(QStringLiteral("UPDATE results SET synced = 0 WHERE synced <> 0"), what);
  Exec(QStringLiteral("UPDATE criteria SET synced = 0 WHERE synced <> 0"), what);
}

std::map<QString, TCriteriaRow> TResultStore::PendingCriteria() const {
  QSqlQuery q(QSqlDatabase::database(FConnection));
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral(
          "SELECT device_no, max_uohm, reference_uohm, rise_factor, imbalance_pct FROM criteria WHERE synced = 0"))) {
    Fail(QStringLiteral("无法读取评估标准"), q.lastError());
  }
  std::map<QString, TCriteriaRow> rows;
  while (q.next()) rows[q.value(0).toString()] = RowAt(q, 1);
  if (q.lastError().isValid()) Fail(QStringLiteral("无法读取评估标准"), q.lastError());
  return rows;
}

void TResultStore::MarkCriteriaSynced(const std::map<QString, TCriteriaRow>& rows) {
  QSqlQuery q(QSqlDatabase::database(FConnection));
  // Only a row still as it was sent: one changed since stays pending.
  q.prepare(QStringLiteral(
      "UPDATE criteria SET synced = 1 WHERE device_no = ? AND max_uohm IS ? AND reference_uohm IS ?"
      " AND rise_factor IS ? AND imbalance_pct IS ?"));
  for (const auto& [device, row] : rows) {
    q.addBindValue(device);
    for (const std::optional<double>& v : row) q.addBindValue(Optional(v));
    if (!q.exec()) Fail(QStringLiteral("评估标准未能保存"), q.lastError());
  }
}

void TResultStore::MergeCriteria(const std::map<QString, TCriteriaRow>& rows) {
  QSqlQuery q(QSqlDatabase::database(FConnection));
  q.prepare(QStringLiteral(
      "INSERT INTO criteria (device_no, max_uohm, reference_uohm, rise_factor, imbalance_pct, synced)"
      " VALUES (?, ?, ?, ?, ?, 1)"
      " ON CONFLICT (device_no) DO UPDATE SET max_uohm = excluded.max_uohm, reference_uohm = excluded.reference_uohm,"
      " rise_factor = excluded.rise_factor, imbalance_pct = excluded.imbalance_pct WHERE criteria.synced = 1"));
  for (const auto& [device, row] : rows) {
    q.addBindValue(device);
    for (const std::optional<double>& v : row) q.addBindValue(Optional(v));
    if (!q.exec()) Fail(QStringLiteral("评估标准未能保存"), q.lastError());
  }
}
