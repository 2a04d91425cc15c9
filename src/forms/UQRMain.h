#pragma once
// The printed report of a record table: title "回路电阻测试仪" / "-----主报表",
// a caption band repeated on every page, one line per table row numbered by
// its position, and a footer with the page number.
//
// One report object, QRMain, lives from the main window's creation
// (CreateReport) to its closing (FreeReport) and is reused for every print.
// The print buttons call PrintDataGrid / PrintSaveGrid.
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

#include "report/ReportEngine.h"

class QWidget;
class TStringGrid;

// Table columns 1 to 10 of one table row.
using TReportRow = std::array<QString, 10>;

class TQRMain : public TQuickRep {
  Q_OBJECT
 public:
  explicit TQRMain(QObject* owner = nullptr);
  ~TQRMain() override;

  // ---- Layout ----
  TQRBand* TitleBand1;
  TQRLabel* QRLabel1;
  TQRLabel* QRLabel2;

  TQRBand* GroupHeaderBand1;
  TQRLabel* QRLNo;
  TQRLabel* QRLTime;
  TQRLabel* QRLDeviceNo;
  TQRLabel* QRLTestUser;
  TQRLabel* QRLAdd;
  TQRLabel* QRLCurrentStep;
  TQRLabel* QRLLoadITime;
  TQRLabel* QRLPhase;
  TQRLabel* QRLResA;
  TQRLabel* QRLResB;
  TQRLabel* QRLResC;

  TQRBand* QRSubDetail1;
  TQRLabel* QRTNo;
  TQRLabel* QRTTime;
  TQRLabel* QRTDeviceNo;
  TQRLabel* QRTTestUser;
  TQRLabel* QRTAdd;
  TQRLabel* QRTCurrentStep;
  TQRLabel* QRTLoadITime;
  TQRLabel* QRTPhase;
  TQRLabel* QRTResA;
  TQRLabel* QRTResB;
  TQRLabel* QRTResC;

  TQRBand* PageFooterBand1;
  TQRSysData* QRSysData2;
  TQRLabel* QRLCoop;
  TQRLabel* QRLTel;

  // ---- Data ----
  // Row k holds table row k + 1; text i holds table column i + 1.
  std::vector<TReportRow> Rows;
  std::int32_t RowCount = 0;
  // 1-based number of the next row to print.
  std::int32_t RowCursor = 1;

  // RowCount := n (a negative n counts as 0); Rows holds exactly n rows:
  // rows beyond n are released, kept rows keep their texts, new rows start
  // with 10 empty texts.
  void SetRowCount(std::int32_t n);
  // Places the columns, empties the footer's two design texts, RowCursor := 1.
  void Prepare();
  // Releases every row (RowCount := 0).
  void ClearRows();
  // The row band's need-data handler: the next row into the value labels, or
  // no more data (and RowCursor back to 1 for the next generation).
  void QRSubDetail1NeedData(bool& moreData);
  // Opens the preview window on the generated pages.
  void QuickRepPreview(TQRPrinter& printer);

 private:
  // Value labels of table columns 1 to 10, in column order.
  std::array<TQRLabel*, 10> FValueLabels{};
};

// The single report object.
extern TQRMain* QRMain;
// Creates QRMain (owned by the application) unless it exists.
void CreateReport();
// Empties and frees QRMain; an open preview closes first.
void FreeReport();

// Fills QRMain from rows 1..count of the table (columns 1 to 10, untrimmed)
// and prepares it.
void LoadReport(const TStringGrid& grid, std::int32_t count);

// The print buttons: refuse an empty table with "没有数据打印！", else load the
// report and preview it; they return when the preview window has closed.
// PrintDataGrid prints giDataCount rows of the instrument table SGData,
// PrintSaveGrid giSaveCount rows of the archive table SGSave.
void PrintDataGrid(QWidget* owner, const TStringGrid& SGData, std::int32_t giDataCount);
void PrintSaveGrid(QWidget* owner, const TStringGrid& SGSave, std::int32_t giSaveCount);
