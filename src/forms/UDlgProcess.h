#pragma once
// The small borderless progress window shown while a spreadsheet exchange
// runs: two vertical bars, a tip, a busy animation (a drum being struck) and
// a Cancel button. It does no work of its own; the running operation sets it
// and asks whether the operator has cancelled.
//
// While it lives, the window system cannot close it: close requests are
// refused and Esc presses Cancel. Only Release() (used by CloseProgress)
// closes it, and closing frees it. Callers keep it in a QPointer, so even a
// dialog destroyed behind the operation's back is never touched.
#include <QDialog>

#include <memory>

#include "platform/ProgressService.h"
#include <QList>
#include <QPixmap>
#include <QPointer>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

class TFrmProcess : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmProcess(QWidget* owner = nullptr);
  ~TFrmProcess() override;

  void SetCountRange(int min, int max);
  void SetProcessRange(int min, int max);
  void SetPositions(int count, int process);
  void SetTip(const QString& text);
  bool Cancelled() const { return FCancelled; }
  // Shows animation frame n (1..4; image index n - 1, clamped to 0..3).
  void ShowFrame(int n);

  int FrameIndex() const { return FFrameIndex; }
  // Image index of the picture shown now, -1 before the first frame.
  int ImageIndex() const { return FImageIndex; }
  // The four frames of the animation.
  const QList<QPixmap>& Frames() const { return FFrames; }

  // Closes and frees the dialog; the only way to close it.
  void Release();

 public slots:
  // One animation step, every 100 ms while events flow.
  void Timer1Timer();
  void BtnCancelClick();

 protected:
  void closeEvent(QCloseEvent* e) override;
  void reject() override;  // Esc: presses Cancel, never closes

 private:
  static QList<QPixmap> DrawFrames();

  QFrame* Panel1;
  QProgressBar* PBCount;
  QProgressBar* PBProcess;
  QLabel* Image1;
  QLabel* lblTip;
  QPushButton* BtnCancel;
  QTimer* Timer1;
  QList<QPixmap> FFrames;  // the image list

  int FFrameIndex = 1;
  int FImageIndex = -1;
  bool FCancelled = false;
  bool FReleasing = false;
};

// The progress steps around the dialog. UpdateProgress sets the bars, shows
// and repaints the dialog, lets events run for 10 ms and returns whether the
// operator cancelled (false once the dialog is gone). CloseProgress closes
// and frees it.
bool UpdateProgress(const QPointer<TFrmProcess>& dlg, int count, int process);
void CloseProgress(QPointer<TFrmProcess>& dlg);

// Makes the file operations show this dialog as their progress window (at
// owner, with tip, the count bar 1..2 and the process bar 1..3).
void InstallProgressDialog();
// The progress dialog as an operation's progress window, opened over owner.
std::unique_ptr<IProgressWindow> OpenProgressDialog(QWidget* owner, const QString& tip);
