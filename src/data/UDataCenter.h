#pragma once
// The working parameters the windows share, the settings file
// SystemFile.ini and the folders of the program's files.
#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

#include "data/Conversions.h"
#include "data/TestSeries.h"

class TIniFile;

// Byte limit of the tester, test place and device number, in GBK bytes.
constexpr int kShortTextBytes = 20;

// Values of the working parameters before the settings file is read, and
// for keys it lacks.
namespace Defaults {
inline constexpr std::int32_t kTestTime = 5;
inline const QString kCurrentStep = QStringLiteral("100A");
inline const QString kPhase = QStringLiteral("单相");
inline constexpr std::int32_t kCommStyle = 1;  // the serial line
inline constexpr std::int32_t kCommPort = 3;
inline constexpr std::int32_t kBaudRate = 6;   // 9600
}  // namespace Defaults

// ---- Working parameters -------------------------------------------------
// The state the windows share: the parameters of a live test, the results
// of the last one, the descriptive texts of archived rows, the row counters
// of the two tables, the connection, the communication settings and the
// window's rectangle. The main window holds them and hands them to whoever
// needs them; a new one holds the values before the settings file is read.
struct TWorkingParams {
  std::int32_t iTestTime = Defaults::kTestTime;   // load time of a live test, seconds
  QString strCurrentStep = Defaults::kCurrentStep;  // "100A" or "200A"
  std::int32_t iCurrentStep = 0;                  // 0 = "100A", 1 = "200A"
  QString strPhase = Defaults::kPhase;            // "单相" or "三相"
  std::int32_t iPhase = 1;                        // 1 = single phase, 3 = three phases
  std::int32_t iLastTestTime = 0;  // snapshot taken when a test or its print starts
  std::int32_t iLastCurrentStep = 0;
  std::int32_t iLastPhase = 0;
  QString strResultA;  // resistance texts of the last test, for the archive
  QString strResultB;
  QString strResultC;
  // The same results in ohms as the instrument's frame gave them, where the
  // texts are still those it gave (else empty), for the results history.
  std::array<std::optional<double>, 3> gResultOhms;
  // The course of the last test, for the results history.
  TTestSeries gResultSeries;
  QString strTestUser;  // at most 20 GBK bytes each
  QString strTestAdd;
  QString strDevice;
  std::intptr_t giUsbHandle = 0;   // USB bridge handle of device 0
  std::int32_t giSaveCount = 0;    // data rows of the archive table
  std::int32_t giDataCount = 0;    // data rows of the instrument table
  bool gbConnected = false;        // the instrument answered the last connect
  std::int32_t giCommStyle = Defaults::kCommStyle;  // 0 = USB bridge, other = serial line
  std::int32_t giCommPort = Defaults::kCommPort;    // n of COMn
  std::int32_t giBaudRate = Defaults::kBaudRate;    // index 1..13 of the baud-rate list
  std::int32_t giSaveScreen = 0;   // 1 = restore the main window's rectangle
  std::int32_t giScreenLeft = 0;
  std::int32_t giScreenTop = 0;
  std::int32_t giScreenWidth = 0;
  std::int32_t giScreenHeight = 0;
};

// ---- Files ----------------------------------------------------------------
// Folder of the running executable; tests point it at a scratch folder.
QString AppDir();
void SetAppDir(const QString& dir);  // empty restores the executable's folder
// Whether the settings and the records stay beside the executable: in a
// build tree or a portable copy, yes; not when the executable's folder is
// not writable or the program is installed (<prefix>/bin beside
// <prefix>/share/qk4820), and never when a test set the folder.
bool KeepsFilesBesideExecutable();
// The folder of SystemFile.ini: AppDir(), or ~/.config/qk4820 when the
// files are not kept beside the executable.
QString SettingsDir();
// The folder that holds "测试记录": AppDir(), or the user's documents folder.
QString RecordsParentDir();
// SettingsDir() + "/SystemFile.ini".
QString SettingsFileName();
// The settings file as one document in memory, read once (LoadSettings
// reads it afresh) and stored at the points that write it.
TIniFile& SettingsFile();

// Reads the working parameters from the settings file (read afresh).
void LoadSettings(TWorkingParams& params);
// Writes the nine keys of SetParam, RestParam and Communication; everything
// else in the file stays as it was. Throws EAppError when the file cannot be
// written.
void SaveSettings(const TWorkingParams& params);

// ---- Conversions ----------------------------------------------------------
// A pause of ms milliseconds that keeps events flowing (sleeps while none is
// pending).
void Delay(std::uint16_t ms);
