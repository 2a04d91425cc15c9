#pragma once
// The serial number of the instrument, read and written through the
// instrument link's blocking transaction on the channel the communication
// settings name. The number is 8 bytes, shown as 16 upper-case hexadecimal
// digits in wire order.
#include <QDialog>

#include "comm/UCommUnit.h"
#include "protocol/uProtocol.h"

class QLabel;
class QLineEdit;
class QPushButton;

class TFrmSeries : public QDialog {
  Q_OBJECT

 public:
  // settings: the channel of the exchanges (giCommStyle, giCommPort,
  // giBaudRate of the working parameters).
  explicit TFrmSeries(const TCommSettings& settings, QWidget* parent = nullptr);

  // Creates the dialog, shows it modally and destroys it when it is closed.
  static void Execute(const TCommSettings& settings, QWidget* parent);

  void BtnReadClick();
  void BtnSetClick();
  void BtnExitClick();
  void FormClose() {}

  // Turns an entry into number bytes from buffer position 1 on: characters
  // that are not hexadecimal digits are skipped, two adjacent digits make one
  // byte, a lone digit makes one byte and the position then skips the
  // character after it. Stops at the end of the buffer. Returns the number of
  // bytes written.
  static int ParseSeries(const QString& text, TBuffer& buffer);

  QLabel* lblSeries = nullptr;
  QLineEdit* EdtSeries = nullptr;
  QPushButton* BtnRead = nullptr;
  QPushButton* BtnSet = nullptr;
  QPushButton* BtnExit = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TCommSettings FSettings;
  bool FPlaced = false;
};
