#pragma once
// Communication settings: the COM port of both serial links and the baud
// rate of the blocking command transaction. The dialog changes the working
// parameters giCommStyle, giCommPort and giBaudRate handed to it; they reach
// the settings file when the program saves its working parameters.
//
// Beside the port list it shows the device the chosen COM name resolves to;
// "选择设备…" maps the name to a device the system has. OK stores the
// mappings in [Ports] of the settings file; "退出" changes nothing.
#include <QDialog>
#include <QMap>

struct TWorkingParams;

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

class TFrmSetComm : public QDialog {
  Q_OBJECT

 public:
  explicit TFrmSetComm(TWorkingParams& params, QWidget* parent = nullptr);

  // Creates the dialog, shows it modally and destroys it; the result is not
  // used.
  static void Execute(TWorkingParams& params, QWidget* parent);

  // Fills the lists and selects the working parameters' values.
  void FormCreate();
  // The port and rate lists are usable unless the transport list shows "USB".
  void cbCommStyleChange();
  // Stores the transport (always the serial line), the port and the rate,
  // and the device mappings chosen.
  void BtnOKClick();
  // Shows the device the selected COM name resolves to.
  void ShowDevice();
  // Opens the device list; a device chosen is mapped to the selected name.
  void BtnChooseDeviceClick();
  // The device the name resolves to, with the mappings chosen so far.
  QString DeviceOf(const QString& portName) const;

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
  QLabel* lblDevice = nullptr;
  QPushButton* BtnChooseDevice = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TWorkingParams& FParams;
  bool FPlaced = false;
  QMap<QString, QString> FMapped;  // COM name -> device chosen, not yet stored
};
