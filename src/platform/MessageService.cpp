#include "platform/MessageService.h"

#include <QApplication>
#include <QAbstractButton>
#include <QMessageBox>

namespace {

class TQtMessageService : public IMessageService {
 public:
  TMsgResult Show(QWidget* parent, const TMsgRequest& r) override {
    QMessageBox box(parent);
    box.setWindowTitle(r.caption);
    box.setText(r.text);
    switch (r.icon) {
      case TMsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
      case TMsgIcon::Information: box.setIcon(QMessageBox::Information); break;
      case TMsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
      case TMsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    }
    if (r.buttons == TMsgButtons::YesNo) {
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
      box.button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
      return box.exec() == QMessageBox::Yes ? TMsgResult::Yes : TMsgResult::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
    return TMsgResult::Ok;
  }
};

TQtMessageService gQtService;
IMessageService* gService = &gQtService;

}  // namespace

IMessageService& MessageService() { return *gService; }

void SetMessageService(IMessageService* service) { gService = service ? service : &gQtService; }

TMsgResult MsgBox(QWidget* parent, const QString& text, TMsgIcon icon, TMsgButtons buttons) {
  return MessageService().Show(parent, TMsgRequest{kMsgCaption, text, icon, buttons});
}

void ShowGeneralError(const QString& text) {
  MessageService().Show(QApplication::activeWindow(),
                        TMsgRequest{kAppTitle, text, TMsgIcon::Error, TMsgButtons::Ok});
}

void Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const EAppError& e) {
    ShowGeneralError(e.Text());
  } catch (const std::exception& e) {
    ShowGeneralError(QString::fromUtf8(e.what()));
  } catch (...) {
    ShowGeneralError(QStringLiteral("未知错误"));
  }
}
