#include "history/ResultStore.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "data/RecordTable.h"
#include "history/ResultValues.h"
#include "platform/IniFile.h"
#include "platform/MessageService.h"

namespace {

const int kTexts = Record::kColumns;

QString Why(const QSqlError& e) {
  const QString t = e.text().trimmed();
  QString cause;
  if (t.contains(QLatin1String("readonly"), Qt::CaseInsensitive) ||
      t.contains(QLatin1String("read-only"), Qt::CaseInsensitive)) {
    cause = QStringLiteral("数据库为只读");
  } else if (t.contains(QLatin1String("full"), Qt::CaseInsensitive)) {
    cause = QStringLiteral("磁盘已满");
  } else if (t.contains(QLatin1String("locked"), Qt::CaseInsensitive) ||
             t.contains(QLatin1String("busy"), Qt::CaseInsensitive)) {
    cause = QStringLiteral("数据库被其他程序占用");
  } else if (t.contains(QLatin1String("not a database"), Qt::CaseInsensitive)) {
    cause = QStringLiteral("文件不是历史记录数据库");
  } else {
    cause = QStringLiteral("数据库错误");
  }
  return t.isEmpty() ? cause : QStringLiteral("%1（%2）").arg(cause, t);
}

[[noreturn]] void Fail(const QString& what, const QSqlError& e) {
  throw EAppError(QStringLiteral("%1：%2").arg(what, Why(e)));
}

void Exec(QSqlQuery& q, const QString& sql, const QString& what) {
  if (!q.exec(sql)) Fail(what, q.lastError());
}

// The steps that bring a store from each version to the next; step i makes
// version i + 1.
const std::vector<std::vector<const char*>>& Migrations() {
  static const std::vector<std::vector<const char*>> steps = {
      {
          "CREATE TABLE results ("
          " id @ID@,"
          " kind TEXT NOT NULL,"
          " source_key TEXT NOT NULL UNIQUE,"
          " device_no TEXT NOT NULL,"
          " test_time TEXT NOT NULL,"
          " stored_at TEXT NOT NULL,"
          " t0 TEXT, t1 TEXT, t2 TEXT, t3 TEXT, t4 TEXT, t5 TEXT, t6 TEXT, t7 TEXT, t8 TEXT, t9 TEXT, t10 TEXT,"
          " ohm_a DOUBLE PRECISION, ohm_b DOUBLE PRECISION, ohm_c DOUBLE PRECISION,"
          " start_range INTEGER, start_time INTEGER, start_phase INTEGER)",
          "CREATE INDEX results_device_time ON results (device_no, test_time)",
          "CREATE INDEX results_time ON results (test_time)",
      },
      {
          "CREATE TABLE criteria ("
          " device_no TEXT PRIMARY KEY,"
          " max_uohm DOUBLE PRECISION, reference_uohm DOUBLE PRECISION, rise_factor DOUBLE PRECISION,"
          " imbalance_pct DOUBLE PRECISION)",
      },
  };
  return steps;
}

// A text as the store keeps it: an empty text is '' and never NULL (Qt's
// drivers bind a null QString as NULL, which device_no refuses).
QVariant Text(const QString& s) { return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s); }

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

}  // namespace

QString TStoreConfig::Describe() const {
  if (driver == QLatin1String("QPSQL")) {
    return QStringLiteral("PostgreSQL %1@%2:%3/%4").arg(user, host).arg(port).arg(name);
  }
  return file;
}

TStoreConfig StoreConfigOf(const TIniFile& ini, const QString& sqliteFile) {
  const QString section = QStringLiteral("Database");
  TStoreConfig c;
  c.file = sqliteFile;
  const QString driver = ini.ReadString(section, QStringLiteral("Driver"), QString()).trimmed().toUpper();
  if (driver == QLatin1String("QPSQL")) {
    c.driver = driver;
    c.host = ini.ReadString(section, QStringLiteral("Host"), QString()).trimmed();
    c.port = ini.ReadInteger(section, QStringLiteral("Port"), 5432);
    c.name = ini.ReadString(section, QStringLiteral("Name"), QString()).trimmed();
    c.user = ini.ReadString(section, QStringLiteral("User"), QString()).trimmed();
    c.options = ini.ReadString(section, QStringLiteral("Options"), QString()).trimmed();
  }
  return c;
}

TResultStore::TResultStore(const QString& file) {
  TStoreConfig c;
  c.file = file;
  Open(c);
}

TResultStore::TResultStore(const TStoreConfig& config) { Open(config); }

