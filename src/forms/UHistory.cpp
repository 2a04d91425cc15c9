#include "forms/UHistory.h"

#include <QBrush>
#include <QChartView>
#include <QLineSeries>
#include <QSplitter>
#include <QToolTip>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QCompleter>
#include <QDateEdit>
#include <QDir>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "data/UDataCenter.h"
#include "data/RecordTable.h"
#include "data/TestSeries.h"
#include "forms/USeriesChart.h"
#include "forms/UDataFiles.h"
#include "forms/UQRAssessment.h"
#include "history/HistoryImport.h"
#include "history/ResultStore.h"
#include "history/TeamStore.h"
#include "history/ResultValues.h"
#include "platform/DesktopServices.h"
#include "platform/FileIo.h"
#include "platform/IniFile.h"
#include "platform/MessageService.h"
#include "platform/TextTable.h"

namespace {

const QString kAllDevices = QStringLiteral("（全部设备）");

// "确定" (the default button) and "取消" of the history's dialogs.
void MakeOkCancel(QDialog* dlg, QPushButton*& ok, QPushButton*& cancel) {
  ok = new QPushButton(QStringLiteral("确定"), dlg);
  ok->setObjectName(QStringLiteral("BtnOK"));
  ok->setDefault(true);
  cancel = new QPushButton(QStringLiteral("取消"), dlg);
  cancel->setObjectName(QStringLiteral("BtnCancel"));
}

}  // namespace

// ---- model -------------------------------------------------------------------

const QStringList& THistoryModel::Captions() { return Judged::Captions(); }

int THistoryModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(FRows.size()); }

int THistoryModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(Captions().size());
}

QVariant THistoryModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || size_t(index.row()) >= FRows.size()) return {};
  const THistoryRow& r = FRows[size_t(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      // The history numbers its own rows; the tables the results came from
      // numbered theirs (an upload's 1, 2, 3 again and again).
      return index.column() == Record::kNumber ? QString::number(index.row() + 1) : r.texts.value(index.column());
    case Qt::TextAlignmentRole: return int(Qt::AlignCenter);
    case Qt::ToolTipRole:
      return index.column() == Judged::kVerdict && !r.reasons.isEmpty() ? QVariant(r.reasons.join(QStringLiteral("；"))) : QVariant();
    case Qt::BackgroundRole:
      if (index.column() != Judged::kVerdict) return {};
      switch (r.verdict) {
        case TVerdictKind::Pass: return QBrush(QColor(0xC8, 0xF0, 0xC8));
        case TVerdictKind::Attention: return QBrush(QColor(0xFF, 0xE8, 0x99));
        case TVerdictKind::Fail: return QBrush(QColor(0xF8, 0xB8, 0xB8));
        case TVerdictKind::NotJudged: return {};
      }
      return {};
    default: return {};
  }
}

QVariant THistoryModel::headerData(int section, Qt::Orientation o, int role) const {
  if (role != Qt::DisplayRole || o != Qt::Horizontal) return QAbstractTableModel::headerData(section, o, role);
  return Captions().value(section);
}

bool THistoryModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && FFetch && int(FRows.size()) < FTotal;
}

void THistoryModel::fetchMore(const QModelIndex& parent) {
  if (canFetchMore(parent)) Fetch(kPage);
}

