// Report of an archive of ROWS rows (default 10,000): how long the print
// button takes until the preview shows its first page (goal: under 0.3 s at
// any size), with the steps inside, how long printing all pages to a PDF file
// takes a page, and the peak memory of the whole run.
//   bench_report [ROWS]
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <malloc.h>
#include <cstdlib>

#include "data/UDataCenter.h"
#include "forms/UDlgPreview.h"
#include "forms/UQRMain.h"
#include "report/ReportEngine.h"
#include "report/ReportPreview.h"
#include "platform/StringGrid.h"
#include "support/ReportSupport.h"
#include "support/TestServices.h"

namespace {

int kRows = 10000;

// Peak resident memory of this process so far, MiB.
long PeakMiB() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').front().toLong() / 1024;
  }
  return -1;
}

void Fill(TStringGrid& grid) {
  std::vector<QStringList> rows;
  rows.reserve(kRows);
  for (int r = 1; r <= kRows; ++r) {
    rows.push_back({QString::asprintf("%2d", r),
                    QStringLiteral("24-05-%1 %2:%3")
                        .arg(1 + r % 28, 2, 10, QChar('0'))
                        .arg(r / 60 % 24, 2, 10, QChar('0'))
                        .arg(r % 60, 2, 10, QChar('0')),
                    QStringLiteral("QK%1").arg(r, 5, 10, QChar('0')), QStringLiteral("张工"),
                    QStringLiteral("城东变电站"), QStringLiteral("200A"), QStringLiteral("30 秒"),
                    QStringLiteral("三相"), QStringLiteral("%1.25μΩ").arg(r % 900),
                    QStringLiteral("%1.50μΩ").arg(r % 800), QStringLiteral("%1.75μΩ").arg(r % 700)});
  }
  grid.ReplaceDataRows(std::move(rows));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc > 1) kRows = std::max(1, std::atoi(argv[1]));
  TRecordingMessages messages;
  TScriptedPrintDialogs dialogs;
  QTemporaryDir dir;

  TStringGrid SGSave(11, 2);
  Fill(SGSave);
  const std::int32_t giSaveCount = kRows;
  CreateReport();

  // The peak memory from here on: the archive's table is in memory, what
  // the press adds is measured (the filling above peaks higher).
  malloc_trim(0);  // what the filling freed goes back first
  {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) clear.write("5");
  }
  std::printf("archive table of %d rows in memory: %ld MiB\n", kRows, PeakMiB());

  // The whole press of the print button until page 1 is on screen, then a
  // print of all pages to PDF from the preview.
  qint64 openMs = -1;
  qint64 printMs = -1;
  long shownMiB = -1;
  int pageCount = 0;
  const QString pdf = dir.filePath(QStringLiteral("archive.pdf"));
  QElapsedTimer press;
  QTimer::singleShot(0, [&] {
    TFrmPreview* w = OpenPreview();
    if (!w) return;
    w->repaint();
    openMs = press.elapsed();
    shownMiB = PeakMiB();
    pageCount = w->PageCount;
    // QK_BENCH_NO_PDF=1: page 1 only.
    if (!qEnvironmentVariableIsSet("QK_BENCH_NO_PDF")) {
      dialogs.PdfFiles << pdf;
      QElapsedTimer p;
      p.start();
      w->tbPrinter->click();
      printMs = p.elapsed();
    }
    w->tbExit->click();
  });
  press.start();
  PrintSaveGrid(nullptr, SGSave, giSaveCount);
  const qint64 closedMs = press.elapsed();
  {
    // Every page, laid out again (as printing does).
    const std::shared_ptr<TQRPageSource> plan = QRMain->Paginate(QRMain->Printer().pageLayout());
    plan->Extend(TDeadline::Never());
    pageCount = plan->PageCount();
  }

  std::printf("rows %d, pages %d\n", kRows, pageCount);
  std::printf("page 1 shown: %lld ms (print button to the first page on screen; goal < 300 ms)%s\n",
              static_cast<long long>(openMs), openMs >= 0 && openMs < 300 ? "" : "  ** over goal **");
  std::printf("  peak memory with page 1 shown:  %6ld MiB\n", shownMiB);
  std::printf("print all pages to PDF:           %6lld ms, %.2f ms a page (%lld KiB)\n",
              static_cast<long long>(printMs), pageCount > 0 ? double(printMs) / pageCount : 0.0,
              static_cast<long long>(QFileInfo(pdf).size() / 1024));
  std::printf("  peak memory after the PDF:      %6ld MiB\n", PeakMiB());
  std::printf("print button returned after:      %6lld ms\n", static_cast<long long>(closedMs));

  // The steps one by one (QK_BENCH_STEPS=1): composing all pages at once
  // holds them all in memory, so it comes after the figures above.
  if (qEnvironmentVariableIsSet("QK_BENCH_STEPS")) {
    QElapsedTimer t;
    t.start();
    LoadReport(SGSave, giSaveCount);
    const qint64 loadMs = t.restart();
    const QPageLayout layout = QRMain->Printer().pageLayout();
    const size_t pages = QRMain->Generate(layout).size();
    const qint64 composeMs = t.restart();
    std::printf("  copy the table into the report: %6lld ms\n", static_cast<long long>(loadMs));
    std::printf("  compose all %zu pages at once:  %6lld ms\n", pages, static_cast<long long>(composeMs));
  }
  if (!messages.Boxes.isEmpty()) std::printf("messages: %s\n", qPrintable(messages.Texts().join('|')));
  // QK_BENCH_KEEP_PDF=FILE keeps a copy of the PDF to look at.
  const QString keep = qEnvironmentVariable("QK_BENCH_KEEP_PDF");
  if (!keep.isEmpty()) QFile::copy(pdf, keep);
  FreeReport();
  return openMs >= 0 ? 0 : 1;
}
