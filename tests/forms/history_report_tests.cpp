// "评估报告…" of the history tab: the device's results over the chosen time,
// judged, with the criteria and the trend, in the preview window and from
// there as a PDF file whose Chinese texts can be searched.
#include <QChart>
#include <QChartView>
#include <QFile>
#include <QXYSeries>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QWindow>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

#include "data/TestSeries.h"
#include "forms/UDlgPreview.h"
#include "forms/UQRAssessment.h"
#include "history_fixture.h"
#include "support/ReportSupport.h"
#include "support/TestServices.h"

namespace {

QStringList Row(const QString& time, const QString& device, const QString& a, const QString& b, const QString& c,
                const QString& who = QStringLiteral("张三")) {
  return {QStringLiteral(" 1"), time, device, who, QStringLiteral("变电站"), QStringLiteral("200A"),
          QStringLiteral("30 秒"), QStringLiteral("三相"), a, b, c};
}

class HistoryReport : public HistoryFixture {
 protected:
  void TearDown() override {
    HistoryFixture::TearDown();
    FlushEvents();
  }

  // Presses "评估报告…" for the device and prints the preview to a PDF file.
  QString PrintReport(const QString& device) {
    const QString pdf = FDir.filePath(QStringLiteral("评估-%1.pdf").arg(device));
    Page->cbDevice->setEditText(device);
    Page->btnQuery->click();
    WhenPreviewOpens([&](TFrmPreview* window) {
      Shown = window->windowTitle();
      window->resize(1100, 800);
      window->tbZToWidth->click();
      window->grab().save(QStringLiteral(QK_TEST_OUTPUT_DIR "/assessment-preview-%1.png").arg(device));  // to be looked at
      Dialogs.PdfFiles << pdf;
      window->tbPrinter->click();
    });
    Page->btnReport->click();
    FlushEvents();
    return pdf;
  }

