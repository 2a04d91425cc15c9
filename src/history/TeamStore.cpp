#include "history/TeamStore.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QUuid>

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "data/RecordTable.h"
#include "history/ResultIdentity.h"
#include "platform/IniFile.h"
#include "platform/MessageService.h"

namespace {

const QString kSection = QStringLiteral("Database");

// Advisory lock keys: one program at a time brings the schema up, and one
// writer at a time commits results (so the sequence numbers a reader walks
// are committed in their order, and two writers never wait on each other's
// rows).
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(48200301)";
constexpr const char* kWriteLock = "SELECT pg_advisory_xact_lock(48200302)";

constexpr int kBatch = 200;

qint64 NowMs() {
  static QElapsedTimer clock = [] {
    QElapsedTimer t;
    t.start();
    return t;
  }();
  return clock.elapsed();
}

// An error of a statement, with the server's SQLSTATE.
class EStatementError : public EAppError {
 public:
  EStatementError(const QString& text, QByteArray state) : EAppError(text), FState(std::move(state)) {}
  const QByteArray& State() const { return FState; }

 private:
  QByteArray FState;
};

// libpq's message on one line: it writes its hints on lines of their own.
QString Message(const char* text) { return QString::fromUtf8(text).simplified(); }

QByteArray Number(double v) { return QByteArray::number(v, 'g', 17); }

const char* const kResultsColumns =
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
    " series TEXT)";

// The columns a pushed result fills, in the order of its parameters.
const char* const kInsertColumns =
    "identity, kind, device_no, test_time, stored_at, t0, t1, t2, t3, t4, t5, t6, t7, t8, t9, t10,"
    " ohm_a, ohm_b, ohm_c, exact, start_range, start_time, start_phase, origin, series";
constexpr int kInsertParams = 25;

}  // namespace

// ---- configuration -------------------------------------------------------------

QString TTeamConfig::Describe() const {
  return QStringLiteral("PostgreSQL %1@%2:%3/%4").arg(user, host).arg(port).arg(name);
}

QString TTeamConfig::OptionsError() const {
  if (options.trimmed().isEmpty()) return {};
  char* error = nullptr;
  QByteArray text = options.toUtf8();
  text.replace(';', ' ');  // earlier versions separated them so
  PQconninfoOption* parsed = PQconninfoParse(text.constData(), &error);
  if (!parsed) {
    const QString why = error ? Message(error) : QStringLiteral("格式不正确");
    if (error) PQfreemem(error);
    return QStringLiteral("连接选项无法识别：%1").arg(why);
  }
  // The first refused key as the text has it.
  QByteArray first;
  qsizetype firstAt = -1;
  for (PQconninfoOption* o = parsed; o->keyword; ++o) {
    if (!o->val) continue;
    const QByteArray key(o->keyword);
    static const char* const kRefused[] = {"host", "hostaddr", "port", "dbname", "user", "password", "passfile", "service"};
    if (std::find_if(std::begin(kRefused), std::end(kRefused), [&](const char* k) { return key == k; }) ==
        std::end(kRefused)) {
      continue;
    }
    const QRegularExpression at(QStringLiteral("(^|\\s)%1\\s*=").arg(QString::fromUtf8(key)));
    const qsizetype place = QString::fromUtf8(text).indexOf(at);
    if (firstAt < 0 || (place >= 0 && place < firstAt)) {
      first = key;
      firstAt = place < 0 ? text.size() : place;
    }
  }
  PQconninfoFree(parsed);
  if (first.isEmpty()) return {};
  if (first == "password" || first == "passfile" || first == "service") {
    return QStringLiteral("连接选项不能含有“%1”：密码请写在 ~/.pgpass 或 PostgreSQL 服务文件中，不保存在本程序的设置里")
        .arg(QString::fromUtf8(first));
  }
  return QStringLiteral("连接选项不能含有“%1”：请填写在服务器、端口、数据库名、用户名中").arg(QString::fromUtf8(first));
}

