#include "data/UDataCenter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <memory>

#include "platform/EventPump.h"
#include "platform/Gbk.h"
#include "platform/IniFile.h"
#include "platform/Tick.h"

std::int32_t iTestTime = Defaults::kTestTime;
QString strCurrentStep = Defaults::kCurrentStep;
std::int32_t iCurrentStep = 0;
QString strPhase = Defaults::kPhase;
std::int32_t iPhase = 1;
std::int32_t iLastTestTime = 0;
std::int32_t iLastCurrentStep = 0;
std::int32_t iLastPhase = 0;
QString strResultA;
QString strResultB;
QString strResultC;
std::array<std::optional<double>, 3> gResultOhms;
QString strTestUser;
QString strTestAdd;
QString strDevice;
std::intptr_t giUsbHandle = 0;
std::int32_t giSaveCount = 0;
std::int32_t giDataCount = 0;
bool gbConnected = false;
std::int32_t giCommStyle = Defaults::kCommStyle;
std::int32_t giCommPort = Defaults::kCommPort;
std::int32_t giBaudRate = Defaults::kBaudRate;
std::int32_t giSaveScreen = 0;
std::int32_t giScreenLeft = 0;
std::int32_t giScreenTop = 0;
std::int32_t giScreenWidth = 0;
std::int32_t giScreenHeight = 0;

namespace {
QString gAppDir;

const QString kSetParam = QStringLiteral("SetParam");
const QString kRestParam = QStringLiteral("RestParam");
const QString kCommunication = QStringLiteral("Communication");
const QString kScreen = QStringLiteral("Screen");
}  // namespace

QString AppDir() {
  if (!gAppDir.isEmpty()) return gAppDir;
  return QCoreApplication::applicationDirPath();
}

void SetAppDir(const QString& dir) { gAppDir = dir; }

bool KeepsFilesBesideExecutable() {
  if (!gAppDir.isEmpty()) return true;
  const QString dir = AppDir();
  const bool installed = QFileInfo(dir).fileName() == QLatin1String("bin") &&
                         QFileInfo::exists(dir + QStringLiteral("/../share/qk4820"));
  return !installed && QFileInfo(dir).isWritable();
}

QString SettingsDir() {
  if (KeepsFilesBesideExecutable()) return AppDir();
  const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  const QString dir = QDir(config).filePath(QStringLiteral("qk4820"));
  QDir().mkpath(dir);  // a failure shows when the file is written
  return dir;
}

QString RecordsParentDir() {
  if (KeepsFilesBesideExecutable()) return AppDir();
  const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  return docs.isEmpty() ? QDir::homePath() : docs;
}

QString SettingsFileName() { return QDir(SettingsDir()).filePath(QStringLiteral("SystemFile.ini")); }

TIniFile& SettingsFile() {
  static std::unique_ptr<TIniFile> doc;
  const QString name = SettingsFileName();
  if (!doc || doc->FileName() != name) doc = std::make_unique<TIniFile>(name);
  return *doc;
}

void ResetWorkingParameters() {
  iTestTime = Defaults::kTestTime;
  strCurrentStep = Defaults::kCurrentStep;
  iCurrentStep = 0;
  strPhase = Defaults::kPhase;
  iPhase = 1;
  iLastTestTime = iLastCurrentStep = iLastPhase = 0;
  strResultA.clear();
  strResultB.clear();
  strResultC.clear();
  gResultOhms = {};
  strTestUser.clear();
  strTestAdd.clear();
  strDevice.clear();
  giUsbHandle = 0;
  giSaveCount = giDataCount = 0;
  gbConnected = false;
  giCommStyle = Defaults::kCommStyle;
  giCommPort = Defaults::kCommPort;
  giBaudRate = Defaults::kBaudRate;
  giSaveScreen = giScreenLeft = giScreenTop = giScreenWidth = giScreenHeight = 0;
}

void LoadSettings() {
  TIniFile& ini = SettingsFile();
  ini.Reload();
  strCurrentStep = ini.ReadString(kSetParam, QStringLiteral("strCurrentStep"), Defaults::kCurrentStep);
  strPhase = ini.ReadString(kSetParam, QStringLiteral("strPhase"), Defaults::kPhase);
  iTestTime = ini.ReadInteger(kSetParam, QStringLiteral("iTestTime"), Defaults::kTestTime);
  // Cut to the byte limit without splitting a double-byte character.
  strTestUser = GbkHead(ini.ReadString(kRestParam, QStringLiteral("strTestUser"), QString()), kShortTextBytes);
  strTestAdd = GbkHead(ini.ReadString(kRestParam, QStringLiteral("strTestAdd"), QString()), kShortTextBytes);
  strDevice = GbkHead(ini.ReadString(kRestParam, QStringLiteral("strDevice"), QString()), kShortTextBytes);
  // The blocking transaction always runs over the serial line; the stored
  // transport is written for the record but never read.
  giCommStyle = Defaults::kCommStyle;
  giCommPort = ini.ReadInteger(kCommunication, QStringLiteral("giCommPort"), Defaults::kCommPort);
  giBaudRate = ini.ReadInteger(kCommunication, QStringLiteral("giBaudRate"), Defaults::kBaudRate);
  giSaveScreen = ini.ReadInteger(kScreen, QStringLiteral("save"), 0);
  giScreenLeft = ini.ReadInteger(kScreen, QStringLiteral("left"), 0);
  giScreenTop = ini.ReadInteger(kScreen, QStringLiteral("top"), 0);
  giScreenWidth = ini.ReadInteger(kScreen, QStringLiteral("width"), 0);
  giScreenHeight = ini.ReadInteger(kScreen, QStringLiteral("height"), 0);
}

void SaveSettings() {
  TIniFile& ini = SettingsFile();
  ini.BeginUpdate();
  ini.WriteString(kSetParam, QStringLiteral("strCurrentStep"), strCurrentStep);
  ini.WriteString(kSetParam, QStringLiteral("strPhase"), strPhase);
  ini.WriteInteger(kSetParam, QStringLiteral("iTestTime"), iTestTime);
  ini.WriteString(kRestParam, QStringLiteral("strTestUser"), strTestUser);
  ini.WriteString(kRestParam, QStringLiteral("strTestAdd"), strTestAdd);
  ini.WriteString(kRestParam, QStringLiteral("strDevice"), strDevice);
  ini.WriteInteger(kCommunication, QStringLiteral("giCommStyle"), giCommStyle);
  ini.WriteInteger(kCommunication, QStringLiteral("giCommPort"), giCommPort);
  ini.WriteInteger(kCommunication, QStringLiteral("giBaudRate"), giBaudRate);
  ini.EndUpdate();
}

void Delay(std::uint16_t ms) {
  if (TickSource::InstantSleep()) {
    // Tests: events run once, the time passes at once.
    ProcessPendingEvents();
    SleepMs(ms);
    return;
  }
  const std::uint32_t start = GetTickCount();
  for (;;) {
    const std::uint32_t elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    PumpOrSleep(ms - elapsed);
  }
}

