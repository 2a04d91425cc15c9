#pragma once
// Other settings: whether the main window remembers its position and size
// across runs. The option is the value save of section Screen in the
// settings file; this window reads it when created and writes it, as 1 or 0,
// whenever it is closed. Closing only hides the window; it lives until its
// owner is destroyed.
#include <QWidget>

class QCheckBox;
class QCloseEvent;
class QPushButton;

class TfrmOtherSetting : public QWidget {
  Q_OBJECT

 public:
  explicit TfrmOtherSetting(QWidget* owner = nullptr);

  // Creates a further window owned by owner and shows it without making it
  // modal.
  static TfrmOtherSetting* ShowNew(QWidget* owner);

  // Ticks the box when the file value is 1.
  void FormCreate();
  // Writes the box's state; throws EAppError naming the file when it cannot.
  void FormClose();
  // Ticking the box changes nothing until the window closes.
  void chkSaveClick() {}

  QCheckBox* chkSave = nullptr;
  QPushButton* btnClose = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  bool FPlaced = false;
};