TTeamConfig TeamConfigOf(const TIniFile& ini) {
  TTeamConfig c;
  c.enabled = ini.ReadString(kSection, QStringLiteral("Driver"), QString()).trimmed().toUpper() == QLatin1String("QPSQL");
  c.host = ini.ReadString(kSection, QStringLiteral("Host"), QString()).trimmed();
  c.port = ini.ReadInteger(kSection, QStringLiteral("Port"), 5432);
  c.name = ini.ReadString(kSection, QStringLiteral("Name"), QString()).trimmed();
  c.user = ini.ReadString(kSection, QStringLiteral("User"), QString()).trimmed();
  c.options = ini.ReadString(kSection, QStringLiteral("Options"), QString()).trimmed();
  c.connectTimeout = std::clamp(ini.ReadInteger(kSection, QStringLiteral("ConnectTimeout"), 5), 1, 600);
  c.statementTimeout = std::clamp(ini.ReadInteger(kSection, QStringLiteral("StatementTimeout"), 15), 1, 3600);
  return c;
}

void WriteTeamConfig(TIniFile& ini, const TTeamConfig& c) {
  ini.BeginUpdate();
  ini.WriteString(kSection, QStringLiteral("Driver"), c.enabled ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"));
  ini.WriteString(kSection, QStringLiteral("Host"), c.host);
  ini.WriteInteger(kSection, QStringLiteral("Port"), c.port);
  ini.WriteString(kSection, QStringLiteral("Name"), c.name);
  ini.WriteString(kSection, QStringLiteral("User"), c.user);
  ini.WriteString(kSection, QStringLiteral("Options"), c.options);
  ini.WriteInteger(kSection, QStringLiteral("ConnectTimeout"), c.connectTimeout);
  ini.WriteInteger(kSection, QStringLiteral("StatementTimeout"), c.statementTimeout);
  ini.EndUpdate();
}

// ---- link ----------------------------------------------------------------------

struct TTeamLink::TResult {
  std::unique_ptr<PGresult, void (*)(PGresult*)> r{nullptr, PQclear};
  int Rows() const { return r ? PQntuples(r.get()) : 0; }
  bool Null(int row, int col) const { return PQgetisnull(r.get(), row, col) != 0; }
  QString Text(int row, int col) const { return QString::fromUtf8(PQgetvalue(r.get(), row, col)); }
  QByteArray Bytes(int row, int col) const { return QByteArray(PQgetvalue(r.get(), row, col)); }
};

TTeamLink::TTeamLink(const TTeamConfig& config, const std::atomic<bool>* stop) : FConfig(config), FStop(stop) {}

TTeamLink::~TTeamLink() { Close(); }

void TTeamLink::Close() {
  if (FConn) PQfinish(FConn);
  FConn = nullptr;
}

void TTeamLink::Lost(const QString& why) {
  Close();
  throw EAppError(why);
}

bool TTeamLink::Wait(bool forWrite, qint64 deadline) {
  for (;;) {
    if (FStop && FStop->load()) Lost(QStringLiteral("已停止"));
    const qint64 left = deadline - NowMs();
    if (left <= 0) return false;
    pollfd p{};
    p.fd = PQsocket(FConn);
    if (p.fd < 0) Lost(QStringLiteral("与团队数据库的连接已断开"));
    p.events = short(forWrite ? POLLOUT : POLLIN);
    const int n = ::poll(&p, 1, int(std::min<qint64>(left, 100)));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) Lost(QStringLiteral("与团队数据库的连接已断开"));
  }
}

