// Saving and opening archives of 10,000, 65,535, 100,000 and 1,048,575
// records as text, CSV, Office Open XML and Excel 97-2003 files; prints the
// time of each step and, beside it, the peak memory of the child process
// that ran it (VmHWM); then reads and writes the largest CSV file with
// Python's csv module, alternated with the program's own open and save.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <malloc.h>
#include <functional>

#include "data/UDataCenter.h"
#include "forms/UDataFiles.h"
#include "forms/UDlgProcess.h"
#include "platform/StringGrid.h"
#include "support/TestServices.h"

namespace {

const char* const kCaptions[11] = {"序号", "时间", "设备编号", "测试人员", "测试地点", "测试档位",
                                   "载流时间", "测试相", "测试电阻(A)", "测试电阻(B)", "测试电阻(C)"};

// The archive's record count, as the main window keeps it.
std::int32_t giSaveCount = 0;

void FillArchive(TStringGrid& grid, int kRows) {
  for (int c = 0; c < 11; ++c) grid.SetCells(c, 0, QString::fromUtf8(kCaptions[c]));
  std::vector<QStringList> rows;
  rows.reserve(kRows);
  for (int r = 1; r <= kRows; ++r) {
    rows.push_back({QString::asprintf("%2d", r), QStringLiteral("08-03-05 09:07"), QStringLiteral("QK-%1").arg(r),
                    QStringLiteral("张三"), QStringLiteral("变电站%1号").arg(r % 97), QStringLiteral("200A"),
                    QStringLiteral("30 秒"), QStringLiteral("三相"), QStringLiteral("%1.25").arg(r % 1000),
                    QStringLiteral("%1.50").arg(r % 1000), QStringLiteral("%1.75").arg(r % 1000)});
  }
  grid.ReplaceDataRows(std::move(rows));
  giSaveCount = kRows;
}

double Time(const char* what, const std::function<void()>& run) {
  QElapsedTimer t;
  t.start();
  run();
  const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
  std::printf("%-34s %9.1f ms\n", what, ms);
  return ms;
}

// The peak resident memory of this process image (VmHWM; getrusage's
// figure would carry the parent's peak over the exec).
long PeakMemoryMiB() {
  QFile f(QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : f.readAll().split('\n')) {
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLong() / 1024;
  }
  return -1;
}

// In a process of its own: the archive of rows records saved as name; the
// peak memory is the table's and the save's.
int SaveOnly(int rows, const QString& name) {
  TRecordingMessages messages;
  TStringGrid archive(11, 2);
  FillArchive(archive, rows);
  malloc_trim(0);  // what the filling freed goes back first
  {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));  // the peak from here on
    if (clear.open(QIODevice::WriteOnly)) clear.write("5");
  }
  const QByteArray label = "  save " + QFileInfo(name).suffix().toUtf8();
  const double ms = Time(label.constData(), [&] { DataFiles::SaveFileAs(nullptr, name, &archive, rows); });
  (void)ms;
  std::printf("    peak memory %ld MiB (the table and the save), %lld KiB written\n", PeakMemoryMiB(),
              static_cast<long long>(QFileInfo(name).size() / 1024));
  for (const TMsgRequest& m : messages.Boxes) {
    std::printf("  message: %s %s\n", m.text.toUtf8().constData(), m.detail.toUtf8().constData());
  }
  return messages.Boxes.isEmpty() ? 0 : 1;
}

// In a process of its own, so that its peak memory is the open's alone.
int OpenOnly(const QString& name) {
  TRecordingMessages messages;
  TStringGrid loaded(11, 2);
  const long before = PeakMemoryMiB();
  Time(QByteArray("  open " + QFileInfo(name).fileName().toUtf8()).constData(),
       [&] { DataFiles::OpenFile(nullptr, name, &loaded, giSaveCount); });
  std::fflush(stdout);
  std::printf("  records loaded: %d, peak memory %ld MiB (%ld MiB before the open)\n", giSaveCount,
              PeakMemoryMiB(), before);
  for (const TMsgRequest& m : messages.Boxes) {
    std::printf("  message: %s %s\n", m.text.toUtf8().constData(), m.detail.toUtf8().constData());
  }
  return 0;
}

// Runs this program with args; returns its wall time in ms.
double InChild(const QStringList& args) {
  std::fflush(stdout);
  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedChannels);
  QElapsedTimer t;
  t.start();
  p.start(QCoreApplication::applicationFilePath(), args);
  p.waitForFinished(-1);
  return double(t.nsecsElapsed()) / 1e6;
}

void OpenInChild(const QString& name) { InChild({QStringLiteral("--open-only"), name}); }

