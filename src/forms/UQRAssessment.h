#pragma once
// The assessment report of one device: title, device number, the time range,
// the criteria and a count of the verdicts; the resistance trend; then its
// results oldest first with their verdicts, each reason on a line of its own
// under "说明"; a footer with the print time and the page number. A4
// landscape, so that the twelve columns and the reasons fit.
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <map>
#include <memory>
#include <vector>

#include "history/Assessment.h"
#include "history/Judged.h"
#include "history/ResultStore.h"
#include "report/ReportEngine.h"

struct TAssessmentData {
  QString device;
  QDateTime from;  // invalid: no bound
  QDateTime to;
  TCriteria criteria;
  std::array<std::optional<double>, 3> reference;  // the device's first values
  std::vector<TStoredResult> results;              // oldest first
};

class TQRAssessment : public TQuickRep {
  Q_OBJECT
 public:
  explicit TQRAssessment(QObject* owner = nullptr);

  TQRBand* TitleBand;
  TQRLabel* QRLTitle;
  TQRLabel* QRLDevice;
  TQRLabel* QRLPeriod;
  TQRLabel* QRLCriteria;
  TQRLabel* QRLReference;
  TQRLabel* QRLSummary;

  TQRBand* ChartBand;
  TQRImage* QRITrend;

  TQRBand* CaptionBand;
  TQRBand* RowBand;
  // Under a result archived from a live test: the course of its test.
  TQRImage* QRICourse;
  TQRBand* FooterBand;
  TQRLabel* QRLPrinted;
  TQRSysData* QRSysPage;

  // Texts of the caption band and the row band, column by column.
  static const QStringList& Captions();
  std::vector<TQRLabel*> CaptionLabels;
  std::vector<TQRLabel*> ValueLabels;

  // Judges the results, fills the texts and draws the trend.
  void Load(const TAssessmentData& data);
  // The judged rows, oldest first.
  const std::vector<THistoryRow>& Rows() const { return FRows; }

 private:
  void NeedData(bool& moreData);
  void Seek(int index);
  // The lines a row takes: its reasons (at least one), then its course.
  size_t LinesOf(const THistoryRow& row) const;
  std::shared_ptr<const QPicture> CourseOf(size_t row);
  std::map<size_t, std::shared_ptr<const QPicture>> FCourses;  // drawn when first printed

  std::vector<THistoryRow> FRows;
  std::vector<size_t> FFirstBand;  // index of each row's first line band
  size_t FRow = 0;     // the row printing
  int FReason = 0;     // its reason printing
};

// "评估报告…": previews the report of the device; returns when the preview
// window has closed.
void PreviewAssessment(TQRAssessment& report, const TAssessmentData& data);
