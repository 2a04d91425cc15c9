#include "app/CommandLine.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QDir>

#include <cstdio>

#include "data/UDataCenter.h"
#include "platform/IniFile.h"
#include "platform/MessageService.h"
#include "platform/PortDiagnosis.h"
#include "platform/PortNames.h"
#include "platform/SerialDevices.h"
#include "platform/SerialPort.h"

#ifndef QK4820_VERSION
#define QK4820_VERSION "0"
#endif

namespace {

void Out(const QString& text) {
  const QByteArray b = (text + u'\n').toLocal8Bit();
  std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
}

void Err(const QString& text) {
  const QByteArray b = (text + u'\n').toLocal8Bit();
  std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
}

QString StateText(const TPortCheck& c) {
  switch (c.state) {
    case TPortState::Free: return QStringLiteral("可以打开");
    case TPortState::Missing: return QStringLiteral("不存在");
    case TPortState::NotPermitted: return QStringLiteral("当前用户无权读写");
    case TPortState::Held: {
      QStringList who;
      for (const TPortHolder& h : c.holders) who << QStringLiteral("%1（进程号 %2）").arg(h.name).arg(h.pid);
      return QStringLiteral("被 %1 占用").arg(who.join(QStringLiteral("、")));
    }
    case TPortState::NotADevice: return QStringLiteral("不是串口设备");
  }
  return {};
}

int Diagnose() {
  const QString settings = SettingsFileName();
  Out(QStringLiteral("QK4820 诊断"));
  Out(QStringLiteral("设置文件：%1（%2）")
          .arg(settings, QFileInfo::exists(settings) ? QStringLiteral("存在") : QStringLiteral("不存在，使用默认值")));
  Out(QStringLiteral("测试记录：%1").arg(QDir(RecordsParentDir()).filePath(QStringLiteral("测试记录"))));
  TWorkingParams params;
  LoadSettings(params);
  TIniFile& ini = SettingsFile();
  const QString port = QStringLiteral("COM%1").arg(params.giCommPort);

  Out(QStringLiteral("串口映射（[Ports]）："));
  const QStringList keys = ini.ReadSectionKeys(QStringLiteral("Ports"));
  if (keys.isEmpty()) Out(QStringLiteral("  无；COMn 对应 /dev/ttyS(n-1)"));
  for (const QString& key : keys) {
    const QString device = ResolvePortDevice(key, ini);
    const QString real = QFileInfo(device).canonicalFilePath();
    Out(QStringLiteral("  %1 → %2%3").arg(key, device, real.isEmpty() ? QStringLiteral("（不存在）")
                                                     : real == device ? QString()
                                                                      : QStringLiteral("（%1）").arg(real)));
  }

  Out(QStringLiteral("串口设备："));
  const std::vector<TSerialDevice> devices = SerialDevices();
  if (devices.empty()) Out(QStringLiteral("  无"));
  for (const TSerialDevice& d : devices) {
    const TPortCheck c = CheckPort(d.path);
    Out(QStringLiteral("  %1  %2 %3:%4  %5").arg(d.path, c.mode, c.owner, c.group, StateText(c)));
    if (!d.stableName.isEmpty()) Out(QStringLiteral("      固定名称：%1").arg(d.stableName));
    const QString what = QStringList{d.manufacturer, d.description, d.serialNumber}.join(u' ').simplified();
    if (!what.isEmpty()) Out(QStringLiteral("      说明：%1").arg(what));
  }

  const QString device = ResolvePortDevice(port, ini);
  Out(QStringLiteral("当前串口：%1 → %2").arg(port, device));
  auto serial = CreateSerialPort();
  serial->SetPort(port);
  serial->SetDeviceResolver([&](const QString&) { return device; });
  try {
    serial->Open();
    serial->Close();
    Out(QStringLiteral("结果：%1 可以打开").arg(port));
    return 0;
  } catch (const EAppError& e) {
    Out(QStringLiteral("结果：%1 不能打开").arg(port));
    for (const QString& line : e.Text().split(u'\n')) Out(QStringLiteral("  ") + line);
    return 1;
  }
}

}  // namespace

bool HasCommandLine(int argc, char** /*argv*/) { return argc > 1; }

int RunCommandLine(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  if (args.size() == 1 && args[0] == QLatin1String("--version")) {
    Out(QStringLiteral("qk4820 %1（%2）").arg(QStringLiteral(QK4820_VERSION), kAppTitle));
    return 0;
  }
  if (args.size() == 1 && args[0] == QLatin1String("--help")) {
    Out(QStringLiteral("用法：qk4820 [--diagnose | --version | --help]\n"
                       "不带参数时打开程序窗口。\n"
                       "  --diagnose  不打开窗口，列出设置文件、串口映射、本机串口设备及其权限和占用情况，\n"
                       "              并检查所设串口能否打开（能打开时退出码为 0）\n"
                       "  --version   显示版本\n"
                       "  --help      显示本说明"));
    return 0;
  }
  if (args.size() == 1 && args[0] == QLatin1String("--diagnose")) return Diagnose();
  Err(QStringLiteral("qk4820：不认识的参数“%1”。用 qk4820 --help 查看用法。").arg(args.join(u' ')));
  return 2;
}
