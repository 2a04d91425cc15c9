#pragma once
// Working parameters shared by every window, the settings file
// SystemFile.ini, and the small conversions several windows use.
#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

#include "data/Conversions.h"

class TIniFile;

// ---- Working parameters -------------------------------------------------
extern std::int32_t iTestTime;      // load time of a live test, seconds
extern QString strCurrentStep;      // "100A" or "200A"
extern std::int32_t iCurrentStep;   // 0 = "100A", 1 = "200A"
extern QString strPhase;            // "单相" or "三相"
extern std::int32_t iPhase;         // 1 = single phase, 3 = three phases
extern std::int32_t iLastTestTime;  // snapshot taken when a test or its print starts
extern std::int32_t iLastCurrentStep;
extern std::int32_t iLastPhase;
extern QString strResultA;  // resistance texts of the last test, for the archive
extern QString strResultB;
extern QString strResultC;
// The same results in ohms as the instrument's frame gave them, where the
// texts are still those it gave (else empty), for the results history.
extern std::array<std::optional<double>, 3> gResultOhms;
extern QString strTestUser;  // at most 20 GBK bytes each
extern QString strTestAdd;
extern QString strDevice;
extern std::intptr_t giUsbHandle;   // USB bridge handle of device 0
extern std::int32_t giSaveCount;    // data rows of the archive table
extern std::int32_t giDataCount;    // data rows of the instrument table
extern bool gbConnected;            // the instrument answered the last connect
extern std::int32_t giCommStyle;    // 0 = USB bridge, other = serial line
extern std::int32_t giCommPort;     // n of COMn
extern std::int32_t giBaudRate;     // index 1..13 of the baud-rate list
extern std::int32_t giSaveScreen;   // 1 = restore the main window's rectangle
extern std::int32_t giScreenLeft;
extern std::int32_t giScreenTop;
extern std::int32_t giScreenWidth;
extern std::int32_t giScreenHeight;

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

// Resets every working parameter to its value before LoadSettings.
void ResetWorkingParameters();
void LoadSettings();
// Writes the nine keys of SetParam, RestParam and Communication; everything
// else in the file stays as it was. Throws EAppError when the file cannot be
// written.
void SaveSettings();

// ---- Conversions ----------------------------------------------------------
// A pause of ms milliseconds that keeps events flowing (sleeps while none is
// pending).
void Delay(std::uint16_t ms);