void TTeamLink::Connect() {
  if (FConn) return;
  const QString refused = FConfig.OptionsError();
  if (!refused.isEmpty()) throw EAppError(refused);
  // Ours first; the options after them may set libpq's other keys
  // (sslmode, sslrootcert, keepalives...).
  std::vector<QByteArray> keys = {"host", "port", "dbname", "user", "connect_timeout", "keepalives",
                                  "keepalives_idle", "keepalives_interval", "keepalives_count",
                                  "tcp_user_timeout", "application_name", "options"};
  std::vector<QByteArray> values = {FConfig.host.toUtf8(),
                                    QByteArray::number(FConfig.port),
                                    FConfig.name.toUtf8(),
                                    FConfig.user.toUtf8(),
                                    QByteArray::number(FConfig.connectTimeout),
                                    "1",
                                    "10",
                                    "5",
                                    "3",
                                    QByteArray::number(FConfig.statementTimeout * 1000),
                                    "qk4820",
                                    "-c statement_timeout=" + QByteArray::number(FConfig.statementTimeout * 1000)};
  if (!FConfig.options.trimmed().isEmpty()) {
    QByteArray text = FConfig.options.toUtf8();
    text.replace(';', ' ');
    if (PQconninfoOption* parsed = PQconninfoParse(text.constData(), nullptr)) {
      for (PQconninfoOption* o = parsed; o->keyword; ++o) {
        if (!o->val) continue;
        keys.emplace_back(o->keyword);
        values.emplace_back(o->val);
      }
      PQconninfoFree(parsed);
    }
  }
  std::vector<const char*> k;
  std::vector<const char*> v;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (values[i].isEmpty()) continue;  // libpq's default (the local socket, the login's name)
    k.push_back(keys[i].constData());
    v.push_back(values[i].constData());
  }
  k.push_back(nullptr);
  v.push_back(nullptr);
  const QString where = FConfig.Describe();
  FConn = PQconnectStartParams(k.data(), v.data(), 0);
  if (!FConn) throw EAppError(QStringLiteral("无法连接团队数据库 %1：内存不足").arg(where));
  if (PQstatus(FConn) == CONNECTION_BAD) {
    Lost(QStringLiteral("无法连接团队数据库 %1：%2").arg(where, Message(PQerrorMessage(FConn))));
  }
  const qint64 deadline = NowMs() + qint64(FConfig.connectTimeout) * 1000;
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  while (state != PGRES_POLLING_OK) {
    if (state == PGRES_POLLING_FAILED) {
      Lost(QStringLiteral("无法连接团队数据库 %1：%2").arg(where, Message(PQerrorMessage(FConn))));
    }
    if (!Wait(state == PGRES_POLLING_WRITING, deadline)) {
      Lost(QStringLiteral("无法连接团队数据库 %1：%2 秒内没有回答").arg(where).arg(FConfig.connectTimeout));
    }
    state = PQconnectPoll(FConn);
  }
  if (PQsetnonblocking(FConn, 1) != 0) Lost(QStringLiteral("无法连接团队数据库 %1").arg(where));
  // The server's notices ("relation already exists, skipping") are no news.
  PQsetNoticeProcessor(FConn, [](void*, const char*) {}, nullptr);
  const char* version = PQparameterStatus(FConn, "server_version");
  FReached = QStringLiteral("PostgreSQL %1，%2:%3，数据库 %4，用户 %5")
                 .arg(QString::fromUtf8(version ? version : "?"), QString::fromUtf8(PQhost(FConn)),
                      QString::fromUtf8(PQport(FConn)), QString::fromUtf8(PQdb(FConn)), QString::fromUtf8(PQuser(FConn)));
  try {
    Migrate();
  } catch (...) {
    Close();
    throw;
  }
}