void THistoryModel::Fetch(int count) {
  std::vector<THistoryRow> more = FFetch(count);
  if (more.empty()) {
    FTotal = int(FRows.size());  // results removed since they were counted
    return;
  }
  beginInsertRows(QModelIndex(), int(FRows.size()), int(FRows.size() + more.size()) - 1);
  FRows.insert(FRows.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
  endInsertRows();
}

void THistoryModel::Reset(int total, TFetch fetch) {
  beginResetModel();
  FRows.clear();
  FTotal = total;
  FFetch = std::move(fetch);
  endResetModel();
  if (canFetchMore(QModelIndex())) Fetch(kPage);
}

void THistoryModel::FetchAll() {
  while (canFetchMore(QModelIndex())) Fetch(std::max(kPage, FTotal - int(FRows.size())));
}

// ---- page --------------------------------------------------------------------

THistoryPage::THistoryPage(std::function<TResultStore*()> store, std::function<QString()> why, QWidget* parent)
    : QWidget(parent), FStore(std::move(store)), FWhy(std::move(why)) {
  setObjectName(QStringLiteral("tsHistory"));
  cbDevice = new QComboBox(this);
  cbDevice->setObjectName(QStringLiteral("cbDevice"));
  cbDevice->setEditable(true);
  cbDevice->setMinimumWidth(140);
  // Completion inline, in the box itself: a pop-up list would take the
  // click on "查询" that should query the typed device. Enter queries too,
  // and the typed number is not added to the list.
  cbDevice->completer()->setCompletionMode(QCompleter::InlineCompletion);
  cbDevice->setInsertPolicy(QComboBox::NoInsert);
  chkAllTime = new QCheckBox(QStringLiteral("全部时间"), this);
  chkAllTime->setObjectName(QStringLiteral("chkAllTime"));
  chkAllTime->setChecked(true);
  deFrom = new QDateEdit(QDate::currentDate().addYears(-1), this);
  deFrom->setObjectName(QStringLiteral("deFrom"));
  deFrom->setCalendarPopup(true);
  deFrom->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  deFrom->setMinimumWidth(132);
  deTo = new QDateEdit(QDate::currentDate(), this);
  deTo->setObjectName(QStringLiteral("deTo"));
  deTo->setCalendarPopup(true);
  deTo->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  deTo->setMinimumWidth(132);
  btnQuery = new QPushButton(QStringLiteral("查询"), this);
  btnQuery->setObjectName(QStringLiteral("btnQuery"));
  btnCriteria = new QPushButton(QStringLiteral("评估标准…"), this);
  btnCriteria->setObjectName(QStringLiteral("btnCriteria"));
  btnImport = new QPushButton(QStringLiteral("导入…"), this);
  btnImport->setObjectName(QStringLiteral("btnImport"));
  btnExport = new QPushButton(QStringLiteral("导出…"), this);
  btnExport->setObjectName(QStringLiteral("btnExport"));
  btnReport = new QPushButton(QStringLiteral("评估报告…"), this);
  btnReport->setObjectName(QStringLiteral("btnReport"));
  btnDatabase = new QPushButton(QStringLiteral("数据库…"), this);
  btnDatabase->setObjectName(QStringLiteral("btnDatabase"));
  btnExportCourse = new QPushButton(QStringLiteral("导出过程…"), this);
  btnExportCourse->setObjectName(QStringLiteral("btnExportCourse"));
  btnExportCourse->setEnabled(false);

  auto* bar = new QHBoxLayout;
  bar->addWidget(new QLabel(QStringLiteral("设备编号："), this));
  bar->addWidget(cbDevice);
  bar->addSpacing(12);
  bar->addWidget(chkAllTime);
  bar->addWidget(new QLabel(QStringLiteral("从"), this));
  bar->addWidget(deFrom);
  bar->addWidget(new QLabel(QStringLiteral("到"), this));
  bar->addWidget(deTo);
  bar->addWidget(btnQuery);
  bar->addStretch();

  Model = new THistoryModel(this);
  tvResults = new QTableView(this);
  tvResults->setObjectName(QStringLiteral("tvResults"));
  tvResults->setModel(Model);
  tvResults->setSelectionBehavior(QAbstractItemView::SelectRows);
  tvResults->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvResults->verticalHeader()->hide();
  tvResults->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  tvResults->verticalHeader()->setDefaultSectionSize(22);
  lblStatus = new QLabel(this);
  lblStatus->setObjectName(QStringLiteral("lblStatus"));

  // The buttons below the results, as on the other two pages; the window
  // keeps the widths the other pages allow.
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(lblStatus, 1);
  bottom->addWidget(btnCriteria);
  bottom->addWidget(btnReport);
  bottom->addWidget(btnImport);
  bottom->addWidget(btnExport);
  bottom->addWidget(btnExportCourse);
  bottom->addWidget(btnDatabase);
  lblStatus->setMinimumWidth(0);
  lblStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  const TTrendChart trend = MakeTrendChart();
  for (int p = 0; p < 3; ++p) Phase[p] = trend.Phase[p];
  MaxLine = trend.MaxLine;
  for (int p = 0; p < 3; ++p) ReferenceLine[p] = trend.ReferenceLine[p];
  FTrend = trend;
  cvTrend = new QChartView(trend.Chart, this);
  cvTrend->setObjectName(QStringLiteral("cvTrend"));
  cvTrend->setRenderHint(QPainter::Antialiasing);
  cvTrend->setMinimumHeight(220);
  cvTrend->hide();
  for (int p = 0; p < 3; ++p) {
    connect(Phase[p], &QLineSeries::hovered, this, [this, p](const QPointF& point, bool state) {
      if (!state) {
        QToolTip::hideText();
        return;
      }
      QToolTip::showText(QCursor::pos(), PointText(p, point));
    });
  }
  FCourse = std::make_shared<TSeriesChart>(MakeSeriesChart());
  cvCourse = new QChartView(FCourse->Chart, this);
  cvCourse->setObjectName(QStringLiteral("cvCourse"));
  cvCourse->setRenderHint(QPainter::Antialiasing);
  cvCourse->setMinimumHeight(240);
  cvCourse->hide();
  auto* charts = new QSplitter(Qt::Horizontal, this);
  charts->setObjectName(QStringLiteral("splCharts"));
  charts->addWidget(cvTrend);
  charts->addWidget(cvCourse);
  charts->hide();
  FCharts = charts;
  // The pane of the charts takes room only while one of them is shown.
  for (QWidget* chart : {static_cast<QWidget*>(cvTrend), static_cast<QWidget*>(cvCourse)}) {
    chart->installEventFilter(this);
  }
  auto* split = new QSplitter(Qt::Vertical, this);
  split->addWidget(tvResults);
  split->addWidget(charts);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(bar);
  layout->addWidget(split, 1);
  layout->addLayout(bottom);

  auto guarded = [this](void (THistoryPage::*f)()) { return [this, f] { Guarded([this, f] { (this->*f)(); }); }; };
  connect(btnQuery, &QPushButton::clicked, this, guarded(&THistoryPage::Refresh));
  connect(cbDevice, qOverload<int>(&QComboBox::activated), this, guarded(&THistoryPage::Refresh));
  connect(cbDevice->lineEdit(), &QLineEdit::returnPressed, this, guarded(&THistoryPage::Refresh));
  connect(chkAllTime, &QCheckBox::toggled, this, [this](bool all) {
    deFrom->setEnabled(!all);
    deTo->setEnabled(!all);
  });
  deFrom->setEnabled(false);
  deTo->setEnabled(false);
  connect(btnCriteria, &QPushButton::clicked, this, guarded(&THistoryPage::BtnCriteriaClick));
  connect(btnImport, &QPushButton::clicked, this, guarded(&THistoryPage::BtnImportClick));
  connect(btnExport, &QPushButton::clicked, this, guarded(&THistoryPage::BtnExportClick));
  connect(btnReport, &QPushButton::clicked, this, guarded(&THistoryPage::BtnReportClick));
  connect(btnDatabase, &QPushButton::clicked, this, guarded(&THistoryPage::BtnDatabaseClick));
  connect(btnExportCourse, &QPushButton::clicked, this, guarded(&THistoryPage::BtnExportCourseClick));
  connect(tvResults->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { Guarded([this] { ShowCourse(); }); });
  connect(Model, &QAbstractItemModel::modelReset, this, [this] { Guarded([this] { ShowCourse(); }); });
}

bool THistoryPage::eventFilter(QObject* watched, QEvent* event) {
  if ((event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent) && FCharts) {
    FCharts->setVisible(!cvTrend->isHidden() || !cvCourse->isHidden());
  }
  return QWidget::eventFilter(watched, event);
}

void THistoryPage::ShowCourse() {
  const QModelIndex current = tvResults->currentIndex();
  const std::vector<THistoryRow>& rows = Model->Rows();
  const THistoryRow* row = current.isValid() && size_t(current.row()) < rows.size() ? &rows[size_t(current.row())]
                                                                                      : nullptr;
  const bool has = row && !row->series.isEmpty();
  btnExportCourse->setEnabled(has);
  if (!has) {
    cvCourse->hide();
    return;
  }
  FCourse->Chart->setTitle(QStringLiteral("测试过程：%1 %2")
                               .arg(row->texts.value(Record::kDevice).trimmed(), row->texts.value(Record::kTime).trimmed()));
  FillSeriesChart(*FCourse, SeriesOfText(row->series));
  if (cvCourse->isHidden()) {
    cvCourse->show();
    // The trend and the course side by side, half the width each.
    if (auto* charts = qobject_cast<QSplitter*>(FCharts)) {
      const int half = std::max(charts->width() / 2, 1);
      charts->setSizes({half, half});
    }
  }
}

void THistoryPage::BtnExportCourseClick() {
  const QModelIndex current = tvResults->currentIndex();
  const std::vector<THistoryRow>& rows = Model->Rows();
  if (!current.isValid() || size_t(current.row()) >= rows.size() || rows[size_t(current.row())].series.isEmpty()) {
    MsgBox(this, QStringLiteral("请先选择一条带测试过程的结果（在测试对话框中归档的结果）。"), TMsgIcon::Warning);
    return;
  }
  const THistoryRow& row = rows[size_t(current.row())];
  TFileDialogRequest r;
  r.initialDir = DataFiles::DataFolder();
  r.defaultSuffix = QStringLiteral("csv");
  r.filters = {qMakePair(QStringLiteral("测试过程(*.csv)"), QStringLiteral("*.csv"))};
  r.title = QStringLiteral("导出测试过程");
  QString device = row.texts.value(Record::kDevice).trimmed();
  device.replace(QRegularExpression(QStringLiteral(R"([\\/:*?"<>|\s])")), QStringLiteral("_"));
  r.proposedName = QStringLiteral("测试过程_%1_%2").arg(device.isEmpty() ? QStringLiteral("无编号") : device,
                                                   DateTimeFileText(QDateTime::currentDateTime()));
  const QString name = DesktopServices().GetSaveFileName(this, r);
  if (name.isEmpty()) return;
  try {
    ReplaceFileContents(name, QByteArray("\xEF\xBB\xBF") + SeriesCsv(SeriesOfText(row.series)).toUtf8());
  } catch (const EAppError& e) {
    MsgBoxWithDetail(this, QStringLiteral("测试过程未能导出。"), e.Text(), TMsgIcon::Warning);
  }
}

void THistoryPage::SetSyncState(const QString& text) {
  FSyncText = text;
  ShowStatus();
}

void THistoryPage::ResultsArrived() {
  if (FCountText.isEmpty()) return;
  FCountText = QStringLiteral("共 %1 条结果（团队数据库有新结果，请查询）").arg(Model->Total());
  ShowStatus();
}

void THistoryPage::ShowStatus() {
  QStringList parts;
  // A result the program could not store since, or damage found in the
  // store, is told here with the reason.
  const QString why = FWhy();
  if (!why.isEmpty()) parts << why;
  if (!FCountText.isEmpty()) parts << FCountText;
  if (!FSyncText.isEmpty()) parts << FSyncText;
  if (!FFileText.isEmpty()) parts << FFileText;
  const QString status = parts.join(QStringLiteral("；"));
  lblStatus->setText(status);
  lblStatus->setToolTip(status);
}

void THistoryPage::Refresh() {
  TResultStore* store = FStore();
  if (!store) {
    FFilter = THistoryFilter{};
    Model->Reset(0, nullptr);
    cvTrend->hide();
    FCountText.clear();
    lblStatus->setText(QStringLiteral("历史记录无法使用：%1").arg(FWhy()));
    return;
  }
  try {
    Query(*store);
  } catch (const EAppError&) {
    if (FReadFailed) FReadFailed();
    throw;
  }
}

void THistoryPage::Query(TResultStore& storeRef) {
  TResultStore* store = &storeRef;
  const QString device = ChosenFilter().device;
  // The device list, for completion.
  const QStringList devices = store->Devices();
  cbDevice->blockSignals(true);
  cbDevice->clear();
  cbDevice->addItem(kAllDevices);
  cbDevice->addItems(devices);
  cbDevice->setEditText(device.isEmpty() ? kAllDevices : device);
  cbDevice->blockSignals(false);

  const THistoryFilter filter = ChosenFilter();
  FFilter = filter;
  FLast.reset();
  FJudges.clear();
  const int total = store->Count(filter);
  Model->Reset(total, [this](int count) { return FetchRows(count); });
  if (device.isEmpty()) {
    cvTrend->hide();
  } else {
    if (FJudges.find(device) == FJudges.end()) {
      FJudges[device] = TJudge{store->Criteria(device), store->FirstValues(device)};
    }
    ShowTrend(device, store->Trend(filter), FJudges[device]);
  }
  FCountText = QStringLiteral("共 %1 条结果").arg(total);
  FFileText = QStringLiteral("历史记录：%1").arg(store->FileName());
  ShowStatus();
}

THistoryFilter THistoryPage::ChosenFilter() const {
  THistoryFilter filter;
  const QString typed = cbDevice->currentText().trimmed();
  filter.device = typed == kAllDevices ? QString() : typed;
  if (!chkAllTime->isChecked()) {
    filter.from = QDateTime(deFrom->date(), QTime(0, 0));
    filter.to = QDateTime(deTo->date(), QTime(23, 59, 59));
  }
  return filter;
}

std::vector<THistoryRow> THistoryPage::FetchRows(int count) {
  TResultStore* store = FStore();
  if (!store) return {};
  std::vector<THistoryRow> rows;
  std::vector<TStoredResult> results;
  try {
    results = store->Page(FFilter, FLast ? &*FLast : nullptr, count);
    // Criteria and reference of the devices met for the first time.
    QStringList fresh;
    for (const TStoredResult& r : results) {
      if (FJudges.find(r.device) == FJudges.end() && !fresh.contains(r.device)) fresh << r.device;
    }
    if (!fresh.isEmpty()) {
      const auto criteria = store->CriteriaOf(fresh);
      const auto first = store->FirstValuesOf(fresh);
      for (const QString& d : fresh) FJudges[d] = TJudge{criteria.at(d), first.at(d)};
    }
  } catch (const EAppError& e) {
    // The view asked while scrolling: say so below the table, keep the rows.
    lblStatus->setText(e.Text());
    if (FReadFailed) FReadFailed();
    return {};
  }
  if (!results.empty()) FLast = results.back();
  rows.reserve(results.size());
  for (const TStoredResult& r : results) {
    const TJudge& judge = FJudges[r.device];
    rows.push_back(JudgedRow(r, judge));
  }
  return rows;
}

void THistoryPage::ShowTrend(const QString& device, const std::vector<TTrendPoint>& points, const TJudge& judge) {
  FTrendPoints = points;
  FTrendJudge = judge;
  cvTrend->setVisible(FillTrend(FTrend, device, TrendSeries(points, judge)));
}

QString THistoryPage::PointText(int phase, const QPointF& point) const {
  return TrendPointText(FTrendPoints, FTrendJudge, phase, point);
}

void THistoryPage::BtnCriteriaClick() {
  TResultStore* store = FStore();
  if (!store) {
    MsgBoxWithDetail(this, QStringLiteral("历史记录无法使用。"), FWhy(), TMsgIcon::Warning);
    return;
  }
  const QString typed = cbDevice->currentText().trimmed();
  TFrmCriteria dlg(*store, typed == kAllDevices ? QString() : typed, this);
  if (dlg.exec() == QDialog::Accepted) Refresh();
}

void THistoryPage::BtnImportClick() {
  TResultStore* store = FStore();
  if (!store) {
    MsgBoxWithDetail(this, QStringLiteral("历史记录无法使用。"), FWhy(), TMsgIcon::Warning);
    return;
  }
  // The file is read as it shows its cells; the archive stays as it is.
  const QString name = DataFiles::ChooseOpenFile(this);
  if (name.isEmpty()) return;
  TImportCheck check;
  try {
    check = CheckImportRows(ReadImportFile(name));
  } catch (const EAppError& e) {
    MsgBoxWithDetail(this, QStringLiteral("导入失败。"), e.Text(), TMsgIcon::Warning);
    return;
  }
  TAddCount count;
  if (!check.results.empty()) {
    try {
      count = FStoring ? FStoring(check.results) : store->Add(check.results);
    } catch (const EAppError& e) {
      MsgBoxWithDetail(this, QStringLiteral("导入失败，历史记录未改变。"), e.Text(), TMsgIcon::Warning);
      return;
    }
  }
  MsgBox(this, ImportSummary(count, check) + QStringLiteral("。"),
         check.refusedCount > 0 ? TMsgIcon::Warning : TMsgIcon::Information);
  Refresh();
}

void THistoryPage::BtnExportClick() {
  // Every row the filter selects, not only those scrolled to.
  Model->FetchAll();
  const std::vector<THistoryRow>& shown = Model->Rows();
  if (shown.empty()) {
    MsgBox(this, DataFiles::kNoDataText, TMsgIcon::Warning);
    return;
  }
  // The record columns first (the file imports again), then the judgement
  // and its reasons.
  class TShownRows : public ITextRows {
   public:
    explicit TShownRows(const std::vector<THistoryRow>& rows) : FRows(rows) {}
    int RowCount() const override { return int(FRows.size()); }
    int ColCount() const override { return Judged::kColumns + 1; }
    QString Cell(int row, int col) const override {
      const THistoryRow& r = FRows[size_t(row)];
      if (col == Record::kNumber) return QString::number(row + 1);
      return col == Judged::kColumns ? r.reasons.join(QStringLiteral("；")) : r.texts.value(col);
    }

   private:
    const std::vector<THistoryRow>& FRows;
  };
  const QString name = DataFiles::ChooseSaveFile(this);
  if (name.isEmpty()) return;
  DataFiles::SaveRecordFile(this, name, Judged::Captions() + QStringList{QStringLiteral("原因")}, TShownRows(shown));
}

void THistoryPage::BtnReportClick() {
  TResultStore* store = FStore();
  if (!store) {
    MsgBoxWithDetail(this, QStringLiteral("历史记录无法使用。"), FWhy(), TMsgIcon::Warning);
    return;
  }
  // The report is of the results the table shows, whatever the box says
  // since the last query.
  const THistoryFilter filter = FFilter;
  if (filter.device.isEmpty()) {
    MsgBox(this, QStringLiteral("请先选择一个设备编号并查询，再生成评估报告。"), TMsgIcon::Warning);
    cbDevice->setFocus();
    return;
  }
  TAssessmentData data;
  data.device = filter.device;
  data.from = filter.from;
  data.to = filter.to;
  try {
    data.results = store->Results(filter.device, filter.from, filter.to);
    data.criteria = store->Criteria(filter.device);
    data.reference = store->FirstValues(filter.device);
  } catch (const EAppError& e) {
    MsgBoxWithDetail(this, QStringLiteral("评估报告无法生成。"), e.Text(), TMsgIcon::Warning);
    return;
  }
  if (data.results.empty()) {
    MsgBox(this, QStringLiteral("设备“%1”在所选时间内没有测试结果。").arg(filter.device), TMsgIcon::Warning);
    return;
  }
  std::reverse(data.results.begin(), data.results.end());  // oldest first
  if (!FReport) FReport = new TQRAssessment(this);
  PreviewAssessment(*FReport, data);
}

void THistoryPage::BtnDatabaseClick() {
  TFrmDatabase dlg(QDir(SettingsDir()).filePath(QStringLiteral("results.sqlite")), this);
  if (dlg.exec() != QDialog::Accepted) return;
  if (FSettingsChanged) FSettingsChanged();  // the replication follows the settings
  Refresh();
}

// ---- database ----------------------------------------------------------------

// A check of the team database on a thread of its own: the dialog answers
// while a server is slow or silent, and closing it stops the check.
struct TFrmDatabase::TCheck {
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  std::thread thread;
  ~TCheck() {
    stop = true;
    if (thread.joinable()) thread.join();
  }
};

TFrmDatabase::TFrmDatabase(const QString& sqliteFile, QWidget* parent) : QDialog(parent), FSqliteFile(sqliteFile) {
  setObjectName(QStringLiteral("FrmDatabase"));
  setWindowTitle(QStringLiteral("历史记录数据库"));
  const TTeamConfig c = TeamConfigOf(SettingsFile());
  cbDriver = new QComboBox(this);
  cbDriver->setObjectName(QStringLiteral("cbDriver"));
  cbDriver->addItems({QStringLiteral("仅保存在本机"), QStringLiteral("本机保存，并与团队数据库（PostgreSQL）同步")});
  cbDriver->setCurrentIndex(c.enabled ? 1 : 0);
  edtHost = new QLineEdit(c.host, this);
  edtHost->setObjectName(QStringLiteral("edtHost"));
  spnPort = new QSpinBox(this);
  spnPort->setObjectName(QStringLiteral("spnPort"));
  spnPort->setRange(1, 65535);
  spnPort->setValue(c.port);
  edtName = new QLineEdit(c.name, this);
  edtName->setObjectName(QStringLiteral("edtName"));
  edtUser = new QLineEdit(c.user, this);
  edtUser->setObjectName(QStringLiteral("edtUser"));
  edtOptions = new QLineEdit(c.options, this);
  edtOptions->setObjectName(QStringLiteral("edtOptions"));
  edtOptions->setPlaceholderText(QStringLiteral("例如 sslmode=verify-full"));
  spnConnectTimeout = new QSpinBox(this);
  spnConnectTimeout->setObjectName(QStringLiteral("spnConnectTimeout"));
  spnConnectTimeout->setRange(1, 600);
  spnConnectTimeout->setSuffix(QStringLiteral(" 秒"));
  spnConnectTimeout->setValue(c.connectTimeout);
  spnStatementTimeout = new QSpinBox(this);
  spnStatementTimeout->setObjectName(QStringLiteral("spnStatementTimeout"));
  spnStatementTimeout->setRange(1, 3600);
  spnStatementTimeout->setSuffix(QStringLiteral(" 秒"));
  spnStatementTimeout->setValue(c.statementTimeout);
  lblState = new QLabel(this);
  lblState->setObjectName(QStringLiteral("lblState"));
  lblState->setWordWrap(true);
  lblState->setMinimumWidth(420);
  btnCheck = new QPushButton(QStringLiteral("测试连接"), this);
  btnCheck->setObjectName(QStringLiteral("btnCheck"));
  MakeOkCancel(this, BtnOK, BtnCancel);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("保存方式："), cbDriver);
  form->addRow(QStringLiteral("服务器："), edtHost);
  form->addRow(QStringLiteral("端口："), spnPort);
  form->addRow(QStringLiteral("数据库名："), edtName);
  form->addRow(QStringLiteral("用户名："), edtUser);
  form->addRow(QStringLiteral("连接选项："), edtOptions);
  form->addRow(QStringLiteral("连接超时："), spnConnectTimeout);
  form->addRow(QStringLiteral("语句超时："), spnStatementTimeout);
  auto* note = new QLabel(QStringLiteral("测试结果总是先保存在本机；团队数据库暂时无法连接时，结果在连接恢复后自动同步。"
                                         "密码不保存在本程序中，请写在 ~/.pgpass 或 PostgreSQL 服务文件中。"),
                          this);
  note->setWordWrap(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnCheck);
  buttons->addStretch();
  buttons->addWidget(BtnOK);
  buttons->addWidget(BtnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(note);
  layout->addWidget(lblState);
  layout->addLayout(buttons);

  connect(cbDriver, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { DriverChange(); });
  connect(btnCheck, &QPushButton::clicked, this, [this] { Guarded([this] { Check(); }); });
  connect(BtnOK, &QPushButton::clicked, this, [this] {
    Guarded([this] {
      if (Save()) accept();
    });
  });
  connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
  DriverChange();
}

TFrmDatabase::~TFrmDatabase() = default;

void TFrmDatabase::DriverChange() {
  const bool server = cbDriver->currentIndex() == 1;
  for (QWidget* w : std::initializer_list<QWidget*>{edtHost, spnPort, edtName, edtUser, edtOptions, spnConnectTimeout,
                                                    spnStatementTimeout, btnCheck}) {
    w->setEnabled(server);
  }
  lblState->setText(QStringLiteral("历史记录保存在 %1").arg(FSqliteFile));
}

TTeamConfig TFrmDatabase::Config() const {
  TTeamConfig c;
  c.enabled = cbDriver->currentIndex() == 1;
  c.host = edtHost->text().trimmed();
  c.port = spnPort->value();
  c.name = edtName->text().trimmed();
  c.user = edtUser->text().trimmed();
  c.options = edtOptions->text().trimmed();
  c.connectTimeout = spnConnectTimeout->value();
  c.statementTimeout = spnStatementTimeout->value();
  return c;
}

bool TFrmDatabase::Checking() const { return FCheck && !FCheck->done; }

void TFrmDatabase::Check() {
  const TTeamConfig c = Config();
  const QString refused = c.OptionsError();
  if (!refused.isEmpty()) {
    lblState->setText(QStringLiteral("无法连接：%1").arg(refused));
    return;
  }
  FCheck.reset();  // an earlier check stops
  FCheck = std::make_shared<TCheck>();
  lblState->setText(QStringLiteral("正在连接 %1……").arg(c.Describe()));
  btnCheck->setEnabled(false);
  TCheck* check = FCheck.get();
  check->thread = std::thread([this, c, check] {
    QString text;
    try {
      TTeamLink link(c, &check->stop);
      link.Connect();
      text = QStringLiteral("已连接：%1（团队数据库中有 %2 条结果）").arg(link.Reached()).arg(link.ResultCount());
    } catch (const EAppError& e) {
      text = QStringLiteral("无法连接：%1").arg(e.Text());
    }
    if (check->stop) return;
    QMetaObject::invokeMethod(
        this,
        [this, text, check] {
          if (FCheck.get() != check) return;  // a later check is under way
          lblState->setText(text);
          btnCheck->setEnabled(cbDriver->currentIndex() == 1);
          check->done = true;
        },
        Qt::QueuedConnection);
  });
}

bool TFrmDatabase::Save() {
  const TTeamConfig c = Config();
  const QString refused = c.enabled ? c.OptionsError() : QString();
  if (!refused.isEmpty()) {
    MsgBox(this, refused, TMsgIcon::Warning);
    edtOptions->setFocus();
    return false;
  }
  WriteTeamConfig(SettingsFile(), c);
  return true;
}

// ---- criteria ----------------------------------------------------------------

TFrmCriteria::TFrmCriteria(TResultStore& store, const QString& device, QWidget* parent)
    : QDialog(parent), FStore(store) {
  setObjectName(QStringLiteral("FrmCriteria"));
  setWindowTitle(QStringLiteral("评估标准"));
  cbDevice = new QComboBox(this);
  cbDevice->setObjectName(QStringLiteral("cbDevice"));
  cbDevice->setEditable(true);
  cbDevice->addItem(QStringLiteral("（默认，用于全部设备）"));
  cbDevice->addItems(store.Devices());
  if (!device.isEmpty()) cbDevice->setEditText(device);
  edtMax = new QLineEdit(this);
  edtMax->setObjectName(QStringLiteral("edtMax"));
  edtMax->setPlaceholderText(QStringLiteral("空：不判断"));
  edtReference = new QLineEdit(this);
  edtReference->setObjectName(QStringLiteral("edtReference"));
  edtReference->setPlaceholderText(QStringLiteral("空：该设备的第一次结果"));
  spnRise = new QDoubleSpinBox(this);
  spnRise->setObjectName(QStringLiteral("spnRise"));
  spnRise->setRange(1.0, 5.0);
  spnRise->setSingleStep(0.05);
  spnRise->setDecimals(2);
  spnImbalance = new QDoubleSpinBox(this);
  spnImbalance->setObjectName(QStringLiteral("spnImbalance"));
  spnImbalance->setRange(0, 500);
  spnImbalance->setDecimals(0);
  spnImbalance->setSuffix(QStringLiteral(" %"));
  const TSettleRule rule = SettleRuleOf(SettingsFile());
  spnSettleFrames = new QSpinBox(this);
  spnSettleFrames->setObjectName(QStringLiteral("spnSettleFrames"));
  spnSettleFrames->setRange(2, 60);
  spnSettleFrames->setSuffix(QStringLiteral(" 帧"));
  spnSettleFrames->setValue(rule.frames);
  spnSettlePercent = new QDoubleSpinBox(this);
  spnSettlePercent->setObjectName(QStringLiteral("spnSettlePercent"));
  spnSettlePercent->setRange(0.1, 20.0);
  spnSettlePercent->setSingleStep(0.1);
  spnSettlePercent->setDecimals(1);
  spnSettlePercent->setPrefix(QStringLiteral("±"));
  spnSettlePercent->setSuffix(QStringLiteral(" %"));
  spnSettlePercent->setValue(rule.percent);
  MakeOkCancel(this, BtnOK, BtnCancel);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("设备编号："), cbDevice);
  form->addRow(QStringLiteral("电阻上限（μΩ）："), edtMax);
  form->addRow(QStringLiteral("基准值（μΩ）："), edtReference);
  form->addRow(QStringLiteral("允许上升倍数："), spnRise);
  form->addRow(QStringLiteral("三相不平衡上限："), spnImbalance);
  form->addRow(QStringLiteral("测试稳定：最后"), spnSettleFrames);
  form->addRow(QStringLiteral("均在平均值的"), spnSettlePercent);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BtnOK);
  buttons->addWidget(BtnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);

  connect(cbDevice, &QComboBox::currentTextChanged, this, [this] { LoadDevice(); });
  connect(BtnOK, &QPushButton::clicked, this, [this] {
    Guarded([this] {
      if (Save()) accept();
    });
  });
  connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
  LoadDevice();
}