  TScriptedPrintDialogs Dialogs;
  QString Shown;
};

TEST_F(HistoryReport, ShowsTheCriteriaTheVerdictsWithTheirReasonsAndTheTrend) {
  FStore->AddUploaded({Row(QStringLiteral("24-05-02 09:07"), QStringLiteral("QK-1"), QStringLiteral("45.5 μΩ"),
                           QStringLiteral("46.1 μΩ"), QStringLiteral("45.9 μΩ")),
                       Row(QStringLiteral("24-09-02 09:07"), QStringLiteral("QK-1"), QStringLiteral("47.0 μΩ"),
                           QStringLiteral("75.0 μΩ"), QStringLiteral("46.0 μΩ"), QStringLiteral("李四")),
                       Row(QStringLiteral("24-06-02 09:07"), QStringLiteral("QK-1"), QStringLiteral("46.0 μΩ"),
                           QStringLiteral("46.2 μΩ"), QStringLiteral("30.0 μΩ"), QStringLiteral("王五")),
                       Row(QStringLiteral("24-07-01 10:00"), QStringLiteral("QK-2"), QStringLiteral("99.0 μΩ"),
                           QStringLiteral("99.0 μΩ"), QStringLiteral("99.0 μΩ"))});
  TCriteria c;
  c.maxMicroOhm = 72;
  FStore->SetCriteria(QStringLiteral("QK-1"), c);

  const QString pdf = PrintReport(QStringLiteral("QK-1"));
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(Shown, QStringLiteral("回路电阻评估报告 QK-1"));
  const QString text = PdfText(pdf);
  ASSERT_FALSE(text.isEmpty());
  for (const char* expected : {"回路电阻评估报告", "设备编号：QK-1", "时间范围：全部", "电阻上限 72.0 μΩ",
                               "允许上升倍数 1.20", "三相不平衡上限 50 %",
                               "基准值：A相 45.5 μΩ，B相 46.1 μΩ，C相 45.9 μΩ（该设备的第一次结果）",
                               "共 3 条结果：合格 1 条，注意 1 条，不合格 1 条", "QK-1 电阻趋势", "打印时间："}) {
    EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected << "\n" << text.toStdString();
  }
  EXPECT_FALSE(text.contains(QStringLiteral("99.0"))) << "another device's result";
  // "μΩ" is one narrow word: its Greek letters are not drawn as wide as
  // Chinese characters ("μ Ω").
  int units = 0;
  for (const TPdfWord& w : PdfWords(pdf)) {
    if (w.Text != QStringLiteral("μΩ")) continue;
    ++units;
    const double size = w.YMax - w.YMin;  // about the font's size in points
    EXPECT_LT(w.XMax - w.XMin, 1.5 * size) << "at " << w.XMin << "," << w.YMin;
  }
  EXPECT_GT(units, 5);

  // The rows, oldest first, numbered; a second reason on a line of its own.
  const QList<TPdfLine> lines = PdfLines(PdfWords(pdf));
  QStringList rows;
  for (const TPdfLine& l : lines) {
    if (l.Text().contains(QRegularExpression(QStringLiteral("^\\d \\d\\d-\\d\\d-\\d\\d")))) rows << l.Text();
  }
  ASSERT_EQ(rows.size(), 3) << rows.join('\n').toStdString();
  EXPECT_TRUE(rows[0].startsWith(QStringLiteral("1 24-05-02 09:07 张三"))) << rows[0].toStdString();
  EXPECT_TRUE(rows[0].contains(QStringLiteral("合格")));
  EXPECT_TRUE(rows[1].startsWith(QStringLiteral("2 24-06-02 09:07 王五"))) << rows[1].toStdString();
  EXPECT_TRUE(rows[1].contains(QStringLiteral("注意 三相不平衡 54 %"))) << rows[1].toStdString();
  EXPECT_TRUE(rows[2].startsWith(QStringLiteral("3 24-09-02 09:07 李四"))) << rows[2].toStdString();
  EXPECT_TRUE(rows[2].contains(QStringLiteral("不合格 B相 75.0 μΩ 超过上限 72.0 μΩ"))) << rows[2].toStdString();
  // The last result's further reasons, each on a line of its own.
  QStringList own;
  for (const TPdfLine& l : lines) {
    if (l.Text() == QStringLiteral("较基准上升 63 %") || l.Text() == QStringLiteral("三相不平衡 63 %")) own << l.Text();
  }
  EXPECT_EQ(own, (QStringList{"较基准上升 63 %", "三相不平衡 63 %"}));
  PdfPagePng(pdf, 1, 80, QStringLiteral(QK_TEST_OUTPUT_DIR "/assessment-report"));  // to be looked at
}

// Many results run over pages: the column captions on every page, each
// result once; the footer numbers the pages.
TEST_F(HistoryReport, ResultsRunOverPagesWithCaptionsOnEach) {
  std::vector<QStringList> rows;
  for (int i = 0; i < 60; ++i) {
    const QString t = QDateTime(QDate(2024, 1, 1), QTime(8, 0)).addDays(i).toString(QStringLiteral("yy-MM-dd hh:mm"));
    rows.push_back(Row(t, QStringLiteral("QK-7"), QStringLiteral("45.5 μΩ"), QStringLiteral("46.1 μΩ"),
                       QStringLiteral("45.9 μΩ"), QStringLiteral("人员%1").arg(i)));
  }
  FStore->AddUploaded(rows);
  const QStringList pages = PdfPages(PrintReport(QStringLiteral("QK-7")));
  ASSERT_GE(pages.size(), 3);
  for (int p = 0; p < pages.size(); ++p) {
    EXPECT_TRUE(pages[p].contains(QStringLiteral("说明"))) << p;
    EXPECT_TRUE(pages[p].contains(QStringLiteral("第 %1 页").arg(p + 1))) << p;
  }
  const QString all = pages.join('\n');
  for (int i = 0; i < 60; ++i) {
    EXPECT_EQ(all.count(QRegularExpression(QStringLiteral("人员%1\\b").arg(i))), 1) << i << all.toStdString();
  }
}

TEST_F(HistoryReport, WithoutOneDeviceOrItsResultsThereIsNoReport) {
  FStore->AddUploaded({Row(QStringLiteral("24-05-02 09:07"), QStringLiteral("QK-1"), QStringLiteral("45.5 μΩ"),
                           QStringLiteral("46.1 μΩ"), QStringLiteral("45.9 μΩ"))});
  Page->Refresh();  // every device
  Page->btnReport->click();
  ASSERT_EQ(Msgs.Boxes.size(), 1);
  EXPECT_EQ(Msgs.Boxes[0].text, QStringLiteral("请先选择一个设备编号并查询，再生成评估报告。"));
  Page->cbDevice->setEditText(QStringLiteral("QK-9"));
  Page->btnQuery->click();
  Page->btnReport->click();
  ASSERT_EQ(Msgs.Boxes.size(), 2);
  EXPECT_EQ(Msgs.Boxes[1].text, QStringLiteral("设备“QK-9”在所选时间内没有测试结果。"));
  EXPECT_EQ(OpenPreview(), nullptr);
  EXPECT_EQ(Dialogs.PrintSetupCalls, 0);
}

}  // namespace