TTeamLink::TResult TTeamLink::Run(const char* sql, const std::vector<QByteArray>& params, const std::vector<bool>& nulls) {
  if (!FConn) throw EAppError(QStringLiteral("没有连接团队数据库"));
  const QString where = FConfig.Describe();
  std::vector<const char*> values(params.size());
  for (size_t i = 0; i < params.size(); ++i) {
    values[i] = i < nulls.size() && nulls[i] ? nullptr : params[i].constData();
  }
  if (!PQsendQueryParams(FConn, sql, int(params.size()), nullptr, values.data(), nullptr, nullptr, 0)) {
    Lost(QStringLiteral("与团队数据库 %1 的连接已断开：%2").arg(where, Message(PQerrorMessage(FConn))));
  }
  const qint64 deadline = NowMs() + qint64(FConfig.statementTimeout) * 1000;
  const QString silent = QStringLiteral("团队数据库 %1 在 %2 秒内没有回答").arg(where).arg(FConfig.statementTimeout);
  for (;;) {
    const int f = PQflush(FConn);
    if (f == 0) break;
    if (f < 0) Lost(QStringLiteral("与团队数据库 %1 的连接已断开：%2").arg(where, Message(PQerrorMessage(FConn))));
    if (!Wait(true, deadline)) Lost(silent);
    if (!PQconsumeInput(FConn)) {
      Lost(QStringLiteral("与团队数据库 %1 的连接已断开：%2").arg(where, Message(PQerrorMessage(FConn))));
    }
  }
  TResult out;
  std::unique_ptr<PGresult, void (*)(PGresult*)> error{nullptr, PQclear};
  for (;;) {
    while (PQisBusy(FConn)) {
      if (!Wait(false, deadline)) Lost(silent);
      if (!PQconsumeInput(FConn)) {
        Lost(QStringLiteral("与团队数据库 %1 的连接已断开：%2").arg(where, Message(PQerrorMessage(FConn))));
      }
    }
    PGresult* r = PQgetResult(FConn);
    if (!r) break;
    const ExecStatusType status = PQresultStatus(r);
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
      out.r.reset(r);
    } else if (!error) {
      error.reset(r);
    } else {
      PQclear(r);
    }
  }
  if (PQstatus(FConn) == CONNECTION_BAD) {
    Lost(QStringLiteral("与团队数据库 %1 的连接已断开：%2").arg(where, Message(PQerrorMessage(FConn))));
  }
  if (error) {
    const char* state = PQresultErrorField(error.get(), PG_DIAG_SQLSTATE);
    throw EStatementError(QStringLiteral("团队数据库 %1 出错：%2").arg(where, Message(PQresultErrorMessage(error.get()))),
                          QByteArray(state ? state : ""));
  }
  return out;
}

namespace {

// Runs body in a transaction of the link; a failure rolls it back (where
// the connection still stands) and goes on.
template <typename F>
void InTransaction(TTeamLink& link, F body, const std::function<void(const char*)>& run) {
  run("BEGIN");
  try {
    body();
    run("COMMIT");
  } catch (...) {
    if (link.Connected()) {
      try {
        run("ROLLBACK");
      } catch (...) {
      }
    }
    throw;
  }
}

}  // namespace

void TTeamLink::Migrate() {
  auto run = [this](const char* sql) { Run(sql); };
  InTransaction(*this, [&] {
    Run(kSchemaLock);
    Run("CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)");
    const TResult v = Run("SELECT value FROM meta WHERE key = 'schema_version'");
    const int version = v.Rows() > 0 ? v.Text(0, 0).toInt() : 0;
    if (version > kSchemaVersion) {
      throw EAppError(QStringLiteral("团队数据库 %1 来自较新版本的程序（数据库版本 %2），请升级本程序")
                          .arg(FConfig.Describe())
                          .arg(version));
    }
    if (version == 0) {
      Run((QByteArray("CREATE TABLE results (seq BIGSERIAL PRIMARY KEY,") + kResultsColumns).constData());
      Run("CREATE INDEX results_device_time ON results (device_no, test_time)");
      Run("CREATE TABLE criteria (device_no TEXT PRIMARY KEY, max_uohm DOUBLE PRECISION,"
          " reference_uohm DOUBLE PRECISION, rise_factor DOUBLE PRECISION, imbalance_pct DOUBLE PRECISION)");
    } else if (version < kSchemaVersion) {
      MigrateFromVersion2();
    }
    if (version < kSchemaVersion) {
      Run("INSERT INTO meta (key, value) VALUES ('schema_version', $1)"
          " ON CONFLICT (key) DO UPDATE SET value = excluded.value",
          {QByteArray::number(kSchemaVersion)});
    }
    Run("INSERT INTO meta (key, value) VALUES ('database_id', $1) ON CONFLICT (key) DO NOTHING",
        {QUuid::createUuid().toString(QUuid::WithoutBraces).toUtf8()});
    const TResult id = Run("SELECT value FROM meta WHERE key = 'database_id'");
    FDatabaseId = id.Rows() > 0 ? id.Text(0, 0) : QString();
  }, run);
}

