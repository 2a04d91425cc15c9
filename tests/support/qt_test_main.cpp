// main() of every Qt test program: a QApplication on the offscreen platform
// unless the environment names another one.
#include <QApplication>

#include "platform/Translations.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  // As in the program: the platform's dialogs speak Chinese.
  InstallQtChineseTranslations(app);
  return RUN_ALL_TESTS();
}