namespace {

// The device filter takes what was typed on the first click of "查询" and on
// Enter (a completion list must not take the click); the report is of the
// device the table shows, whatever the box says since.
TEST_F(HistoryReport, TheTypedDeviceIsQueriedAtOnceAndReportedAsShown) {
  FStore->AddUploaded({Row(QStringLiteral("24-05-02 09:07"), QStringLiteral("QK355"), QStringLiteral("45.5 μΩ"),
                           QStringLiteral("46.1 μΩ"), QStringLiteral("45.9 μΩ")),
                       Row(QStringLiteral("24-05-03 09:07"), QStringLiteral("QK355"), QStringLiteral("45.6 μΩ"),
                           QStringLiteral("46.1 μΩ"), QStringLiteral("45.9 μΩ")),
                       Row(QStringLiteral("24-05-02 09:07"), QStringLiteral("QK900"), QStringLiteral("88.0 μΩ"),
                           QStringLiteral("88.1 μΩ"), QStringLiteral("88.2 μΩ"))});
  Page->Refresh();  // every device
  QLineEdit* box = Page->cbDevice->lineEdit();
  auto type = [&](const char* text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QString::fromUtf8(text));
    FlushEvents();
  };
  // A click as the window system delivers it: an open pop-up takes it first.
  auto click = [&](QWidget* w) {
    QWindow* window = w->window()->windowHandle();
    QTest::mouseClick(window, Qt::LeftButton, {}, w->mapTo(w->window(), w->rect().center()));
    FlushEvents();
  };
  type("QK355");
  click(Page->btnQuery);
  ASSERT_EQ(Page->Model->Total(), 2);
  for (int r = 0; r < 2; ++r) EXPECT_EQ(Page->Model->index(r, 2).data().toString(), QStringLiteral("QK355"));
  EXPECT_TRUE(Page->cvTrend->isVisible());
  Page->grab().save(QStringLiteral(QK_TEST_OUTPUT_DIR "/history-trend.png"));  // to be looked at

  // Typed and not queried: the report is of the table's device.
  type("QK7");
  WhenPreviewOpens([&](TFrmPreview* window) {
    Shown = window->windowTitle();
    window->close();
  });
  click(Page->btnReport);
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(Shown, QStringLiteral("回路电阻评估报告 QK355"));

  type("QK900");
  QTest::keyClick(box, Qt::Key_Return);
  FlushEvents();
  ASSERT_EQ(Page->Model->Total(), 1);
  EXPECT_EQ(Page->Model->index(0, 2).data().toString(), QStringLiteral("QK900"));
}