void TTeamLink::MigrateFromVersion2() {
  Run("CREATE TABLE IF NOT EXISTS criteria (device_no TEXT PRIMARY KEY, max_uohm DOUBLE PRECISION,"
      " reference_uohm DOUBLE PRECISION, rise_factor DOUBLE PRECISION, imbalance_pct DOUBLE PRECISION)");
  Run((QByteArray("CREATE TABLE results_v3 (seq BIGSERIAL PRIMARY KEY,") + kResultsColumns).constData());
  // Copies of one test become one result: uploads and archives (the
  // frame's values) before imports, the first stored first; an import's
  // time read again from its text.
  for (const char* kindWhere : {"kind <> 'imported'", "kind = 'imported'"}) {
    qint64 after = 0;
    for (;;) {
      const QByteArray select =
          QByteArray("SELECT id, kind, device_no, test_time, stored_at, t0, t1, t2, t3, t4, t5, t6, t7, t8, t9, t10,"
                     " ohm_a, ohm_b, ohm_c, start_range, start_time, start_phase FROM results WHERE ") +
          kindWhere + " AND id > $1 ORDER BY id LIMIT 1000";
      const TResult rows = Run(select.constData(), {QByteArray::number(after)});
      if (rows.Rows() == 0) break;
      QByteArray sql = QByteArray("INSERT INTO results_v3 (") + kInsertColumns + ") VALUES ";
      std::vector<QByteArray> params;
      std::vector<bool> nulls;
      for (int r = 0; r < rows.Rows(); ++r) {
        after = rows.Bytes(r, 0).toLongLong();
        QStringList texts;
        for (int c = 0; c < Record::kColumns; ++c) texts << rows.Text(r, 5 + c);
        const bool imported = rows.Text(r, 1) == QLatin1String("imported");
        QByteArray time = rows.Bytes(r, 3);
        if (imported) {
          const QDateTime stated = ImportTimeOfText(texts.value(Record::kTime));
          if (stated.isValid()) time = stated.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toUtf8();
        }
        auto put = [&](const QByteArray& v, bool null = false) {
          params.push_back(v);
          nulls.push_back(null);
        };
        sql += r > 0 ? ",(" : "(";
        for (int i = 0; i < kInsertParams; ++i) sql += (i > 0 ? ",$" : "$") + QByteArray::number(int(params.size()) + i + 1);
        sql += ')';
        put(ResultIdentity(texts).toUtf8());
        put(rows.Bytes(r, 1));
        put(rows.Bytes(r, 2));
        put(time);
        put(rows.Bytes(r, 4));
        for (int c = 0; c < Record::kColumns; ++c) put(rows.Bytes(r, 5 + c), rows.Null(r, 5 + c));
        for (int p = 0; p < 3; ++p) put(rows.Bytes(r, 16 + p), rows.Null(r, 16 + p));
        put(imported ? "0" : "1");
        for (int i = 0; i < 3; ++i) put(rows.Bytes(r, 19 + i), rows.Null(r, 19 + i));
        put(QByteArray());
        put(QByteArray(), true);  // no course was kept before
      }
      sql += " ON CONFLICT (identity) DO NOTHING";
      Run(sql.constData(), params, nulls);
    }
  }
  Run("DROP TABLE results");
  Run("ALTER TABLE results_v3 RENAME TO results");
  Run("CREATE INDEX results_device_time ON results (device_no, test_time)");
}

