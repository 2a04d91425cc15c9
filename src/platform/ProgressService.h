#pragma once
// The progress window of long file operations, as the operations see it: a
// window that shows two steps and says whether the operator cancelled. The
// operations live below the windows; the window layer installs the real
// window (the progress dialog), and without it the operations run with none.
#include <QString>

#include <functional>
#include <memory>

class QWidget;

class IProgressWindow {
 public:
  virtual ~IProgressWindow() = default;
  // Shows step `process` of part `count`, lets the window be seen and
  // returns whether the operator has cancelled (false once the window has
  // gone).
  virtual bool Update(int count, int process) = 0;
  // Closes the window; Update then returns false.
  virtual void Close() = 0;
};

using TProgressFactory = std::function<std::unique_ptr<IProgressWindow>(QWidget* owner, const QString& tip)>;

// Opens a progress window over owner with tip; a window that shows nothing
// and is never cancelled when no factory is installed.
std::unique_ptr<IProgressWindow> OpenProgressWindow(QWidget* owner, const QString& tip);
// Installs the factory of the real window; an empty one removes it.
void SetProgressFactory(TProgressFactory factory);