void TResultStore::Open(const TStoreConfig& config) {
  static std::atomic<int> counter{0};
  FConnection = QStringLiteral("qk-results-%1").arg(++counter);
  FServer = config.driver == QLatin1String("QPSQL");
  FFile = FServer ? config.Describe() : config.file;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(config.driver, FConnection);
    if (!db.isValid()) {
      db = QSqlDatabase();
      QSqlDatabase::removeDatabase(FConnection);
      throw EAppError(QStringLiteral("无法打开历史记录：缺少数据库驱动 %1").arg(config.driver));
    }
    if (FServer) {
      db.setHostName(config.host);
      db.setPort(config.port);
      db.setDatabaseName(config.name);
      db.setUserName(config.user);
      // libpq's own options (sslmode, connect_timeout, service...); the
      // password comes from ~/.pgpass or the service file, never from here.
      QString options = config.options;
      if (!options.contains(QLatin1String("connect_timeout"))) {
        options += QStringLiteral("%1connect_timeout=5").arg(options.isEmpty() ? QString() : QStringLiteral(";"));
      }
      db.setConnectOptions(options);
    } else {
      db.setDatabaseName(config.file);
      db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    }
    if (!db.open()) {
      const QSqlError e = db.lastError();
      db = QSqlDatabase();
      QSqlDatabase::removeDatabase(FConnection);
      Fail(QStringLiteral("无法打开历史记录“%1”").arg(FFile), e);
    }
  }
  try {
    Migrate();
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

void TResultStore::Migrate() {
  QSqlDatabase db = QSqlDatabase::database(FConnection);
  QSqlQuery q(db);
  const QString what = QStringLiteral("无法建立历史记录“%1”").arg(FFile);
  Exec(q, QStringLiteral("CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)"), what);
  int version = SchemaVersion();
  if (version > kSchemaVersion) {
    throw EAppError(QStringLiteral("历史记录“%1”来自较新版本的程序（数据库版本 %2），请升级本程序").arg(FFile).arg(version));
  }
  const auto& steps = Migrations();
  for (; version < kSchemaVersion; ++version) {
    if (!db.transaction()) Fail(what, db.lastError());
    for (const char* sql : steps[size_t(version)]) {
      // The one difference of the two databases: how a row gets its number.
      QString text = QString::fromUtf8(sql);
      text.replace(QLatin1String("@ID@"), FServer ? QLatin1String("BIGSERIAL PRIMARY KEY") : QLatin1String("INTEGER PRIMARY KEY"));
      if (!q.exec(text)) {
        const QSqlError e = q.lastError();
        db.rollback();
        Fail(what, e);
      }
    }
    q.prepare(QStringLiteral("INSERT INTO meta (key, value) VALUES ('schema_version', ?) "
                             "ON CONFLICT (key) DO UPDATE SET value = excluded.value"));
    q.addBindValue(QString::number(version + 1));
    if (!q.exec()) {
      const QSqlError e = q.lastError();
      db.rollback();
      Fail(what, e);
    }
    if (!db.commit()) Fail(what, db.lastError());
  }
}

int TResultStore::Insert(TResultKind kind, const std::vector<QString>& keys,
                         const std::vector<const QStringList*>& rows, const std::vector<const TOhms*>& ohms,
                         const std::optional<TStartParams>& start) {
  QSqlQuery q(QSqlDatabase::database(FConnection));
  QString sql = QStringLiteral(
      "INSERT INTO results (kind, source_key, device_no, test_time, stored_at,"
      " t0, t1, t2, t3, t4, t5, t6, t7, t8, t9, t10, ohm_a, ohm_b, ohm_c, start_range, start_time, start_phase)"
      " VALUES ");
  static const QString tuple = QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) sql += QLatin1Char(',');
    sql += tuple;
  }
  sql += QStringLiteral(" ON CONFLICT (source_key) DO NOTHING");
  q.prepare(sql);
  const QDateTime now = QDateTime::currentDateTime();
  const QString stored = now.toString(Qt::ISODateWithMs);
  const QString kindText = kind == TResultKind::Uploaded   ? QStringLiteral("uploaded")
                           : kind == TResultKind::Archived ? QStringLiteral("archived")
                                                           : QStringLiteral("imported");
  for (size_t i = 0; i < rows.size(); ++i) {
    const QStringList& texts = *rows[i];
    QDateTime time = TimeOfText(texts.value(Record::kTime));
    if (!time.isValid()) time = now;
    q.addBindValue(kindText);
    q.addBindValue(keys[i]);
    q.addBindValue(Text(texts.value(Record::kDevice).trimmed()));
    q.addBindValue(IsoTime(time));
    q.addBindValue(stored);
    for (int c = 0; c < kTexts; ++c) q.addBindValue(Text(texts.value(c)));
    for (int p = 0; p < 3; ++p) {
      // The frame's value where the program has it: the text shows it cut
      // after its last digit.
      std::optional<double> v;
      if (ohms[i] && (*ohms[i])[size_t(p)] && std::isfinite(*(*ohms[i])[size_t(p)])) v = (*ohms[i])[size_t(p)];
      if (!v) v = OhmsOfText(texts.value(Record::OhmColumn(p)));
      q.addBindValue(v ? QVariant(*v) : QVariant(QMetaType::fromType<double>()));
    }
    for (const int v : {start ? start->currentStep : 0, start ? start->testTime : 0, start ? start->phase : 0}) {
      q.addBindValue(start ? QVariant(v) : QVariant(QMetaType::fromType<int>()));
    }
  }
  if (!q.exec()) Fail(QStringLiteral("测试结果未能存入历史记录"), q.lastError());
  return std::max(q.numRowsAffected(), 0);
}

