// qk4820-history: the results history for a lab's scripts, on the same store
// and settings as the program.
//
//   qk4820-history [--settings FILE] import FILE...
//   qk4820-history [--settings FILE] export [--device D] [--from T] [--to T] OUT
//   qk4820-history [--settings FILE] sync
//   qk4820-history [--settings FILE] check
//   qk4820-history [--settings FILE] list [--device D]
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <memory>

#include "data/FileFormats.h"
#include "data/RecordTable.h"
#include "data/UDataCenter.h"
#include "history/HistoryImport.h"
#include "history/HistorySync.h"
#include "history/Judged.h"
#include "history/ResultIdentity.h"
#include "history/ResultStore.h"
#include "history/TeamStore.h"
#include "platform/IniFile.h"
#include "platform/MessageService.h"
#include "platform/TextTable.h"
#include "spreadsheet/Spreadsheet.h"

namespace {

const char kUsage[] =
    "用法 / usage:\n"
    "  qk4820-history [--settings 设置文件] import 文件...\n"
    "  qk4820-history [--settings 设置文件] export [--device 设备编号] [--from 时间] [--to 时间] 输出文件\n"
    "  qk4820-history [--settings 设置文件] sync\n"
    "  qk4820-history [--settings 设置文件] check\n"
    "  qk4820-history [--settings 设置文件] list [--device 设备编号]\n"
    "\n"
    "测试结果历史记录的命令行工具，使用与本程序相同的历史记录和设置文件（SystemFile.ini）。\n"
    "The results history of the program, for scripts: the same store and settings file.\n"
    "  import  导入测试数据文件（.txt .csv 电子表格），每个文件打印一行摘要；有行未导入时退出码为 1\n"
    "  export  导出历史记录（11 列测试记录，再加 最大值、三相不平衡、较基准变化、结论、原因）\n"
    "  sync    立即与团队数据库同步，打印上传与下载的条数；无法连接时退出码为 1\n"
    "  check   检查历史记录数据库是否完好，打印待同步条数；已损坏时退出码为 1\n"
    "  list    按时间从新到旧列出结果，每行以制表符分隔\n"
    "时间可写作 2025-01-12、2025-01-12 09:20 等。\n"
    "\n"
    "退出码 / exit status: 0 成功 success, 1 见上 as above, 2 参数错误 wrong arguments,\n"
    "3 历史记录无法使用 the history cannot be used.\n";

void Print(FILE* to, const QString& text) {
  const QByteArray b = text.toUtf8();
  std::fwrite(b.constData(), 1, size_t(b.size()), to);
}

int Usage(const QString& why) {
  Print(stderr, QStringLiteral("qk4820-history: %1（--help 查看用法）\n").arg(why));
  return 2;
}

// Qt's own notes are not the tool's business; only failures are reported.
void QuietQt(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg) Print(stderr, QStringLiteral("qk4820-history: %1\n").arg(text));
}

struct TOptions {
  QString device;
  QDateTime from;
  QDateTime to;
  QStringList rest;
};

// Reads --device, --from and --to among args; false with why on a bad one.
bool ReadOptions(const QStringList& args, TOptions& o, QString& why) {
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QLatin1String("--device") || a == QLatin1String("--from") || a == QLatin1String("--to")) {
      if (i + 1 >= args.size()) {
        why = QStringLiteral("%1 后面缺少值").arg(a);
        return false;
      }
      const QString v = args[++i];
      if (a == QLatin1String("--device")) {
        o.device = v;
        continue;
      }
      QDateTime t = ImportTimeOfText(v);
      if (!t.isValid()) {
        why = QStringLiteral("时间\"%1\"无法识别").arg(v);
        return false;
      }
      // A date alone as the end of a range means its whole day.
      if (a == QLatin1String("--to") && t.time() == QTime(0, 0) && !v.contains(QLatin1Char(':'))) {
        t = t.addDays(1).addSecs(-1);
      }
      (a == QLatin1String("--from") ? o.from : o.to) = t;
    } else {
      o.rest << a;
    }
  }
  return true;
}

class TJudgedRows : public ITextRows {
 public:
  explicit TJudgedRows(const std::vector<THistoryRow>& rows) : FRows(rows) {}
  int RowCount() const override { return int(FRows.size()); }
  int ColCount() const override { return Judged::kColumns + 1; }
  QString Cell(int row, int col) const override {
    const THistoryRow& r = FRows[size_t(row)];
    if (col == Record::kNumber) return QString::number(row + 1);  // the history's own numbering
    return col == Judged::kColumns ? r.reasons.join(QStringLiteral("；")) : r.texts.value(col);
  }

 private:
  const std::vector<THistoryRow>& FRows;
};

int Import(TResultStore& store, const QStringList& files) {
  int status = 0;
  for (const QString& file : files) {
    try {
      const TImportCheck check = CheckImportRows(ReadImportFile(file));
      const TAddCount count = store.Add(check.results);
      Print(stdout, QStringLiteral("%1：%2\n").arg(file, ImportSummary(count, check)));
      if (check.refusedCount > 0) status = 1;
    } catch (const EAppError& e) {
      Print(stderr, QStringLiteral("qk4820-history: %1：导入失败：%2\n").arg(file, e.Text()));
      status = 1;
    }
  }
  return status;
}

