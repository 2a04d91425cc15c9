#pragma once
// Runs a program to its end and tells what it took: its exit, its standard
// error, its peak resident memory and the time it ran. Memory is the
// kernel's own count for the child (wait4), not an estimate.
#include <QString>
#include <QStringList>

struct TMeasuredRun {
  bool finished = false;  // ended by itself within the time allowed
  int exitCode = -1;      // -1 when it ended by a signal
  int signal = 0;
  QString err;
  long peakKiB = 0;
  double seconds = 0;
};

// The environment has no display; QT_QPA_PLATFORM is removed. A child still
// running after timeoutMs is killed.
TMeasuredRun RunMeasured(const QString& program, const QStringList& args, int timeoutMs = 60000);
