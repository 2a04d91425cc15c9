#pragma once
// File dialogs and the desktop's file browser. Tests replace the service to
// answer a dialog with a name (or a cancel) and to see which folder opened.
#include <QList>
#include <QPair>
#include <QString>

class QWidget;

struct TFileDialogRequest {
  QString title;
  QString initialDir;
  // Entries as pairs of a description and a pattern, in the order shown,
  // for example {"测试数据文件(*.xls)", "*.xls"}.
  QList<QPair<QString, QString>> filters;
  QString defaultSuffix;  // without the dot, added to a name typed without one
  QString proposedName;   // save dialog only
  bool mustExist = false;  // open dialog: the chosen file must exist
};

class IDesktopServices {
 public:
  virtual ~IDesktopServices() = default;
  // The chosen full file name, or an empty text when cancelled.
  virtual QString GetSaveFileName(QWidget* parent, const TFileDialogRequest& request) = 0;
  virtual QString GetOpenFileName(QWidget* parent, const TFileDialogRequest& request) = 0;
  // Shows the folder in the desktop's file browser.
  virtual void OpenFolder(const QString& folder) = 0;
};

IDesktopServices& DesktopServices();
// Replaces the service (not owned); nullptr restores the system one.
void SetDesktopServices(IDesktopServices* service);