int TTeamLink::Push(std::vector<TStoredResult> results) {
  std::sort(results.begin(), results.end(),
            [](const TStoredResult& a, const TStoredResult& b) { return a.identity < b.identity; });
  // One statement may not meet a row twice.
  results.erase(std::unique(results.begin(), results.end(),
                            [](const TStoredResult& a, const TStoredResult& b) { return a.identity == b.identity; }),
                results.end());
  int added = 0;
  auto run = [this](const char* sql) { Run(sql); };
  for (size_t begin = 0; begin < results.size(); begin += kBatch) {
    const size_t end = std::min(results.size(), begin + kBatch);
    QByteArray sql = QByteArray("INSERT INTO results (") + kInsertColumns + ") VALUES ";
    std::vector<QByteArray> params;
    std::vector<bool> nulls;
    params.reserve((end - begin) * kInsertParams);
    auto put = [&](const QByteArray& v, bool null = false) {
      params.push_back(v);
      nulls.push_back(null);
    };
    for (size_t i = begin; i < end; ++i) {
      const TStoredResult& r = results[i];
      sql += i > begin ? ",(" : "(";
      for (int k = 0; k < kInsertParams; ++k) sql += (k > 0 ? ",$" : "$") + QByteArray::number(int(params.size()) + k + 1);
      sql += ')';
      put(r.identity.toUtf8());
      put(KindText(r.kind).toUtf8());
      put(r.device.toUtf8());
      put(r.time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toUtf8());
      put(r.storedAt.toUtf8());
      for (int c = 0; c < Record::kColumns; ++c) put(r.texts.value(c).toUtf8());
      for (int p = 0; p < 3; ++p) put(r.ohms[size_t(p)] ? Number(*r.ohms[size_t(p)]) : QByteArray(), !r.ohms[size_t(p)]);
      put(r.exact ? "1" : "0");
      put(r.start ? QByteArray::number(r.start->currentStep) : QByteArray(), !r.start);
      put(r.start ? QByteArray::number(r.start->testTime) : QByteArray(), !r.start);
      put(r.start ? QByteArray::number(r.start->phase) : QByteArray(), !r.start);
      put(r.origin.toUtf8());
      put(r.series.toUtf8(), r.series.isEmpty());
    }
    // A result held with values read from texts takes the frame's, and
    // moves to the end of the order so that other PCs read it again.
    sql += " ON CONFLICT (identity) DO UPDATE SET"
           " ohm_a = CASE WHEN results.exact = 0 AND excluded.exact = 1 THEN excluded.ohm_a ELSE results.ohm_a END,"
           " ohm_b = CASE WHEN results.exact = 0 AND excluded.exact = 1 THEN excluded.ohm_b ELSE results.ohm_b END,"
           " ohm_c = CASE WHEN results.exact = 0 AND excluded.exact = 1 THEN excluded.ohm_c ELSE results.ohm_c END,"
           " exact = GREATEST(results.exact, excluded.exact), series = COALESCE(results.series, excluded.series),"
           " seq = nextval(pg_get_serial_sequence('results', 'seq'))"
           " WHERE (results.exact = 0 AND excluded.exact = 1)"
           " OR (results.series IS NULL AND excluded.series IS NOT NULL)"
           " RETURNING (xmax = 0)";
    for (int attempt = 0;; ++attempt) {
      try {
        int batchAdded = 0;
        InTransaction(*this, [&] {
          Run(kWriteLock);
          const TResult r = Run(sql.constData(), params, nulls);
          for (int row = 0; row < r.Rows(); ++row) batchAdded += r.Bytes(row, 0) == "t" ? 1 : 0;
        }, run);
        added += batchAdded;
        break;
      } catch (const EStatementError& e) {
        // A deadlock or a serialization failure is another writer's turn:
        // the batch goes again.
        const bool retry = e.State() == "40P01" || e.State() == "40001";
        if (!retry || attempt >= 5 || !Connected()) throw;
        std::this_thread::sleep_for(std::chrono::milliseconds(20 * (attempt + 1)));
      }
    }
  }
  return added;
}

