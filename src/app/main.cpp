// Program start: the command-line options (answered without a window), then
// the single-instance guard, application title, main window, event loop.
#include <QApplication>

#include "app/CommandLine.h"
#include "forms/UMain.h"
#include "platform/MessageService.h"  // kAppTitle
#include "platform/SingleInstance.h"
#include "platform/Translations.h"

int main(int argc, char** argv) {
  if (HasCommandLine(argc, argv)) return RunCommandLine(argc, argv);
  QApplication app(argc, argv);

  // Held from here to the end of the program. A second start only says so:
  // it creates no window and leaves the running copy's settings file alone.
  TSingleInstance guard(kInstanceName);
  if (!FirstInstanceOrNotice(guard)) return 0;

  QCoreApplication::setApplicationName(kAppTitle);
  InstallQtChineseTranslations(app);
  app.setQuitOnLastWindowClosed(false);

  int result = 0;
  {
    TFrmMain window;
    QObject::connect(&window, &TFrmMain::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    window.show();
    result = app.exec();
  }
  return result;
}
