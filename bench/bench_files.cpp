// Saving and opening an archive of 10,000 records as a text file and as a
// spreadsheet file; prints the time of each step.
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

constexpr int kRows = 10000;

const char* const kCaptions[11] = {"序号", "时间", "设备编号", "测试人员", "测试地点", "测试档位",
                                   "载流时间", "测试相", "测试电阻(A)", "测试电阻(B)", "测试电阻(C)"};

void FillArchive(TStringGrid& grid) {
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

  TStringGrid archive(11, 2);
  FillArchive(archive);
  TStringGrid loaded(11, 2);
  for (int c = 0; c < 11; ++c) loaded.SetCells(c, 0, QString::fromUtf8(kCaptions[c]));

  const QString folder = DataFiles::DataFolder();
  const QString text = QDir(folder).filePath(QStringLiteral("bench.txt"));
  const QString sheet = QDir(folder).filePath(QStringLiteral("bench.xls"));

  std::printf("%d records\n", kRows);
  Time("save text file", [&] { DataFiles::WriteTextFile(text, &archive, DataFiles::TTableKind::Save); });
  Time("open text file", [&] { DataFiles::ReadTextFile(nullptr, text, &loaded); });
  const bool textOk = giSaveCount == kRows && loaded.Cells(4, kRows) == archive.Cells(4, kRows);

  giSaveCount = kRows;
  Time("save spreadsheet (incl. 100 ms pause)",
       [&] { DataFiles::SaveToExcel(nullptr, sheet, &archive, DataFiles::TTableKind::Save); });
  Time("open spreadsheet", [&] { DataFiles::OpenFromExcel(nullptr, sheet, &loaded); });
  const bool sheetOk = giSaveCount == kRows && loaded.Cells(10, kRows) == archive.Cells(10, kRows) &&
                       loaded.Cells(0, 1) == QStringLiteral(" 1");

  std::printf("text file %lld bytes, spreadsheet %lld bytes\n", static_cast<long long>(QFileInfo(text).size()),
              static_cast<long long>(QFileInfo(sheet).size()));
  std::printf("round trips: text %s, spreadsheet %s; messages shown: %lld\n", textOk ? "ok" : "WRONG",
              sheetOk ? "ok" : "WRONG", static_cast<long long>(messages.Boxes.size()));
  SetAppDir(QString());
  return textOk && sheetOk && messages.Boxes.isEmpty() ? 0 : 1;
}
