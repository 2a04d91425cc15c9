#pragma once
// "选择设备": the serial devices the system has, with their stable names,
// USB descriptions and serial numbers, and those the settings already map;
// the operator picks the instrument's, or types the path of another
// ("其它设备…": a pseudo-terminal, a bridge) that is checked before it is
// taken.
#include <QDialog>

#include <vector>

#include "platform/SerialDevices.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

class TFrmChooseDevice : public QDialog {
  Q_OBJECT

 public:
  TFrmChooseDevice(const QString& current, QWidget* parent = nullptr);

  // Shows the list modally; the name to map the port to (the stable one when
  // the device has one), or empty when the operator cancels.
  static QString Choose(QWidget* parent, const QString& current);

  QString Chosen() const;
  // OK: a typed device is checked first; one that cannot be opened is
  // explained and the dialog stays.
  void Accept();

  QTreeWidget* lvDevices = nullptr;
  QPushButton* BtnOther = nullptr;
  QLineEdit* edtOther = nullptr;
  QLabel* lblHint = nullptr;
  QPushButton* BtnOK = nullptr;
  QPushButton* BtnCancel = nullptr;

 private:
  std::vector<TSerialDevice> FDevices;
};