// Python's csv module reading the file and writing it again, as the
// program's open and save do; its time and peak memory.
void PythonCsv(const QString& in, const QString& out) {
  static const char* const kScript =
      "import csv, sys, time, resource\n"
      "t = time.time()\n"
      "with open(sys.argv[1], encoding='utf-8-sig', newline='') as f, "
      "open(sys.argv[2], 'w', encoding='utf-8-sig', newline='') as g:\n"
      "    w = csv.writer(g)\n"
      "    for row in csv.reader(f):\n"
      "        w.writerow(row)\n"
      "print('  python csv read + write      %9.1f ms' % ((time.time() - t) * 1000))\n"
      "print('    peak memory %d MiB' % (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024))\n";
  std::fflush(stdout);
  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedChannels);
  p.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(kScript), in, out});
  if (!p.waitForFinished(-1) || p.exitCode() != 0) std::printf("  python3 could not run\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  InstallProgressDialog();
  QTemporaryDir dir;
  SetAppDir(dir.path());
  TScriptedDesktop desktop;
  if (argc == 3 && QByteArray(argv[1]) == "--open-only") return OpenOnly(QString::fromLocal8Bit(argv[2]));
  if (argc == 4 && QByteArray(argv[1]) == "--save-only") {
    return SaveOnly(QByteArray(argv[2]).toInt(), QString::fromLocal8Bit(argv[3]));
  }
  TRecordingMessages messages;

  const QString folder = DataFiles::DataFolder();
  bool allOk = true;
  for (const int kRows : {10000, 65535, 100000}) {
    TStringGrid archive(11, 2);
    FillArchive(archive, kRows);
    std::printf("%d records\n", kRows);
    struct TKind {
      const char* name;
      const char* suffix;
    };
    for (const TKind& k : {TKind{"text", "txt"}, TKind{"CSV", "csv"}, TKind{".xlsx", "xlsx"}, TKind{".xls", "xls"}}) {
      if (kRows > 65535 && QByteArray(k.suffix) == "xls") {
        std::printf("  .xls holds at most 65,536 rows (65,535 records): not measured\n");
        continue;
      }
      if (kRows == 65535 && QByteArray(k.suffix) != "xls") continue;
      TStringGrid loaded(11, 2);
      for (int c = 0; c < 11; ++c) loaded.SetCells(c, 0, QString::fromUtf8(kCaptions[c]));
      const QString name = QDir(folder).filePath(QStringLiteral("bench.") + QLatin1String(k.suffix));
      giSaveCount = kRows;
      const QByteArray saveLabel = QByteArray("  save ") + k.name;
      const QByteArray openLabel = QByteArray("  open ") + k.name;
      Time(saveLabel.constData(), [&] { DataFiles::SaveFileAs(nullptr, name, &archive, giSaveCount); });
      Time(openLabel.constData(), [&] { DataFiles::OpenFile(nullptr, name, &loaded, giSaveCount); });
      const bool ok = giSaveCount == kRows && loaded.Cells(10, kRows) == archive.Cells(10, kRows) &&
                      loaded.Cells(4, kRows) == archive.Cells(4, kRows);
      std::printf("  %s: %lld KiB, round trip %s\n", k.name, static_cast<long long>(QFileInfo(name).size() / 1024),
                  ok ? "ok" : "WRONG");
      allOk = allOk && ok;
    }
  }
  // The most a sheet holds, 1,048,575 records under the caption row: each
  // save and open in a child process of its own, with its peak memory.
  {
    const int kRows = 1048575;
    std::printf("%d records (each step in a process of its own)\n", kRows);
    for (const char* suffix : {"txt", "csv", "xlsx"}) {
      const QString name = QDir(folder).filePath(QStringLiteral("million.") + QLatin1String(suffix));
      InChild({QStringLiteral("--save-only"), QString::number(kRows), name});
      OpenInChild(name);
    }
    // The CSV file read and written again: Python's csv module and the
    // program (its open and its save of the same records), alternated.
    const QString csv = QDir(folder).filePath(QStringLiteral("million.csv"));
    const QString convert = QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/qk4820-convert");
    for (int round = 0; round < 2; ++round) {
      PythonCsv(csv, QDir(folder).filePath(QStringLiteral("python.csv")));
      std::fflush(stdout);
      QProcess p;
      QElapsedTimer t;
      t.start();
      p.start(QStringLiteral("/usr/bin/time"), {QStringLiteral("-f"), QStringLiteral("    peak memory %M KiB"), convert, csv,
                                                QDir(folder).filePath(QStringLiteral("again.csv"))});
      p.waitForFinished(-1);
      std::printf("  qk4820-convert csv to csv      %9.1f ms\n%s", double(t.nsecsElapsed()) / 1e6,
                  p.readAllStandardError().constData());
    }
  }
  // A 5.7 KB workbook with cells A1 and XFD1048576 (written by openpyxl).
  std::printf("far cell (A1 and XFD1048576)\n");
  OpenInChild(QStringLiteral(QK_SOURCE_DIR "/tests/spreadsheet/fixtures/openpyxl-far-cell.xlsx"));

  // The inputs that broke a reader once: each refused or read, in the time
  // and memory printed.
  std::printf("inputs that broke a reader once (tests/fuzz/repro)\n");
  const QDir repro(QStringLiteral(QK_SOURCE_DIR "/tests/fuzz/repro"));
  for (const QString& file : repro.entryList(QDir::Files, QDir::Name)) OpenInChild(repro.filePath(file));

  std::printf("messages shown: %lld (the spreadsheet save includes its 100 ms pause before the folder opens)\n",
              static_cast<long long>(messages.Boxes.size()));
  SetAppDir(QString());
  return allOk && messages.Boxes.isEmpty() ? 0 : 1;
}
