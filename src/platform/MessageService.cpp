#include "platform/MessageService.h"

#include <QApplication>
#include <QAbstractButton>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

#include <memory>

namespace {

class TQtMessageService : public IMessageService {
 public:
  TMsgResult Show(QWidget* parent, const TMsgRequest& r) override {
    const std::unique_ptr<QMessageBox> box = MakeMessageBox(parent, r);
    const int answer = box->exec();
    if (r.buttons == TMsgButtons::YesNo) return answer == QMessageBox::Yes ? TMsgResult::Yes : TMsgResult::No;
    return TMsgResult::Ok;
  }
};

TQtMessageService gQtService;
IMessageService* gService = &gQtService;

}  // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const TMsgRequest& r) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setWindowTitle(r.caption);
  box->setText(r.text);
  if (!r.detail.isEmpty()) box->setInformativeText(r.detail);
  switch (r.icon) {
    case TMsgIcon::None: box->setIcon(QMessageBox::NoIcon); break;
    case TMsgIcon::Information: box->setIcon(QMessageBox::Information); break;
    case TMsgIcon::Warning: box->setIcon(QMessageBox::Warning); break;
    case TMsgIcon::Error: box->setIcon(QMessageBox::Critical); break;
  }
  if (r.buttons == TMsgButtons::YesNo) {
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->button(QMessageBox::Yes)->setText(r.yesText.isEmpty() ? QStringLiteral("是(&Y)") : r.yesText);
    box->button(QMessageBox::No)->setText(r.noText.isEmpty() ? QStringLiteral("否(&N)") : r.noText);
  } else {
    box->setStandardButtons(QMessageBox::Ok);
    box->button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
  }
  // A short message makes a narrow box whose title bar would shorten the
  // caption ("三通… 试仪"): the box is made wide enough for the whole caption,
  // the title bar's icon and buttons.
  if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
    const int width = CaptionWidth(r.caption);
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                  grid->columnCount());
  }
  return box;
}

int CaptionWidth(const QString& caption) {
  // The title bar's font is the window system's; a bold face a little larger
  // than the program's stands in for it, and 120 pixels for its icon and its
  // buttons.
  QFont f = QApplication::font();
  f.setBold(true);
  f.setPointSizeF(f.pointSizeF() * 1.2);
  return QFontMetrics(f).horizontalAdvance(caption) + 120;
}

IMessageService& MessageService() { return *gService; }

void SetMessageService(IMessageService* service) { gService = service ? service : &gQtService; }

TMsgResult MsgBox(QWidget* parent, const QString& text, TMsgIcon icon, TMsgButtons buttons) {
  return MessageService().Show(parent, TMsgRequest{kMsgCaption, text, icon, buttons});
}

TMsgResult MsgBoxWithDetail(QWidget* parent, const QString& text, const QString& detail, TMsgIcon icon) {
  TMsgRequest r{kMsgCaption, text, icon, TMsgButtons::Ok};
  r.detail = detail;
  return MessageService().Show(parent, r);
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
