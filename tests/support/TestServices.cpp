#include "support/TestServices.h"

TMsgResult TRecordingMessages::Show(QWidget*, const TMsgRequest& request) {
  Boxes << request;
  if (OnShow) OnShow(request);
  if (request.buttons == TMsgButtons::YesNo) {
    return Answers.isEmpty() ? TMsgResult::No : Answers.takeFirst();
  }
  return TMsgResult::Ok;
}

QStringList TRecordingMessages::Texts() const {
  QStringList out;
  for (const auto& b : Boxes) out << b.text;
  return out;
}

QString TScriptedDesktop::GetSaveFileName(QWidget*, const TFileDialogRequest& r) {
  Requests << r;
  return SaveNames.isEmpty() ? QString() : SaveNames.takeFirst();
}

QString TScriptedDesktop::GetOpenFileName(QWidget*, const TFileDialogRequest& r) {
  Requests << r;
  return OpenNames.isEmpty() ? QString() : OpenNames.takeFirst();
}
