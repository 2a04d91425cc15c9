#include "platform/SerialPort.h"


#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSerialPort>

#include <sys/file.h>

#include "platform/PortDiagnosis.h"

#include "platform/MessageService.h"

namespace {

// How long one write may take before it counts as failed. The frames of the
// instrument line are at most a few bytes; at 9600 baud a byte takes about
// one millisecond.
int WriteTimeoutMs(int count) { return 2000 + count * 2; }

// What the operator can do about a failure of the open line, in words; the
// system's own text follows as a detail.
QString LineCause(QSerialPort::SerialPortError e) {
  switch (e) {
    case QSerialPort::TimeoutError: return QStringLiteral("写入超时，设备无响应，请检查连线");
    case QSerialPort::PermissionError: return QStringLiteral("权限不足");
    case QSerialPort::DeviceNotFoundError: return QStringLiteral("设备不存在");
    default: return QStringLiteral("设备已拔出或断开，请检查连线后重新连接设备");
  }
}

class TQtSerialPort : public QObject, public ISerialPort {
 public:
  // Owned by its unique_ptr alone, never by a QObject parent.
  TQtSerialPort() : FPort(new QSerialPort(this)) {
    QObject::connect(FPort, &QSerialPort::readyRead, this, [this] { ReadyRead(); });
    QObject::connect(FPort, &QSerialPort::errorOccurred, this,
                     [this](QSerialPort::SerialPortError e) { ErrorOccurred(e); });
  }
  ~TQtSerialPort() override { Close(); }

  void SetPort(const QString& name) override { FName = name; }
  QString Port() const override { return FName; }
  void SetBaudRate(int baud) override { FBaud = baud; }
  void SetDataBits(int bits) override { FDataBits = bits; }
  void SetParity(TParity parity) override { FParity = parity; }
  void SetStopBits(TStopBits stopBits) override { FStopBits = stopBits; }
  void SetDeviceResolver(std::function<QString(const QString&)> resolver) override {
    FResolver = std::move(resolver);
  }

  void Open() override {
    Close();
    FLineError.clear();
    FClosing = false;
    const QString device = FResolver ? FResolver(FName) : FName;
    FPort->setPortName(device);
    FPort->setBaudRate(FBaud);
    FPort->setDataBits(DataBits());
    FPort->setParity(Parity());
    FPort->setStopBits(StopBits());
    FPort->setFlowControl(QSerialPort::NoFlowControl);
    FPort->clearError();
    // A program that holds the device would take the instrument's replies:
    // the port is not shared.
    TPortCheck check;
    check.device = device;
    check.holders = PortHolders(device);
    if (!check.holders.empty()) {
      check.state = TPortState::Held;
      throw EAppError(check.Explanation());
    }
    if (!FPort->open(QIODevice::ReadWrite)) {
      const QString why = FPort->errorString();
      FPort->clearError();
      throw EAppError(CheckPort(device).Explanation() + QStringLiteral("\n（%1）").arg(why));
    }
    // Held exclusively while open, the way other serial programs on Linux
    // lock a line (flock on the descriptor).
    if (::flock(int(FPort->handle()), LOCK_EX | LOCK_NB) != 0) {
      FPort->close();
      check.state = TPortState::Held;
      check.holders = PortHolders(device);
      if (check.holders.empty()) throw EAppError(QStringLiteral("设备：%1\n原因：另一个程序锁定了这个设备").arg(device));
      throw EAppError(check.Explanation());
    }
    // Pseudo-terminals and some adapters have no modem lines; the line works
    // without them.
    FPort->setDataTerminalReady(true);
    FPort->setRequestToSend(true);
    // Bytes that the other end sent while the port was closed belong to no
    // exchange of this opening.
    FPort->clear(QSerialPort::Input);
    FPort->clearError();
  }

  void Close() override {
    if (FPort->isOpen()) FPort->close();
  }

  bool IsOpen() const override { return FPort->isOpen(); }

