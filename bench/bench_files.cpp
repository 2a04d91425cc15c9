// Saving and opening archives of 10,000 and 100,000 records as text, CSV,
// Office Open XML and Excel 97-2003 files; prints the time of each step.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

#include "data/UDataCenter.h"
#include "data/UDataFiles.h"
#include "forms/UDlgProcess.h"
#include "platform/StringGrid.h"
#include "support/TestServices.h"

namespace {

const char* const kCaptions[11] = {"序号", "时间", "设备编号", "测试人员", "测试地点", "测试档位",
                                   "载流时间", "测试相", "测试电阻(A)", "测试电阻(B)", "测试电阻(C)"};

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

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  InstallProgressDialog();
  QTemporaryDir dir;
  SetAppDir(dir.path());
  TRecordingMessages messages;
  TScriptedDesktop desktop;

  const QString folder = DataFiles::DataFolder();
  bool allOk = true;
  for (const int kRows : {10000, 100000}) {
    TStringGrid archive(11, 2);
    FillArchive(archive, kRows);
    std::printf("%d records\n", kRows);
    struct TKind {
      const char* name;
      const char* suffix;
    };
    for (const TKind& k : {TKind{"text", "txt"}, TKind{"CSV", "csv"}, TKind{".xlsx", "xlsx"}, TKind{".xls", "xls"}}) {
      if (kRows > 65536 && QByteArray(k.suffix) == "xls") {
        std::printf("  .xls holds at most 65,536 rows: not measured\n");
        continue;
      }
      TStringGrid loaded(11, 2);
      for (int c = 0; c < 11; ++c) loaded.SetCells(c, 0, QString::fromUtf8(kCaptions[c]));
      const QString name = QDir(folder).filePath(QStringLiteral("bench.") + QLatin1String(k.suffix));
      giSaveCount = kRows;
      const QByteArray saveLabel = QByteArray("  save ") + k.name;
      const QByteArray openLabel = QByteArray("  open ") + k.name;
      Time(saveLabel.constData(), [&] { DataFiles::SaveFileAs(nullptr, name, &archive, DataFiles::TTableKind::Save); });
      Time(openLabel.constData(), [&] { DataFiles::OpenFile(nullptr, name, &loaded); });
      const bool ok = giSaveCount == kRows && loaded.Cells(10, kRows) == archive.Cells(10, kRows) &&
                      loaded.Cells(4, kRows) == archive.Cells(4, kRows);
      std::printf("  %s: %lld KiB, round trip %s\n", k.name, static_cast<long long>(QFileInfo(name).size() / 1024),
                  ok ? "ok" : "WRONG");
      allOk = allOk && ok;
    }
  }
  std::printf("messages shown: %lld (the spreadsheet save includes its 100 ms pause before the folder opens)\n",
              static_cast<long long>(messages.Boxes.size()));
  SetAppDir(QString());
  return allOk && messages.Boxes.isEmpty() ? 0 : 1;
}
