#pragma once
// Services that answer for the user in tests: message boxes are recorded and
// answered from a queue, file dialogs return prepared names, folders opened
// are remembered.
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

#include "platform/DesktopServices.h"
#include "platform/MessageService.h"

class TRecordingMessages : public IMessageService {
 public:
  TRecordingMessages() { SetMessageService(this); }
  ~TRecordingMessages() override { SetMessageService(nullptr); }

  TMsgResult Show(QWidget* parent, const TMsgRequest& request) override;

  QList<TMsgRequest> Boxes;
  // Answers for Yes/No boxes, taken from the front; No when empty.
  QList<TMsgResult> Answers;
  // Called while a box "is shown", before it is answered.
  std::function<void(const TMsgRequest&)> OnShow;

  QStringList Texts() const;
  void Clear() { Boxes.clear(); }
};

class TScriptedDesktop : public IDesktopServices {
 public:
  TScriptedDesktop() { SetDesktopServices(this); }
  ~TScriptedDesktop() override { SetDesktopServices(nullptr); }

  QString GetSaveFileName(QWidget*, const TFileDialogRequest& r) override;
  QString GetOpenFileName(QWidget*, const TFileDialogRequest& r) override;
  void OpenFolder(const QString& folder) override { OpenedFolders << folder; }

  // Names returned by the next dialogs (empty text = cancel), from the front.
  QStringList SaveNames;
  QStringList OpenNames;
  QList<TFileDialogRequest> Requests;
  QStringList OpenedFolders;
};