int Export(TResultStore& store, const TOptions& o) {
  const QString out = o.rest[0];
  const std::vector<THistoryRow> rows = JudgedRows(store, store.Results(o.device, o.from, o.to));
  if (rows.empty()) {
    Print(stderr, QStringLiteral("qk4820-history: 所选范围内没有测试结果，未写出文件\n"));
    return 1;
  }
  try {
    FormatOf(out).write(out, Judged::Captions() + QStringList{QStringLiteral("原因")}, TJudgedRows(rows));
  } catch (const ESpreadsheetError& e) {
    Print(stderr, QStringLiteral("qk4820-history: %1\n").arg(e.Text()));
    return 1;
  }
  Print(stdout, QStringLiteral("已导出 %1 条结果到 %2\n").arg(rows.size()).arg(out));
  return 0;
}

int Sync(TResultStore& store, const TTeamConfig& team) {
  if (!team.enabled) {
    Print(stderr, QStringLiteral("qk4820-history: 设置文件中没有团队数据库（[Database] Driver=QPSQL）\n"));
    return 1;
  }
  TTeamLink link(team);
  try {
    const TSyncReport r = SyncOnce(store, link);
    Print(stdout, QStringLiteral("%1：上传 %2 条，下载 %3 条，待同步 %4 条\n")
                      .arg(link.Reached())
                      .arg(r.pushed)
                      .arg(r.pulled)
                      .arg(r.pending));
    return 0;
  } catch (const EAppError& e) {
    Print(stderr, QStringLiteral("qk4820-history: %1；待同步 %2 条\n").arg(e.Text()).arg(store.PendingCount()));
    return 1;
  }
}

int Check(const QString& file) {
  // A store not made yet is made (empty) rather than reported damaged.
  const QString damage = QFileInfo::exists(file) ? TResultStore::QuickCheck(file) : QString();
  if (!damage.isEmpty()) {
    Print(stdout, QStringLiteral("%1：已损坏（%2）\n").arg(file, damage));
    return 1;
  }
  TResultStore store(file);
  Print(stdout, QStringLiteral("%1：完好，共 %2 条结果，待同步 %3 条\n").arg(file).arg(store.Count({})).arg(store.PendingCount()));
  return 0;
}

int List(TResultStore& store, const TOptions& o) {
  Print(stdout, (Judged::Captions() + QStringList{QStringLiteral("原因")}).join(QLatin1Char('\t')) + QLatin1Char('\n'));
  const THistoryFilter filter{o.device, o.from, o.to};
  std::unique_ptr<TStoredResult> after;
  int number = 0;
  for (;;) {
    const std::vector<TStoredResult> page = store.Page(filter, after.get(), 1000);
    if (page.empty()) break;
    for (THistoryRow r : JudgedRows(store, page)) {
      r.texts[Record::kNumber] = QString::number(++number);  // the history's own numbering
      Print(stdout, (r.texts + QStringList{r.reasons.join(QStringLiteral("；"))}).join(QLatin1Char('\t')) + QLatin1Char('\n'));
    }
    after = std::make_unique<TStoredResult>(page.back());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(QuietQt);
  QCoreApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  QString settings;
  const int at = int(args.indexOf(QStringLiteral("--settings")));
  if (at >= 0) {
    if (at + 1 >= args.size()) return Usage(QStringLiteral("--settings 后面缺少设置文件"));
    settings = QFileInfo(args[at + 1]).absoluteFilePath();
    args.remove(at, 2);
  } else {
    settings = SettingsFileName();
  }
  if (args.isEmpty()) return Usage(QStringLiteral("缺少命令"));
  const QString command = args.takeFirst();
  TOptions o;
  QString why;
  if (!ReadOptions(args, o, why)) return Usage(why);
  const QString file = QDir(QFileInfo(settings).absolutePath()).filePath(QStringLiteral("results.sqlite"));
  if (command == QLatin1String("check")) return Check(file);
  if (command != QLatin1String("import") && command != QLatin1String("export") && command != QLatin1String("sync") &&
      command != QLatin1String("list")) {
    return Usage(QStringLiteral("未知命令“%1”").arg(command));
  }
  // The arguments first: a wrong call is told as such whatever the store is.
  if (command == QLatin1String("import") && o.rest.isEmpty()) return Usage(QStringLiteral("import 需要至少一个文件"));
  if (command == QLatin1String("export") && o.rest.size() != 1) return Usage(QStringLiteral("export 需要一个输出文件"));
  if (command == QLatin1String("list") && !o.rest.isEmpty()) {
    return Usage(QStringLiteral("list 不需要其它参数：%1").arg(o.rest.join(QLatin1Char(' '))));
  }
  std::unique_ptr<TResultStore> store;
  try {
    store = std::make_unique<TResultStore>(file);
    if (command == QLatin1String("import")) return Import(*store, o.rest);
    if (command == QLatin1String("export")) return Export(*store, o);
    if (command == QLatin1String("list")) return List(*store, o);
    return Sync(*store, TeamConfigOf(TIniFile(settings)));
  } catch (const EAppError& e) {
    Print(stderr, QStringLiteral("qk4820-history: %1\n").arg(e.Text()));
    return 3;
  }
}