std::vector<TStoredResult> TTeamLink::Pull(qint64& cursor, int limit) {
  const TResult rows = Run(
      "SELECT seq, identity, kind, device_no, test_time, stored_at, t0, t1, t2, t3, t4, t5, t6, t7, t8, t9, t10,"
      " ohm_a, ohm_b, ohm_c, exact, start_range, start_time, start_phase, origin, series FROM results"
      " WHERE seq > $1 ORDER BY seq LIMIT $2",
      {QByteArray::number(cursor), QByteArray::number(limit)});
  std::vector<TStoredResult> out;
  out.reserve(size_t(rows.Rows()));
  for (int r = 0; r < rows.Rows(); ++r) {
    TStoredResult s;
    cursor = std::max(cursor, rows.Bytes(r, 0).toLongLong());
    s.identity = rows.Text(r, 1);
    s.kind = KindOfText(rows.Text(r, 2));
    s.device = rows.Text(r, 3);
    s.time = QDateTime::fromString(rows.Text(r, 4), Qt::ISODate);
    s.storedAt = rows.Text(r, 5);
    for (int c = 0; c < Record::kColumns; ++c) s.texts << rows.Text(r, 6 + c);
    for (int p = 0; p < 3; ++p) {
      if (!rows.Null(r, 17 + p)) s.ohms[size_t(p)] = rows.Bytes(r, 17 + p).toDouble();
    }
    s.exact = rows.Bytes(r, 20) == "1";
    if (!rows.Null(r, 21)) {
      s.start = TStartParams{rows.Bytes(r, 21).toInt(), rows.Bytes(r, 22).toInt(), rows.Bytes(r, 23).toInt()};
    }
    s.origin = rows.Text(r, 24);
    if (!rows.Null(r, 25)) s.series = rows.Text(r, 25);
    s.synced = true;
    out.push_back(std::move(s));
  }
  return out;
}

void TTeamLink::PushCriteria(const std::map<QString, TCriteriaRow>& rows) {
  for (const auto& [device, row] : rows) {
    std::vector<QByteArray> params{device.toUtf8()};
    std::vector<bool> nulls{false};
    for (const std::optional<double>& v : row) {
      params.push_back(v ? Number(*v) : QByteArray());
      nulls.push_back(!v);
    }
    Run("INSERT INTO criteria (device_no, max_uohm, reference_uohm, rise_factor, imbalance_pct)"
        " VALUES ($1, $2, $3, $4, $5) ON CONFLICT (device_no) DO UPDATE SET max_uohm = excluded.max_uohm,"
        " reference_uohm = excluded.reference_uohm, rise_factor = excluded.rise_factor,"
        " imbalance_pct = excluded.imbalance_pct",
        params, nulls);
  }
}

std::map<QString, TCriteriaRow> TTeamLink::PullCriteria() {
  const TResult rows = Run("SELECT device_no, max_uohm, reference_uohm, rise_factor, imbalance_pct FROM criteria");
  std::map<QString, TCriteriaRow> out;
  for (int r = 0; r < rows.Rows(); ++r) {
    TCriteriaRow& row = out[rows.Text(r, 0)];
    for (int i = 0; i < 4; ++i) {
      if (!rows.Null(r, 1 + i)) row[size_t(i)] = rows.Bytes(r, 1 + i).toDouble();
    }
  }
  return out;
}

qint64 TTeamLink::ResultCount() {
  const TResult r = Run("SELECT COUNT(*) FROM results");
  return r.Rows() > 0 ? r.Bytes(0, 0).toLongLong() : 0;
}