  void Write(const std::uint8_t* data, int count) override {
    if (count <= 0) return;
    if (!FLineError.isEmpty()) throw EAppError(FLineError);
    if (!FPort->isOpen()) throw EAppError(QStringLiteral("串口%1未打开。").arg(FName));
    const qint64 queued = FPort->write(reinterpret_cast<const char*>(data), count);
    if (queued != count) FailWrite();
    QElapsedTimer t;
    t.start();
    const int limit = WriteTimeoutMs(count);
    // Received data may be delivered (OnRxChar) while this waits.
    while (FPort->isOpen() && FPort->bytesToWrite() > 0) {
      const qint64 left = limit - t.elapsed();
      if (left <= 0 || !FPort->waitForBytesWritten(static_cast<int>(left))) FailWrite();
    }
    if (!FLineError.isEmpty()) throw EAppError(FLineError);
  }

  TBuffer Read(int count) override {
    if (count <= 0 || !FPort->isOpen()) return {};
    const QByteArray b = FPort->read(count);
    return TBuffer(reinterpret_cast<const std::uint8_t*>(b.constData()),
                   reinterpret_cast<const std::uint8_t*>(b.constData()) + b.size());
  }

  int InputCount() const override {
    return FPort->isOpen() ? static_cast<int>(FPort->bytesAvailable()) : 0;
  }

  QString LineError() const override { return FLineError; }

 private:
  QSerialPort::DataBits DataBits() const {
    switch (FDataBits) {
      case 5: return QSerialPort::Data5;
      case 6: return QSerialPort::Data6;
      case 7: return QSerialPort::Data7;
      default: return QSerialPort::Data8;
    }
  }
  QSerialPort::Parity Parity() const {
    switch (FParity) {
      case TParity::Odd: return QSerialPort::OddParity;
      case TParity::Even: return QSerialPort::EvenParity;
      case TParity::Mark: return QSerialPort::MarkParity;
      case TParity::Space: return QSerialPort::SpaceParity;
      default: return QSerialPort::NoParity;
    }
  }
  QSerialPort::StopBits StopBits() const {
    switch (FStopBits) {
      case TStopBits::OnePointFive: return QSerialPort::OneAndHalfStop;
      case TStopBits::Two: return QSerialPort::TwoStop;
      default: return QSerialPort::OneStop;
    }
  }

  [[noreturn]] void FailWrite() {
    const QString why = QStringLiteral("%1（%2）").arg(LineCause(FPort->error()), FPort->errorString());
    if (FLineError.isEmpty()) FLineError = QStringLiteral("串口%1写入失败：%2").arg(FName, why);
    const QString text = FLineError;
    FPort->clearError();
    Close();
    throw EAppError(text);
  }

  void ReadyRead() {
    const int n = static_cast<int>(FPort->bytesAvailable());
    if (n > 0 && OnRxChar) OnRxChar(n);
  }

  void ErrorOccurred(QSerialPort::SerialPortError e) {
    if (e != QSerialPort::ResourceError && e != QSerialPort::ReadError) return;
    if (!FPort->isOpen()) return;
    if (FLineError.isEmpty()) {
      FLineError = QStringLiteral("串口%1通讯中断：%2（%3）").arg(FName, LineCause(e), FPort->errorString());
    }
    // The port cannot be closed from inside its own notification: close it
    // as soon as control is back in the event loop. Until then a hung-up
    // device may report again; those reports change nothing.
    if (FClosing) return;
    FClosing = true;
    QPointer<QObject> self(this);
    QMetaObject::invokeMethod(
        this,
        [this, self] {
          if (!self) return;
          FClosing = false;
          if (!FPort->isOpen()) return;
          FPort->clearError();
          Close();
          if (OnLineError) OnLineError(FLineError);
        },
        Qt::QueuedConnection);
  }

  QSerialPort* FPort;
  QString FName = QStringLiteral("COM1");
  int FBaud = 9600;
  int FDataBits = 8;
  TParity FParity = TParity::None;
  TStopBits FStopBits = TStopBits::One;
  std::function<QString(const QString&)> FResolver;
  QString FLineError;
  bool FClosing = false;
};

std::function<std::unique_ptr<ISerialPort>(QObject*)>& Factory() {
  static std::function<std::unique_ptr<ISerialPort>(QObject*)> f;
  return f;
}

}  // namespace

std::unique_ptr<ISerialPort> CreateSerialPort(QObject* context) {
  if (Factory()) return Factory()(context);
  return std::make_unique<TQtSerialPort>();
}

void SetSerialPortFactory(std::function<std::unique_ptr<ISerialPort>(QObject*)> factory) {
  Factory() = std::move(factory);
}
