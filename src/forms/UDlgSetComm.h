#pragma once
// Communication settings: the COM port of both serial links and the baud
// rate of the blocking command transaction. The dialog changes only the
// working parameters giCommStyle, giCommPort and giBaudRate; they reach the
// settings file when the program saves its working parameters.
#include <QDialog>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

class TFrmSetComm : public QDialog {
  Q_OBJECT

 public:
  explicit TFrmSetComm(QWidget* parent = nullptr);

  // Creates the dialog, shows it modally and destroys it; the result is not
  // used.
  static void Execute(QWidget* parent);

  // Fills the lists and selects the working parameters' values.
  void FormCreate();
  // The port and rate lists are usable unless the transport list shows "USB".
  void cbCommStyleChange();
  // Stores the transport (always the serial line), the port and the rate.
  void BtnOKClick();

  QFrame* PanCommStyle = nullptr;  // transport panel, covered by PanComm
  QLabel* lblCommStyle = nullptr;
  QComboBox* cbCommStyle = nullptr;
  QFrame* PanComm = nullptr;
  QLabel* lblcommPort = nullptr;
  QComboBox* cbCommPort = nullptr;
  QLabel* lblBaudRate = nullptr;
  QComboBox* cbrate = nullptr;
  QPushButton* BtnOK = nullptr;
  QPushButton* BtnCancel = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  bool FPlaced = false;
};
