#pragma once
// The tab "历史记录": the results history filtered by device number and
// time, newest first, with the 11 columns of the record tables and the
// assessment ("最大值", "三相不平衡", "较基准变化", "结论"); the verdict colours
// its cell. "评估标准…" sets the criteria, "导入…" brings a data file into the
// history, "导出…" saves the rows shown.
#include <QAbstractTableModel>
#include <QDialog>
#include <QWidget>

#include <functional>
#include <vector>

#include "forms/UTrendChart.h"
#include "history/Judged.h"
#include "history/ResultStore.h"
#include "history/TeamStore.h"

#include <memory>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QChart;
class QChartView;
class QLineSeries;
class TResultStore;

// The rows of the history tab. A filter may select a hundred thousand
// results: the model holds those the view has needed so far and asks for
// the next page when the view scrolls to its end.
class THistoryModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // Gives at most count further rows (fewer at the end of the results).
  using TFetch = std::function<std::vector<THistoryRow>(int count)>;
  static constexpr int kPage = 200;

  using QAbstractTableModel::QAbstractTableModel;
  static const QStringList& Captions();
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  // Starts over with total rows to come from fetch; the first page is read
  // at once.
  void Reset(int total, TFetch fetch);
  // Reads every row still to come.
  void FetchAll();
  // How many rows the filter selects; Rows() holds those read so far.
  int Total() const { return FTotal; }
  const std::vector<THistoryRow>& Rows() const { return FRows; }

 private:
  void Fetch(int count);

  std::vector<THistoryRow> FRows;
  int FTotal = 0;
  TFetch FFetch;
};

class THistoryPage : public QWidget {
  Q_OBJECT
 public:
  // store: the history (null when it cannot be opened); why(): why it cannot
  // be opened, or why the latest result could not be stored (empty when it was).
  THistoryPage(std::function<TResultStore*()> store, std::function<QString()> why, QWidget* parent = nullptr);

  // How imported results are stored (by default straight into the store);
  // the main window stores them as it stores every result.
  void SetStoring(std::function<TAddCount(const std::vector<TNewResult>&)> storing) { FStoring = std::move(storing); }
  // Called after the store failed to read (the main window checks its file).
  void SetReadFailed(std::function<void()> failed) { FReadFailed = std::move(failed); }
  // Called when "数据库…" changed the settings.
  void SetSettingsChanged(std::function<void()> changed) { FSettingsChanged = std::move(changed); }
  // The state of the team database's link, shown beside the count.
  void SetSyncState(const QString& text);
  // Results came from the team database: the next query shows them.
  void ResultsArrived();

  // Reads the results of the filter anew; with one device chosen, its trend.
  void Refresh();
  void BtnCriteriaClick();
  void BtnImportClick();
  void BtnExportClick();
  // "数据库…": where the history is kept; reopened when the settings change.
  void BtnDatabaseClick();
  // What hovering a point of the trend shows: its result's time, the values
  // of its phases and its verdict with the reasons.
  QString PointText(int phase, const QPointF& point) const;
  // "评估报告…": the assessment report of the chosen device over the chosen
  // time, in the preview window (printed from there, or written as PDF).
  void BtnReportClick();

  QComboBox* cbDevice = nullptr;
  QCheckBox* chkAllTime = nullptr;
  QDateEdit* deFrom = nullptr;
  QDateEdit* deTo = nullptr;
  QPushButton* btnQuery = nullptr;
  QPushButton* btnCriteria = nullptr;
  QPushButton* btnImport = nullptr;
  QPushButton* btnExport = nullptr;
  QPushButton* btnDatabase = nullptr;
  QPushButton* btnReport = nullptr;
  QTableView* tvResults = nullptr;
  QLabel* lblStatus = nullptr;
  THistoryModel* Model = nullptr;
  // The trend of the chosen device: phases A, B, C over time, the maximum
  // and the reference as lines; hidden while every device is shown.
  QChartView* cvTrend = nullptr;
  QLineSeries* Phase[3] = {nullptr, nullptr, nullptr};
  QLineSeries* MaxLine = nullptr;
  QLineSeries* ReferenceLine[3] = {nullptr, nullptr, nullptr};
  // The course of the chosen result, where a live test kept one.
  QChartView* cvCourse = nullptr;
  QPushButton* btnExportCourse = nullptr;
  // "导出过程…": the chosen result's course as CSV, one row a frame.
  void BtnExportCourseClick();

