#pragma once
// "选择设备": the serial devices the system has, with their stable names,
// USB descriptions and serial numbers; the operator picks the instrument's.
#include <QDialog>

#include <vector>

#include "platform/SerialDevices.h"

class QLabel;
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

  QTreeWidget* lvDevices = nullptr;
  QLabel* lblHint = nullptr;
  QPushButton* BtnOK = nullptr;
  QPushButton* BtnCancel = nullptr;

 private:
  std::vector<TSerialDevice> FDevices;
};