int TResultStore::AddUploaded(const std::vector<QStringList>& rows) {
  return AddRows(TResultKind::Uploaded, rows, nullptr);
}

int TResultStore::AddUploaded(const std::vector<QStringList>& rows, const std::vector<TOhms>& ohms) {
  return AddRows(TResultKind::Uploaded, rows, &ohms);
}

int TResultStore::AddImported(const std::vector<QStringList>& rows) {
  return AddRows(TResultKind::Imported, rows, nullptr);
}

int TResultStore::AddRows(TResultKind kind, const std::vector<QStringList>& rows, const std::vector<TOhms>* ohms) {
  QSqlDatabase db = QSqlDatabase::database(FConnection);
  if (!db.transaction()) Fail(QStringLiteral("测试结果未能存入历史记录"), db.lastError());
  int added = 0;
  // A record is the same record whatever place the table gave it: the
  // sequence number is not part of its key.
  const QString prefix = kind == TResultKind::Uploaded ? QStringLiteral("uploaded|") : QStringLiteral("imported|");
  // A statement stores a batch of rows: one round trip to a server for each
  // batch rather than for each row. A key twice in one batch is stored once.
  // Qt's SQLite driver matches each value to its place by a search over the
  // values before it, so a long statement costs more there than it saves.
  const size_t kBatch = FServer ? 100 : 10;
  try {
    for (size_t begin = 0; begin < rows.size(); begin += kBatch) {
      const size_t end = std::min(rows.size(), begin + kBatch);
      std::vector<QString> keys;
      std::vector<const QStringList*> batch;
      std::vector<const TOhms*> values;
      for (size_t i = begin; i < end; ++i) {
        keys.push_back(prefix + rows[i].mid(1).join(QChar(0x1F)));
        batch.push_back(&rows[i]);
        values.push_back(ohms && i < ohms->size() ? &(*ohms)[i] : nullptr);
      }
      added += Insert(kind, keys, batch, values, std::nullopt);
    }
  } catch (...) {
    db.rollback();
    throw;
  }
  if (!db.commit()) {
    const QSqlError e = db.lastError();
    db.rollback();
    Fail(QStringLiteral("测试结果未能存入历史记录"), e);
  }
  return added;
}

void TResultStore::AddArchived(const QStringList& texts, const TStartParams& start, const TOhms& ohms) {
  const QString key = QStringLiteral("archived|%1|").arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs)) +
                      texts.mid(1).join(QChar(0x1F));
  Insert(TResultKind::Archived, {key}, {&texts}, {&ohms}, start);
}

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

void Run(QSqlQuery& q, const QString& sql, const QVariantList& values) {
  q.setForwardOnly(true);
  if (!q.prepare(sql)) Fail(QStringLiteral("无法读取历史记录"), q.lastError());
  for (const QVariant& v : values) q.addBindValue(v);
  if (!q.exec()) Fail(QStringLiteral("无法读取历史记录"), q.lastError());
}

std::array<std::optional<double>, 3> OhmsAt(const QSqlQuery& q, int column) {
  std::array<std::optional<double>, 3> out;
  for (int p = 0; p < 3; ++p) {
    const QVariant v = q.value(column + p);
    if (!v.isNull()) out[size_t(p)] = v.toDouble();
  }
  return out;
}

}  // namespace

std::vector<TStoredResult> TResultStore::Results(const QString& device, const QDateTime& from,
                                                 const QDateTime& to) const {
  return Page(THistoryFilter{device, from, to}, nullptr, -1);
}

