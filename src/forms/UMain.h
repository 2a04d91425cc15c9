#pragma once
// The main window: toolbar of device and settings buttons, the archive and
// instrument tables on two tabs and the results history, the status bar with
// the connection state. It holds the working parameters and the instrument
// link, over which it and the test dialog talk to the instrument.
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "data/UDataCenter.h"
#include "history/HistoryService.h"
#include "history/ResultStore.h"

class ISerialPort;
class TInstrumentLink;
struct TTestContext;
class QFrame;
class QProgressBar;
class QPushButton;
class QTabWidget;
class TStringGrid;
struct TRecvF1;

// A status bar of fixed-width panels, drawn sunken, each with one text.
class TStatusBar : public QWidget {
  Q_OBJECT
 public:
  explicit TStatusBar(QWidget* parent = nullptr);

  void AddPanel(int width, bool ownerDraw = false);
  int PanelCount() const { return static_cast<int>(FPanels.size()); }
  QString PanelText(int i) const;
  void SetPanelText(int i, const QString& text);
  int PanelWidth(int i) const;
  void SetPanelWidth(int i, int width);
  // Rectangle of panel i inside the bar.
  QRect PanelRect(int i) const;
  // Called for every owner-drawn panel whenever the bar is laid out or
  // painted, with the panel's index and rectangle.
  std::function<void(int panel, const QRect& rect)> OnDrawPanel;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct TPanel {
    int width;
    bool ownerDraw;
    QString text;
  };
  void PlaceOwnerDrawn();
  std::vector<TPanel> FPanels;
};

class THistoryPage;

class TFrmMain : public QWidget {
  Q_OBJECT
 public:
  explicit TFrmMain(QWidget* parent = nullptr);
  ~TFrmMain() override;

  // Controls, named as their object names.
  QFrame* Panel1;
  QPushButton* btnUpdateList;
  QPushButton* BtnTest;
  QPushButton* BtnSetComm;
  QPushButton* btnOtherSetting;
  QPushButton* BtnExit;
  QTabWidget* pgc;
  QWidget* tsSave;
  TStringGrid* SGSave;
  QFrame* Panel3;
  QPushButton* BtnOpen;
  QPushButton* btnSaveExcel;
  QPushButton* btnPrintSave;
  QPushButton* btnClearSave;
  QWidget* tsMachine;
  THistoryPage* tsHistory = nullptr;  // "历史记录"
  TStringGrid* SGData;
  QProgressBar* ProgressBar1;
  QFrame* Panel2;
  QPushButton* BtnSampleData;
  QPushButton* BtnClearData;
  QPushButton* btnMachinePrint;
  QPushButton* BtnPrint;
  QPushButton* BtnSave;
  TStatusBar* StatusBar1;
  QProgressBar* PBar;  // hidden; no operation shows it

  // ---- Working parameters and the instrument link -------------------------------
  // The state the windows share (UDataCenter.h), loaded from the settings
  // file at creation and saved at destruction.
  TWorkingParams Params;
  TInstrumentLink& Link() const { return *FLink; }
  ISerialPort* ComPort() const;
  // Opens the link on the port of the settings ("COM" + giCommPort). On
  // failure returns false with the error text "端口不存在，或端口已被打开。"
  // and, in detail, the device tried and why it failed.
  bool OpenPort(QString& errorText, QString* detail = nullptr);
  // OpenPort; on failure its error text in a warning box over box (the main
  // window when null), and false.
  bool OpenPortOrWarn(QWidget* box = nullptr);
  void ClosePort();
  // Status panel 2: the port in use and its device ("COM3 → /dev/ttyUSB0"),
  // as wide as the text needs.
  void ShowPortInUse();
  // What the test dialog works with: these parameters and this link, and
  // the archive of this window.
  TTestContext TestContext();

  // ---- Instrument operations, tables, state ---------------------------------
  // Identification request; true when the instrument answered.
  bool ConnectDevice();
  void EnableButtons();
  void ResetState();
  void SetupGrids();
  // Appends the last test's result as a row of the archive table.
  void ArchiveResult();
  // An instrument exchange of the main window is under way.
  bool Busy() const { return FBusy; }

  // ---- Results history ------------------------------------------------------
  // The history (results.sqlite beside the settings file, and the team
  // database the settings name), opened at first use.
  THistoryService& HistoryService();
  // The store the history tab reads; null when it cannot be opened
  // (HistoryError() says why).
  TResultStore* History();
  QString HistoryError();
  // Stores rows in the history. A store that cannot be written leaves the
  // operation as it was; the operator is told every time, with the reason.
  void StoreUploaded(const std::vector<QStringList>& rows, const std::vector<TOhms>& ohms);
  // series: the test's course as text (empty: none).
  void StoreArchived(const QStringList& row, const TStartParams& start, const TOhms& ohms, const QDateTime& time,
                     const QString& series = QString());
  // The settings of the team database changed.
  void HistorySettingsChanged();

 signals:
  // The window has closed; the program ends.
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  friend class TBusyScope;

  void FormCreate();
  void FormClose();
  void FormDestroy();
  void BuildControls();
  void ApplySavedRect();
  void FillDataRow(int row, const TRecvF1& record);

  void BtnExitClick();
  void btnUpdateListClick();
  void BtnSampleDataClick();
  void BtnClearDataClick();
  void btnMachinePrintClick();
  void BtnTestClick();
  void btnClearSaveClick();
  void StatusBar1DrawPanel(int panel, const QRect& rect);

  // Opens a data file into SGSave (text file or spreadsheet).
  void BtnOpenClick();
  // Saves SGSave to a text file or spreadsheet.
  void btnSaveExcelClick();
  // Saves SGData to a text file or spreadsheet.
  void BtnSaveClick();
  // Prints SGSave as a report with preview.
  void btnPrintSaveClick();
  // Prints SGData as a report with preview.
  void BtnPrintClick();
  // Opens the communication settings dialog modally.
  void BtnSetCommClick();
  // Opens a new other-settings dialog beside the main window.
  void btnOtherSettingClick();
  // Opens the serial-number dialog modally (Ctrl+Alt+S; no button).
  void BtnSeriesClick();
  // Creates the report object at window creation.
  void CreateReport();
  // Releases the report object's rows and frees it when the window closes.
  void FreeReport();

  std::unique_ptr<TInstrumentLink> FLink;
  // Only one instrument exchange may be outstanding, since the reply
  // assembler awaits a single reply kind. While an operation waits the
  // window keeps handling events, so its buttons stay clickable: a click on
  // another instrument operation during that time is ignored (see
  // TBusyScope).
  bool FBusy = false;
  // A close requested during an operation takes effect when it ends.
  bool FCloseWhenIdle = false;
  bool FClosed = false;

  // Stores results in the history; a failure is told with its reason.
  void StoreInHistory(const std::vector<TNewResult>& results);
  // Tells of damage found in the history's file, once.
  void ShowHistoryDamage();
  std::unique_ptr<THistoryService> FHistory;
  bool FDamageShown = false;
};

extern TFrmMain* FrmMain;


// Header texts of the two record tables, columns 0 to 10.
QStringList RecordGridHeaders();

// Texts of the main window.
inline const QString kMainCaption = QStringLiteral("三通道回路电阻测试仪1.2");
inline const QString kDisconnected = QStringLiteral("设备已断开！");
inline const QString kConnected = QStringLiteral("已连接");

