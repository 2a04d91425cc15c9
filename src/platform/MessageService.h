#pragma once
// Message boxes of the program. Every box goes through one service so that a
// test can read the text and icon of each box and answer Yes or No.
#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

class QWidget;

// The caption of every message box.
inline const QString kMsgCaption = QStringLiteral("三通道回路电阻测试仪");
// The application title, caption of the general error box.
inline const QString kAppTitle = QStringLiteral("QK4820回路电阻测试仪1.0");

enum class TMsgIcon { None, Information, Warning, Error };
enum class TMsgButtons { Ok, YesNo };
enum class TMsgResult { Ok, Yes, No };

struct TMsgRequest {
  QString caption;
  QString text;
  TMsgIcon icon = TMsgIcon::None;
  TMsgButtons buttons = TMsgButtons::Ok;
  // Shown under the text in a smaller face: why an operation failed.
  QString detail;
  // YesNo: the buttons' own words where "是"/"否" would not say what they do.
  QString yesText;
  QString noText;
};

class IMessageService {
 public:
  virtual ~IMessageService() = default;
  // Shows a modal box and returns the button pressed.
  virtual TMsgResult Show(QWidget* parent, const TMsgRequest& request) = 0;
};

class QMessageBox;

// The box the QMessageBox service shows for request, at least as wide as its
// caption needs (CaptionWidth).
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const TMsgRequest& request);
// Width a window needs for its whole caption in the title bar.
int CaptionWidth(const QString& caption);

// The service in force; a QMessageBox service unless replaced.
IMessageService& MessageService();
// Replaces the service (not owned); nullptr restores the QMessageBox one.
void SetMessageService(IMessageService* service);

// A box with the standard caption.
TMsgResult MsgBox(QWidget* parent, const QString& text, TMsgIcon icon = TMsgIcon::None,
                  TMsgButtons buttons = TMsgButtons::Ok);
// A box with the standard caption, an OK button and the reason under the text.
TMsgResult MsgBoxWithDetail(QWidget* parent, const QString& text, const QString& detail, TMsgIcon icon);

// An error raised by an operation of the program; its text is shown as it is.
class EAppError : public std::runtime_error {
 public:
  explicit EAppError(const QString& text) : std::runtime_error(text.toStdString()) {}
  QString Text() const { return QString::fromUtf8(what()); }
};

// The general error box: the error's own text, error icon, application title.
void ShowGeneralError(const QString& text);

// Runs an event handler; an error that no operation caught ends in the
// general error box instead of crossing the event loop.
void Guarded(const std::function<void()>& handler);
