// The live test's chart over an hour: the processor time each frame costs
// (appending its points and drawing the chart) once 3,600 frames are drawn
// (goal: under 2 ms a frame).
#include <QApplication>
#include <QChart>
#include <QChartView>

#include <cstdio>
#include <ctime>

#include "data/TestSeries.h"
#include "forms/USeriesChart.h"

namespace {

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

TSeriesFrame Frame(int i) {
  TSeriesFrame f;
  f.seconds = i;
  f.ohms = {52.3e-6 + (i % 7) * 1e-9, 61.8e-6 - (i % 5) * 1e-9, 47.3e-6 + (i % 3) * 1e-9};
  f.current = 200.0 - (i % 4) * 0.1;
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  TSeriesChart chart = MakeSeriesChart(QStringLiteral("测试过程"));
  QChartView view(chart.Chart);
  view.resize(414, 272);
  view.show();
  std::printf("frames   CPU a frame (append + draw), ms\n");
  int done = 0;
  for (const int upTo : {60, 600, 3600, 3700}) {
    const int from = done;
    const double start = CpuMs();
    for (; done < upTo; ++done) {
      AppendFrame(chart, Frame(done + 1));
      view.repaint();
    }
    std::printf("%5d..%-5d %8.3f\n", from + 1, upTo, (CpuMs() - start) / (upTo - from));
  }
  return 0;
}