namespace {
QString DeviceOf(const QComboBox* cb) {
  return cb->currentIndex() == 0 && cb->currentText() == cb->itemText(0) ? QString() : cb->currentText().trimmed();
}
QString Number(const std::optional<double>& v) { return v ? QString::number(*v) : QString(); }
}  // namespace

void TFrmCriteria::LoadDevice() {
  const QString device = DeviceOf(cbDevice);
  const TCriteria c = device.isEmpty() ? FStore.Criteria(QString()) : FStore.Criteria(device);
  const TCriteria own = device.isEmpty() ? c : FStore.OwnCriteria(device);
  edtMax->setText(Number(own.maxMicroOhm));
  edtReference->setText(Number(own.referenceMicroOhm));
  spnRise->setValue(c.riseFactor);
  spnImbalance->setValue(c.imbalancePercent);
}

bool TFrmCriteria::Save() {
  TCriteria c;
  for (auto [edit, target] : {std::pair{edtMax, &c.maxMicroOhm}, std::pair{edtReference, &c.referenceMicroOhm}}) {
    const QString t = edit->text().trimmed();
    if (t.isEmpty()) continue;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || v <= 0) {
      MsgBox(this, QStringLiteral("请输入大于0的数值（单位μΩ），或留空！"), TMsgIcon::Warning);
      edit->setFocus();
      edit->selectAll();
      return false;
    }
    *target = v;
  }
  c.riseFactor = spnRise->value();
  c.imbalancePercent = spnImbalance->value();
  try {
    FStore.SetCriteria(DeviceOf(cbDevice), c);
    WriteSettleRule(SettingsFile(), TSettleRule{spnSettleFrames->value(), spnSettlePercent->value()});
  } catch (const EAppError& e) {
    MsgBoxWithDetail(this, QStringLiteral("评估标准未能保存。"), e.Text(), TMsgIcon::Warning);
    return false;
  }
  return true;
}
