// The tab "历史记录" over more results than it reads at once: the rows come
// as the table scrolls, newest first, each once; the export writes every row
// the filter selects, not only those scrolled to.
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QFile>
#include <QLabel>
#include <QLineSeries>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>

#include "history_fixture.h"

namespace {

class HistoryPage : public HistoryFixture {
 protected:
  void SetUp() override {
    HistoryFixture::SetUp();
    std::vector<QStringList> rows;
    for (int i = 0; i < kResults; ++i) {
      const QDateTime t = QDateTime(QDate(2024, 1, 1), QTime(8, 0)).addSecs(60 * (i / 2));  // two to a minute
      rows.push_back({QString::asprintf("%2d", i % 255 + 1), t.toString(QStringLiteral("yy-MM-dd hh:mm")),
                      i % 2 ? QStringLiteral("QK-2") : QStringLiteral("QK-1"), QStringLiteral("测试员%1").arg(i),
                      QStringLiteral("变电站"), QStringLiteral("200A"), QStringLiteral("30 秒"), QStringLiteral("三相"),
                      QStringLiteral("45.5 μΩ"), QStringLiteral("46.1 μΩ"), QStringLiteral("47.0 μΩ")});
    }
    ASSERT_EQ(FStore->AddUploaded(rows), kResults);
  }
  static constexpr int kResults = 450;
};

TEST_F(HistoryPage, RowsComeAsTheTableScrollsEachOnceNewestFirst) {
  Page->Refresh();
  THistoryModel* model = Page->Model;
  EXPECT_EQ(model->rowCount(), THistoryModel::kPage);
  EXPECT_EQ(model->Total(), kResults);
  EXPECT_TRUE(Page->lblStatus->text().startsWith(QStringLiteral("共 450 条结果"))) << Page->lblStatus->text().toStdString();
  // The operator scrolls to the end of the table until nothing more comes.
  for (int round = 0; round < 10 && model->rowCount() < kResults; ++round) {
    QScrollBar* bar = Page->tvResults->verticalScrollBar();
    bar->setValue(bar->maximum());
    QApplication::processEvents();
  }
  ASSERT_EQ(model->rowCount(), kResults);
  std::set<QString> people;
  for (int r = 0; r < kResults; ++r) {
    people.insert(model->index(r, 3).data().toString());
    EXPECT_EQ(model->index(r, 14).data().toString(), QStringLiteral("合格")) << r;
    if (r > 0) EXPECT_GE(model->index(r - 1, 1).data().toString(), model->index(r, 1).data().toString()) << r;
  }
  EXPECT_EQ(people.size(), size_t(kResults));
  EXPECT_EQ(model->index(0, 3).data().toString(), QStringLiteral("测试员449"));
  // The history numbers its own rows (the uploads numbered theirs 1 to 255
  // and again).
  for (int r = 0; r < kResults; ++r) EXPECT_EQ(model->index(r, 0).data().toString(), QString::number(r + 1)) << r;
}

TEST_F(HistoryPage, ExportWritesEveryRowOfTheFilter) {
  TScriptedDesktop desktop;
  const QString file = FDir.filePath(QStringLiteral("导出.csv"));
  desktop.SaveNames << file;
  Page->cbDevice->setEditText(QStringLiteral("QK-2"));
  Page->Refresh();
  ASSERT_LT(Page->Model->rowCount(), kResults / 2);
  Page->btnExport->click();
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << Msgs.Texts().join('|').toStdString();
  // CSV files are UTF-8 with a byte-order mark, as spreadsheet programs expect.
  const QByteArray bytes = f.readAll();
  ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
  const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 1 + kResults / 2);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("序号"))) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].contains(QStringLiteral("测试员449")));
  EXPECT_TRUE(lines.last().contains(QStringLiteral("测试员1,"))) << lines.last().toStdString();
}

// The history's own export, in a workbook, imports again as nothing new:
// each test once.
TEST_F(HistoryPage, ItsExportImportsAgainAsNothingNew) {
  TScriptedDesktop desktop;
  const QString file = FDir.filePath(QStringLiteral("导出.xlsx"));
  desktop.SaveNames << file;
  desktop.OpenNames << file;
  Page->Refresh();
  Page->btnExport->click();
  ASSERT_TRUE(QFile::exists(file)) << Msgs.Texts().join('|').toStdString();
  Page->btnImport->click();
  ASSERT_EQ(Msgs.Boxes.size(), 1) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(Msgs.Boxes[0].text, QStringLiteral("已导入 0 条结果，450 条已在历史记录中。"));
  EXPECT_EQ(FStore->Count({}), kResults);
}

}  // namespace

namespace {

using HistoryImport = HistoryFixture;

// A workbook another program wrote, whose values are bare numbers under
// captions that name no unit: no row is stored with a value it does not
// have; each refused row is named with the reason.
TEST_F(HistoryImport, BareNumbersWithoutAUnitAreRefusedRowByRow) {
  TScriptedDesktop desktop;
  const QString file = QStringLiteral(QT_TESTCASE_SOURCEDIR "/spreadsheet/fixtures/openpyxl.xlsx");
  desktop.OpenNames << file;
  Page->btnImport->click();
  ASSERT_EQ(Msgs.Boxes.size(), 1);
  const QString text = Msgs.Boxes[0].text;
  EXPECT_TRUE(text.startsWith(QStringLiteral(
      "已导入 0 条结果，0 条已在历史记录中，3 条未导入（第 2 行：测试电阻(A)\"12.5\"没有单位，测试电阻(B)\"13\"没有单位，"
      "测试电阻(C)\"0.75\"没有单位；第 3 行：")))
      << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("载流时间\"09:07\"无法识别"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("第 4 行：测试电阻(A)\"0.5\"没有单位"))) << text.toStdString();
  EXPECT_EQ(FStore->Count({}), 0);
}

}  // namespace

namespace {

using HistoryTrend = HistoryFixture;

// Hovering a point of the trend tells its result: the time, every phase and
// the verdict; two results of one minute are told apart by their values.
TEST_F(HistoryTrend, APointTellsItsResult) {
  auto row = [](const char* b) {
    return QStringList{" 1", "24-05-02 09:07", "QK-1", "张三", "变电站", "200A", "30 秒", "三相",
                       "45.5 μΩ", QString::fromUtf8(b), "45.9 μΩ"};
  };
  FStore->AddUploaded({row("46.1 μΩ"), row("61.6 μΩ")});
  TCriteria c;
  c.maxMicroOhm = 55;
  FStore->SetCriteria(QStringLiteral("QK-1"), c);
  Page->cbDevice->setEditText(QStringLiteral("QK-1"));
  Page->Refresh();
  ASSERT_EQ(Page->Phase[1]->count(), 2);
  QStringList texts;
  for (int i = 0; i < 2; ++i) texts << Page->PointText(1, Page->Phase[1]->at(i));
  texts.sort();
  EXPECT_EQ(texts, (QStringList{"24-05-02 09:07  A相 45.5 μΩ  B相 46.1 μΩ  C相 45.9 μΩ  合格",
                                "24-05-02 09:07  A相 45.5 μΩ  B相 61.6 μΩ  C相 45.9 μΩ  不合格：B相 61.6 μΩ 超过上限 55.0 μΩ；"
                                "较基准上升 34 %"}));
}

}  // namespace
