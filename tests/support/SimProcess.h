#pragma once
// Runs qk4820-sim on a pseudo-terminal for one test, in a scratch folder of
// its own, and reads back the frames it logged.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class TSimProcess {
 public:
  // extraArgs are passed after --link and --log.
  explicit TSimProcess(const QStringList& extraArgs = {});
  ~TSimProcess();

  bool Started() const { return FStarted; }
  // Symbolic link to the simulator's pty.
  QString LinkPath() const { return FDir.path() + "/ttyQK4820"; }
  QString LogPath() const { return FDir.path() + "/sim.log"; }
  QString Dir() const { return FDir.path(); }
  // Frames received so far, one upper-case hex line each ("F1 02").
  QStringList LogLines() const;
  // Waits (pumping events) until the log holds at least n lines or ms pass.
  bool WaitForLogLines(int n, int ms = 3000) const;
  // Step mode (--step): lets the next held live frame go.
  void ReleaseLiveFrame();
  // Stops the simulator (SIGTERM) and waits for it.
  void Stop();
  QString Output() const;

 private:
  QTemporaryDir FDir;
  std::unique_ptr<QProcess> FProc;
  bool FStarted = false;
};

// Writes a SystemFile.ini into dir that maps COM<port> to linkPath and sets
// giCommPort, and makes dir the program's folder (SetAppDir).
void UseSimulatorPort(const QString& dir, const QString& linkPath, int port = 3);

// The simulator every test folder starts: with args, on COM<port> of the
// settings of its own folder (which becomes the program's folder). Fails
// the current test, and gives a simulator that did not start, when it
// cannot start.
std::unique_ptr<TSimProcess> StartSimOnPort(const QStringList& args = {}, int port = 3);