// A result archived from a live test keeps its course: the history shows it
// when the result is chosen, exports it as CSV and the assessment report
// prints it under the result's row.
TEST_F(HistoryReport, AKeptCourseIsShownExportedAndPrintedUnderItsRow) {
  TScriptedDesktop desktop;
  TTestSeries course;
  for (int i = 1; i <= 30; ++i) {
    TSeriesFrame f;
    f.seconds = i;
    f.ohms = {(60.0 - 10.0 / i) * 1e-6, 61.8e-6, 47.3e-6};
    f.current = 200.0;
    course.push_back(f);
  }
  FStore->AddUploaded({Row(QStringLiteral("24-05-02 09:07"), QStringLiteral("QK-3"), QStringLiteral("45.5 μΩ"),
                           QStringLiteral("46.1 μΩ"), QStringLiteral("45.9 μΩ"))});
  ASSERT_EQ(FStore
                ->Add({TNewResult{TResultKind::Archived,
                                  Row(QStringLiteral("24-06-02 10:00"), QStringLiteral("QK-3"), QStringLiteral("59.6 μΩ"),
                                      QStringLiteral("61.8 μΩ"), QStringLiteral("47.3 μΩ")),
                                  TOhms{59.6e-6, 61.8e-6, 47.3e-6}, TStartParams{1, 30, 1}, QDateTime(),
                                  SeriesText(course)}})
                .added,
            1);
  Page->cbDevice->setEditText(QStringLiteral("QK-3"));
  Page->btnQuery->click();
  ASSERT_EQ(Page->Model->rowCount(), 2);
  int archived = -1;
  for (int r = 0; r < 2; ++r) {
    if (Page->Model->Rows()[size_t(r)].texts.value(1) == QStringLiteral("24-06-02 10:00")) archived = r;
  }
  ASSERT_GE(archived, 0);
  Page->tvResults->setCurrentIndex(Page->Model->index(1 - archived, 0));
  EXPECT_FALSE(Page->cvCourse->isVisible());
  EXPECT_FALSE(Page->btnExportCourse->isEnabled());
  Page->tvResults->setCurrentIndex(Page->Model->index(archived, 0));
  EXPECT_TRUE(Page->cvCourse->isVisible());
  EXPECT_GT(Page->cvCourse->height(), 150);  // given room, not a collapsed pane
  EXPECT_EQ(static_cast<QXYSeries*>(Page->cvCourse->chart()->series().at(0))->count(), 30);
  QCoreApplication::processEvents();
  Page->grab().save(QStringLiteral(QK_TEST_OUTPUT_DIR "/history-course.png"));  // to be looked at

  const QString csv = FDir.filePath(QStringLiteral("course.csv"));
  desktop.SaveNames << csv;
  ASSERT_TRUE(Page->btnExportCourse->isEnabled());
  Page->btnExportCourse->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  QFile file(csv);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));  // UTF-8 as spreadsheet programs recognise it
  const QStringList lines = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 31);
  EXPECT_EQ(lines[0], QStringLiteral("秒,A相电阻(μΩ),B相电阻(μΩ),C相电阻(μΩ),电流(A),说明"));
  EXPECT_EQ(lines[1], QStringLiteral("1,50.000,61.800,47.300,200,"));

  const QString pdf = PrintReport(QStringLiteral("QK-3"));
  QFile::remove(QStringLiteral(QK_TEST_OUTPUT_DIR "/assessment-course.pdf"));
  QFile::copy(pdf, QStringLiteral(QK_TEST_OUTPUT_DIR "/assessment-course.pdf"));  // to be looked at
  const QString text = PdfText(pdf);
  EXPECT_EQ(text.count(QStringLiteral("测试过程")), 1) << text.toStdString();
  // The course stands under its own row, before the page ends.
  EXPECT_LT(text.indexOf(QStringLiteral("24-06-02 10:00")), text.indexOf(QStringLiteral("测试过程")));
}

}  // namespace
