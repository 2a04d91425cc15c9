#include "platform/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool InstallQtChineseTranslations(QCoreApplication& app) {
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  const QLocale chinese(QLocale::Chinese, QLocale::China);
  bool any = false;
  // qtbase: file, print, page set-up and colour dialogs, message box buttons.
  for (const char* catalog : {"qtbase", "qtserialport"}) {
    auto* t = new QTranslator(&app);
    if (t->load(chinese, QLatin1String(catalog), QStringLiteral("_"), folder)) {
      app.installTranslator(t);
      any = true;
    } else {
      delete t;
    }
  }
  return any;
}
