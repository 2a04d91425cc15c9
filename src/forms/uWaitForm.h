#pragma once
// The wait notice: a small stay-on-top window with an animated picture and a
// one-line message, shown while the instrument works on a request that takes
// seconds. It never blocks: the caller keeps pumping events and removes it
// when its exchange ends. At most one notice exists at a time.
#include <QFont>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QFrame;
class QLabel;
class QTimer;

// "宋体" at the given pixel height, falling back to an installed CJK face.
QFont SongFont(int pixelHeight);

// Position modes: 0 = the caller places the notice; 4 and 5 centre it on the
// screen; every other mode centres it on the main window.
enum : int { kPosDesigned = 0, kPosScreenCenter = 4, kPosDesktopCenter = 5, kPosMainFormCenter = 6 };

class TfrmWait : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmWait(QWidget* parent = nullptr);

  QFrame* pnlTitle;
  QLabel* lblMessage;
  QLabel* Image1;
  QTimer* tmr;
  QPixmap ImageList1[4];  // animation frames 0..3
  QPixmap DesignPicture;  // shown until the first tick
  int FStep = 0;

  // Timer handler: next step, 1 to 4 in turn.
  void tmrTimer();
  // Shows animation frame step - 1 (limited to 0..3) at once.
  void ShowStep(int step);
  // Frame index shown now, -1 for the design picture.
  int ShownFrame() const { return FShownFrame; }

 protected:
  // Closing hides the notice and stops the animation; HideWait destroys it.
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  int FShownFrame = -1;
};

// Creates the notice when there is none, sets its message and place, shows it
// without making it modal, starts the animation and handles pending events
// once so that it is painted before the caller goes on.
void ShowWait(const QString& message, int positionMode, int top, int centreX);
// Destroys the notice; nothing happens when there is none.
void HideWait();
// The notice now shown, or null.
TfrmWait* CurrentWait();

// The standard place over owner: top = owner top + round(owner height / 4 *
// 2.5), centre x = owner left + round(owner width / 2), halves to the even
// neighbour.
void StandardWaitPlace(const QWidget* owner, int& top, int& centreX);
// ShowWait at the standard place of owner.
void ShowWaitOver(const QWidget* owner, const QString& message);
// Nearest integer, halves to the even neighbour.
int RoundHalfEven(double v);

// The notice while the instrument prints.
inline const QString kPrintingNotice = QStringLiteral("  请稍候，正在打印......");