 private:
  // Shows the course of the chosen result, or hides the view.
  void ShowCourse();
  bool eventFilter(QObject* watched, QEvent* event) override;
  QWidget* FCharts = nullptr;  // the pane of the trend and the course
  std::shared_ptr<struct TSeriesChart> FCourse;
  // The device and time range the controls choose.
  THistoryFilter ChosenFilter() const;
  // Refresh on an open store.
  void Query(TResultStore& store);
  // The next rows of the current query, judged.
  std::vector<THistoryRow> FetchRows(int count);
  void ShowTrend(const QString& device, const std::vector<TTrendPoint>& points, const TJudge& judge);

  // The status line: a failure, the count and the store, the link's state.
  void ShowStatus();

  std::function<TResultStore*()> FStore;
  std::function<QString()> FWhy;
  std::function<TAddCount(const std::vector<TNewResult>&)> FStoring;
  std::function<void()> FReadFailed;
  std::function<void()> FSettingsChanged;
  QString FCountText;
  QString FFileText;
  QString FSyncText;
  THistoryFilter FFilter;
  // The last result read: the next page starts after it.
  std::optional<TStoredResult> FLast;
  // The criteria and the reference of each device, read once per query.
  std::map<QString, TJudge> FJudges;
  TTrendChart FTrend;
  std::vector<TTrendPoint> FTrendPoints;  // those the chart shows
  TJudge FTrendJudge;
  class TQRAssessment* FReport = nullptr;
};

// "评估标准": criteria of one device, or the program-wide defaults.
class QSpinBox;

class TFrmCriteria : public QDialog {
  Q_OBJECT
 public:
  TFrmCriteria(TResultStore& store, const QString& device, QWidget* parent = nullptr);
  // Shows the criteria of the device chosen in the list.
  void LoadDevice();
  // Stores them; false (with a message) when an entry is not a number.
  bool Save();

  QComboBox* cbDevice = nullptr;
  QLineEdit* edtMax = nullptr;
  QLineEdit* edtReference = nullptr;
  QDoubleSpinBox* spnRise = nullptr;
  QDoubleSpinBox* spnImbalance = nullptr;
  // Program-wide: when a live test's values count as settled.
  QSpinBox* spnSettleFrames = nullptr;
  QDoubleSpinBox* spnSettlePercent = nullptr;
  QPushButton* BtnOK = nullptr;
  QPushButton* BtnCancel = nullptr;

 private:
  TResultStore& FStore;
};

// "历史记录数据库": the results are kept in the file on this PC; a team's
// PostgreSQL database ([Database] of the settings file) receives a copy and
// gives this PC the results of the others.
class TFrmDatabase : public QDialog {
  Q_OBJECT
 public:
  TFrmDatabase(const QString& sqliteFile, QWidget* parent = nullptr);
  ~TFrmDatabase() override;
  // The team database as the entries describe it.
  TTeamConfig Config() const;
  // Connects in the background; lblState says which server was reached,
  // or why none was. The dialog keeps answering meanwhile.
  void Check();
  // Whether a check is under way.
  bool Checking() const;
  // Writes [Database]; no password is written, there is no field for one.
  // False (with a message) when the options name a key they may not.
  bool Save();

  QComboBox* cbDriver = nullptr;
  QLineEdit* edtHost = nullptr;
  QSpinBox* spnPort = nullptr;
  QLineEdit* edtName = nullptr;
  QLineEdit* edtUser = nullptr;
  QLineEdit* edtOptions = nullptr;
  QLabel* lblState = nullptr;
  QPushButton* btnCheck = nullptr;
  QPushButton* BtnOK = nullptr;
  QPushButton* BtnCancel = nullptr;

  QSpinBox* spnConnectTimeout = nullptr;
  QSpinBox* spnStatementTimeout = nullptr;

 private:
  void DriverChange();
  QString FSqliteFile;
  struct TCheck;
  std::shared_ptr<TCheck> FCheck;
};
