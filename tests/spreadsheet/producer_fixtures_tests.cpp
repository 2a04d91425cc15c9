// Workbooks written by the spreadsheet programs operators use (made by
// fixtures/make_fixtures.sh): the reader shows what the spreadsheet shows.
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include "spreadsheet/Spreadsheet.h"
#include "support/SpreadsheetFixtures.h"

namespace {

QString Fixture(const char* name) { return QStringLiteral(QT_TESTCASE_SOURCEDIR "/spreadsheet/fixtures/") + name; }

const QStringList kCaptions = {"序号", "测试时间", "编号", "测试员", "地点", "电流", "时间", "相别", "A相", "B相", "C相"};
const QStringList kRecord1 = {"1", "24-05-02 09:07", "0815", "张三", "时间广场", "200A", "30 秒", "三相", "12.5", "13", "0.75"};
// Formula results (A), a plain date, an error, a time, a percentage, currency, a boolean.
const QStringList kRecord2 = {"2", "24-05-03", "QK-2", "李四", "#N/A", "100A", "09:07", "单相", "0.25", "8.5", "TRUE"};
const QStringList kRecord3 = {"3", "24-05-04 10:00", "QK-3", "王五", "开关站", "100A", "15 秒", "单相", "0.5", "1.5", "FALSE"};

QStringList Row(const TReadBack& app, int row) {
  QStringList out;
  for (int c = 1; c <= 11; ++c) out << app.CellValue(row, c);
  return out;
}

struct TProducerFile {
  const char* file;
  const char* cellE3;  // openpyxl writes no formula results: no error there
  // LibreOffice stores 0 as the last result of a text formula in .xls (it
  // recalculates on opening); the file holds no "QK-3" to show.
  const char* cellC4 = "QK-3";
};

class ProducerFiles : public ::testing::TestWithParam<TProducerFile> {};

TEST_P(ProducerFiles, ShowTheActiveSheetAsTheSpreadsheetShowsIt) {
  auto app = std::make_unique<TReadBack>(Fixture(GetParam().file));
  EXPECT_EQ(app->UsedRangeRowsCount(), 4);
  EXPECT_EQ(Row(*app, 1), kCaptions);
  EXPECT_EQ(Row(*app, 2), kRecord1);
  QStringList second = kRecord2;
  second[4] = QString::fromUtf8(GetParam().cellE3);
  EXPECT_EQ(Row(*app, 3), second);
  QStringList third = kRecord3;
  third[2] = QString::fromUtf8(GetParam().cellC4);
  EXPECT_EQ(Row(*app, 4), third);
}

INSTANTIATE_TEST_SUITE_P(
    Producers, ProducerFiles,
    ::testing::Values(TProducerFile{"libreoffice.xlsx", "#N/A"}, TProducerFile{"libreoffice.xls", "#N/A", "0"},
                      TProducerFile{"libreoffice.ods", "#N/A"}, TProducerFile{"gnumeric.xlsx", "#N/A"},
                      TProducerFile{"gnumeric.xls", "#N/A"}, TProducerFile{"gnumeric.ods", "#N/A"},
                      TProducerFile{"openpyxl.xlsx", "开关站"}, TProducerFile{"sheetjs.xlsx", "#N/A"},
                      TProducerFile{"sheetjs.xls", "#N/A"}),
    [](const ::testing::TestParamInfo<TProducerFile>& i) {
      std::string n = i.param.file;
      for (char& c : n) {
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return n;
    });

// A1 and XFD1048576 and nothing between: read in no time, the used rows
// span the sheet.
TEST(ProducerFiles, AFarCellCostsNoMoreThanANearOne) {
  auto app = std::make_unique<TReadBack>(Fixture("openpyxl-far-cell.xlsx"));
  EXPECT_EQ(app->UsedRangeRowsCount(), 1048576);
  EXPECT_EQ(app->CellValue(1, 1), QStringLiteral("序号"));
  EXPECT_EQ(app->CellValue(1048576, 16384), QStringLiteral("远处"));
  EXPECT_EQ(app->CellValue(2, 1), QString());
}

TEST(ProducerFiles, AZipBombIsRefusedWithAReason) {
  try {
    TReadBack app(Fixture("zip-bomb.xlsx"));
    FAIL() << "the zip bomb was read";
  } catch (const ESpreadsheetError& e) {
    EXPECT_TRUE(e.Text().contains(QStringLiteral("解压后超过"))) << e.Text().toStdString();
  }
}

}  // namespace
