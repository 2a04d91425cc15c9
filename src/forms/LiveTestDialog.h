#pragma once
// The test dialog: parameters of a live test (current range, phase mode, load
// time), the descriptive fields that travel with every archived row (device
// number, tester, test place) and the live values of a running test. It
// talks to the instrument through the instrument link, keeps its entries in
// the working parameters and archives through its owner.
#include <QDialog>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

#include "data/TestSeries.h"
#include "data/UDataCenter.h"

class TInstrumentLink;
struct TRecvFA;

// What the dialog works with.
struct TTestContext {
  TWorkingParams* params = nullptr;
  // The instrument; none: the entries can be checked, no test runs.
  TInstrumentLink* link = nullptr;
  // Appends the last test's result to the archive table.
  std::function<void()> archive;
  // Brings the archive page into view.
  std::function<void()> showArchive;
  // Opens the link on the port of the settings; on failure says why in a
  // box over the window given, and false.
  std::function<bool(QWidget* box)> openPort;
};

class QChartView;
struct TSeriesChart;
class QComboBox;
class QFrame;
class QLabel;
class QGroupBox;
class QLineEdit;
class QPushButton;
class TStringGrid;

class TFrmTest : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmTest(const TTestContext& context, QWidget* parent = nullptr);
  ~TFrmTest() override;

  // Controls, named as their object names.
  QGroupBox* GroupBox1;
  QComboBox* CBCurrentStep;
  QComboBox* cbbPhaseSelect;
  QComboBox* cbTestTime;
  QPushButton* BtnTest;
  TStringGrid* TSData;
  QGroupBox* GroupBox2;
  QLineEdit* EdtDeviceNum;
  QLineEdit* EdtTestUser;
  QLineEdit* EdtTestAdd;
  QFrame* Panel1;
  QPushButton* BtnOK;
  QPushButton* btnPrint;
  QPushButton* BtnCancel;
  // The course of the running or last test, and whether each phase settled.
  QChartView* ChartView;
  QLabel* LblSettled[3];

  // Checks the entries in order and stores each valid one in the working
  // parameters; the first invalid entry is reported, gets the focus and
  // makes the result false.
  bool CheckParams();
  // CheckParams, then the three resistance texts into strResultA..C of the
  // working parameters.
  bool SaveResults();
  // Empties the nine value cells.
  void ClearValues();
  // Load-time list "5" to "60"; the text is the stored load time.
  void FillTestTimes();

  // State of the live test, for the window's users.
  bool Testing() const { return FTesting; }
  // A live test or a print of this dialog is under way.
  bool Running() const { return FRunning; }
  std::int64_t TestStamp() const { return FTestStamp; }
  std::int64_t ArchivedStamp() const { return FArchivedStamp; }
  // Live frames shown since the dialog was created.
  int FramesShown() const { return FFramesShown; }
  // The course of the running or last test.
  const TTestSeries& Series() const { return FSeries; }
  // Whether every phase the last test measured has settled.
  bool Settled() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 public slots:
  // Every way of closing (exit button, Esc, title bar) comes here: the
  // dialog closes only when SaveResults succeeds.
  void reject() override;

 private:
  void FormCreate();
  void FormShow();
  bool FormCloseQuery();
  void CBCurrentStepChange();
  void BtnTestClick();
  void BtnCancelClick();
  void BtnOKClick();
  void btnPrintClick();
  // The live test: start frame, frame loop, stop exchange, restore step.
  void RunTest();
  // Stop request: ends a running frame loop, or sends the stop again when
  // an earlier one was not acknowledged.
  void StopTest();
  // Shows a live frame; returns its state byte and, for an error state, its
  // message.
  int ShowLiveFrame(const TRecvFA& frame, QString& message);
  // The link; throws EAppError when the dialog has none.
  TInstrumentLink& Link() const;
  // Enables or disables the lists and the archive, exit, test and print
  // buttons.
  void SetControls(bool enabled);
  // The test button's caption, "测试" or "中断", with its start or stop glyph.
  void SetTestCaption(const QString& caption);
  // After a live test or print: a close requested meanwhile now runs the
  // close check.
  void EndRun();

  TTestContext FContext;
  TWorkingParams& P;
  bool FShown = false;
  // The resistance each row shows and the frame's value behind it, in ohms:
  // the history keeps the value where the text is still the one shown.
  struct TShownValue {
    QString text;
    double ohms = 0;
  };
  TShownValue FShownOhms[3];
  // The course of the test: frames as they came, and its chart.
  TTestSeries FSeries;
  std::unique_ptr<TSeriesChart> FChart;
  std::int64_t FSeriesStart = 0;  // tick of the start frame
  void AddToSeries(const TRecvFA& frame);
  void ShowSettled();
  // Set when the frame loop starts; cleared only by a stop request.
  bool FTesting = false;
  // Local date-time of the last completed test in milliseconds since the
  // epoch; 0 = no completed test.
  std::int64_t FTestStamp = 0;
  // The FTestStamp archived last.
  std::int64_t FArchivedStamp = 0;
  // A cell outside the grid: as the selection it leaves no cell highlighted.
  QRect FNoSelection{24, 24, 1, 1};
  bool FRunning = false;
  bool FCloseRequested = false;
  int FFramesShown = 0;
};

// Notices of the live test.
inline const QString kLoadingNotice = QStringLiteral("  请稍候，等待加载......");
// "  当前载流时间为" + the load time text + "......"
QString LoadTimeNotice(const QString& loadTime);
inline const QString kTestAborted = QStringLiteral("通讯失败,测试中断！");

// Second part of the parameter check's messages, after a blank line (two
// line breaks).
inline const QString kRetype = QStringLiteral("\n\n请重新输入！");
