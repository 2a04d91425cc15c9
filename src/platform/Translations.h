#pragma once
// The platform's own dialogs (file, print, page set-up, colour) speak Chinese
// like the rest of the program: Qt's Chinese translations are installed at
// start-up.
class QCoreApplication;

// Loads Qt's zh_CN translations from the system's Qt translation folder and
// installs them in app; false when they are not installed.
bool InstallQtChineseTranslations(QCoreApplication& app);
