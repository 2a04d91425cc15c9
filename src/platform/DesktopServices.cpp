#include "platform/DesktopServices.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

namespace {

// The dialog shows each entry as its description. A description that already
// ends with its pattern in brackets ("测试数据文件(*.xls)") is shown as it is;
// otherwise the pattern is added so the dialog can filter by it.
QString FilterText(const TFileDialogRequest& r) {
  QStringList parts;
  for (const auto& f : r.filters) {
    if (f.first.endsWith(QLatin1Char('(') + f.second + QLatin1Char(')')))
      parts << f.first;
    else
      parts << QStringLiteral("%1 (%2)").arg(f.first, f.second);
  }
  return parts.join(QStringLiteral(";;"));
}

QString WithSuffix(const QString& name, const QString& suffix) {
  if (name.isEmpty() || suffix.isEmpty()) return name;
  if (!QFileInfo(name).suffix().isEmpty()) return name;
  return name + QLatin1Char('.') + suffix;
}

class TSystemDesktopServices : public IDesktopServices {
 public:
  QString GetSaveFileName(QWidget* parent, const TFileDialogRequest& r) override {
    QFileDialog dlg(parent, r.title, r.initialDir, FilterText(r));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    // A chosen file is replaced without a question, as the save operations
    // have always done.
    dlg.setOption(QFileDialog::DontConfirmOverwrite);
    dlg.setDefaultSuffix(r.defaultSuffix);
    if (!r.proposedName.isEmpty()) dlg.selectFile(r.proposedName);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    return WithSuffix(dlg.selectedFiles().first(), r.defaultSuffix);
  }
  QString GetOpenFileName(QWidget* parent, const TFileDialogRequest& r) override {
    QFileDialog dlg(parent, r.title, r.initialDir, FilterText(r));
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(r.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dlg.setDefaultSuffix(r.defaultSuffix);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    return dlg.selectedFiles().first();
  }
  void OpenFolder(const QString& folder) override {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(folder).absolutePath()));
  }
};

TSystemDesktopServices gSystem;
IDesktopServices* gServices = &gSystem;

}  // namespace

IDesktopServices& DesktopServices() { return *gServices; }

void SetDesktopServices(IDesktopServices* service) { gServices = service ? service : &gSystem; }
