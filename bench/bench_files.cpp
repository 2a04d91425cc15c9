// Saving and opening archives of 10,000 and 100,000 records as text, CSV,
// Office Open XML and Excel 97-2003 files; prints the time of each step.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
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

void OpenInChild(const QString& name) {
  std::fflush(stdout);
  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedChannels);
  p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--open-only"), name});
  p.waitForFinished(-1);
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
  // The largest sheet: 1,048,575 records under the caption row.
  {
    const int kRows = 1048575;
    const QString name = QDir(folder).filePath(QStringLiteral("million.xlsx"));
    {
      TStringGrid archive(11, 2);
      FillArchive(archive, kRows);
      std::printf("%d records (.xlsx, the most a sheet holds)\n", kRows);
      giSaveCount = kRows;
      Time("  save .xlsx", [&] { DataFiles::SaveFileAs(nullptr, name, &archive, giSaveCount); });
      std::printf("  .xlsx: %lld KiB\n", static_cast<long long>(QFileInfo(name).size() / 1024));
    }
    OpenInChild(name);
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