std::vector<TStoredResult> TResultStore::Page(const THistoryFilter& filter, const TStoredResult* after,
                                              int limit) const {
  QVariantList values;
  QString sql = QStringLiteral(
                    "SELECT id, kind, device_no, test_time, t0, t1, t2, t3, t4, t5, t6, t7, t8, t9, t10, ohm_a, ohm_b,"
                    " ohm_c, start_range, start_time, start_phase FROM results") +
                Where(filter, values);
  // The next page starts below the last result of the one before, by its
  // place in the order: the indexes find it without counting rows.
  if (after) {
    sql += QStringLiteral(" AND (test_time < ? OR (test_time = ? AND id < ?))");
    const QString t = IsoTime(after->time);
    values << t << t << after->id;
  }
  sql += QStringLiteral(" ORDER BY test_time DESC, id DESC");
  if (limit >= 0) sql += QStringLiteral(" LIMIT %1").arg(limit);
  QSqlQuery q(QSqlDatabase::database(FConnection));
  Run(q, sql, values);
  std::vector<TStoredResult> out;
  if (limit > 0) out.reserve(size_t(limit));
  while (q.next()) {
    TStoredResult r;
    r.id = q.value(0).toLongLong();
    const QString kind = q.value(1).toString();
    r.kind = kind == QLatin1String("archived")   ? TResultKind::Archived
             : kind == QLatin1String("imported") ? TResultKind::Imported
                                                 : TResultKind::Uploaded;
    r.device = q.value(2).toString();
    r.time = TimeOfIso(q.value(3).toString());
    r.texts.reserve(kTexts);
    for (int i = 0; i < kTexts; ++i) r.texts << q.value(4 + i).toString();
    r.ohms = OhmsAt(q, 15);
    if (!q.value(18).isNull()) r.start = TStartParams{q.value(18).toInt(), q.value(19).toInt(), q.value(20).toInt()};
    out.push_back(std::move(r));
  }
  return out;
}

int TResultStore::Count(const THistoryFilter& filter) const {
  QVariantList values;
  const QString sql = QStringLiteral("SELECT COUNT(*) FROM results") + Where(filter, values);
  QSqlQuery q(QSqlDatabase::database(FConnection));
  Run(q, sql, values);
  return q.next() ? q.value(0).toInt() : 0;
}

std::vector<TTrendPoint> TResultStore::Trend(const THistoryFilter& filter) const {
  QVariantList values;
  const QString sql = QStringLiteral("SELECT test_time, ohm_a, ohm_b, ohm_c FROM results") + Where(filter, values) +
                      QStringLiteral(" ORDER BY test_time, id");
  QSqlQuery q(QSqlDatabase::database(FConnection));
  Run(q, sql, values);
  std::vector<TTrendPoint> out;
  while (q.next()) out.push_back(TTrendPoint{TimeOfIso(q.value(0).toString()), OhmsAt(q, 1)});
  return out;
}

QStringList TResultStore::Devices() const {
  // One step through the device index per device number rather than a walk
  // over every result: the list stays quick however many results a device has.
  QSqlQuery q(QSqlDatabase::database(FConnection));
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
  return out;
}

namespace {
QVariant Optional(const std::optional<double>& v) { return v ? QVariant(*v) : QVariant(QMetaType::fromType<double>()); }
}  // namespace

namespace {

// A row of the criteria table: maximum, reference, rise factor, imbalance.
using TCriteriaRow = std::array<std::optional<double>, 4>;

// Entries of a row over the criteria c: an empty one keeps c's.
TCriteria Over(TCriteria c, const TCriteriaRow& row) {
  if (row[0]) c.maxMicroOhm = row[0];
  if (row[1]) c.referenceMicroOhm = row[1];
  if (row[2]) c.riseFactor = *row[2];
  if (row[3]) c.imbalancePercent = *row[3];
  return c;
}

}  // namespace

std::map<QString, std::array<std::optional<double>, 4>> TResultStore::CriteriaRows() const {
  // The criteria table holds a row per device someone judged: read it whole.
  QSqlQuery q(QSqlDatabase::database(FConnection));
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral("SELECT device_no, max_uohm, reference_uohm, rise_factor, imbalance_pct FROM criteria"))) {
    Fail(QStringLiteral("无法读取评估标准"), q.lastError());
  }
  std::map<QString, TCriteriaRow> rows;
  while (q.next()) {
    TCriteriaRow& row = rows[q.value(0).toString()];
    for (int i = 0; i < 4; ++i) {
      if (!q.value(1 + i).isNull()) row[size_t(i)] = q.value(1 + i).toDouble();
    }
  }
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
      "INSERT INTO criteria (device_no, max_uohm, reference_uohm, rise_factor, imbalance_pct) VALUES (COALESCE(?, ''), ?, ?, ?, ?)"
      " ON CONFLICT (device_no) DO UPDATE SET max_uohm = excluded.max_uohm, reference_uohm = excluded.reference_uohm,"
      " rise_factor = excluded.rise_factor, imbalance_pct = excluded.imbalance_pct"));
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
    Run(q, sql, QVariantList(part.cbegin(), part.cend()));
    while (q.next()) {
      out[q.value(0).toString()] = MicroOhmsOf(OhmsAt(q, 1));
    }
  }
  for (const QString& device : devices) out.try_emplace(device);
  return out;
}
