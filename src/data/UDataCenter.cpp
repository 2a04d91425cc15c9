#include "data/UDataCenter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <memory>

#include "platform/EventPump.h"
#include "platform/FileIo.h"
#include "platform/Gbk.h"
#include "platform/IniFile.h"
#include "platform/Tick.h"

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
  // The folder holds the user's settings and results: the owner's alone. A
  // failure shows when a file is written.
  MakePrivateDir(dir);
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

void LoadSettings(TWorkingParams& p) {
  TIniFile& ini = SettingsFile();
  ini.Reload();
  p.strCurrentStep = ini.ReadString(kSetParam, QStringLiteral("strCurrentStep"), Defaults::kCurrentStep);
  p.strPhase = ini.ReadString(kSetParam, QStringLiteral("strPhase"), Defaults::kPhase);
  p.iTestTime = ini.ReadInteger(kSetParam, QStringLiteral("iTestTime"), Defaults::kTestTime);
  // Cut to the byte limit without splitting a double-byte character.
  p.strTestUser = GbkHead(ini.ReadString(kRestParam, QStringLiteral("strTestUser"), QString()), kShortTextBytes);
  p.strTestAdd = GbkHead(ini.ReadString(kRestParam, QStringLiteral("strTestAdd"), QString()), kShortTextBytes);
  p.strDevice = GbkHead(ini.ReadString(kRestParam, QStringLiteral("strDevice"), QString()), kShortTextBytes);
  // The blocking transaction always runs over the serial line; the stored
  // transport is written for the record but never read.
  p.giCommStyle = Defaults::kCommStyle;
  p.giCommPort = ini.ReadInteger(kCommunication, QStringLiteral("giCommPort"), Defaults::kCommPort);
  p.giBaudRate = ini.ReadInteger(kCommunication, QStringLiteral("giBaudRate"), Defaults::kBaudRate);
  p.giSaveScreen = ini.ReadInteger(kScreen, QStringLiteral("save"), 0);
  p.giScreenLeft = ini.ReadInteger(kScreen, QStringLiteral("left"), 0);
  p.giScreenTop = ini.ReadInteger(kScreen, QStringLiteral("top"), 0);
  p.giScreenWidth = ini.ReadInteger(kScreen, QStringLiteral("width"), 0);
  p.giScreenHeight = ini.ReadInteger(kScreen, QStringLiteral("height"), 0);
}

void SaveSettings(const TWorkingParams& p) {
  TIniFile& ini = SettingsFile();
  ini.BeginUpdate();
  ini.WriteString(kSetParam, QStringLiteral("strCurrentStep"), p.strCurrentStep);
  ini.WriteString(kSetParam, QStringLiteral("strPhase"), p.strPhase);
  ini.WriteInteger(kSetParam, QStringLiteral("iTestTime"), p.iTestTime);
  ini.WriteString(kRestParam, QStringLiteral("strTestUser"), p.strTestUser);
  ini.WriteString(kRestParam, QStringLiteral("strTestAdd"), p.strTestAdd);
  ini.WriteString(kRestParam, QStringLiteral("strDevice"), p.strDevice);
  ini.WriteInteger(kCommunication, QStringLiteral("giCommStyle"), p.giCommStyle);
  ini.WriteInteger(kCommunication, QStringLiteral("giCommPort"), p.giCommPort);
  ini.WriteInteger(kCommunication, QStringLiteral("giBaudRate"), p.giBaudRate);
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

