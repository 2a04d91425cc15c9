// "打开" of the archive tab, clicked in the main window, on every input that
// broke a reader once: a refusal says why and keeps the archive; a file that
// reads is loaded.
#include <QPushButton>

#include "forms/main_fixture.h"

namespace {

struct TOpenCase {
  const char* file;
  int records;       // -1: refused, the archive stays as it was
  const char* says;  // in the box's text or its detail
};

class OpenReproducer : public MainRig, public ::testing::WithParamInterface<TOpenCase> {};

TEST_P(OpenReproducer, RefusesWithAReasonAndKeepsTheArchiveOrLoadsIt) {
  const TOpenCase& c = GetParam();
  StartWithoutInstrument();
  W->SGSave->SetRowCount(3);
  const QStringList kept = {QStringLiteral(" 1"), QStringLiteral("24-05-02 09:07"), QStringLiteral("QK355")};
  for (int r = 1; r <= 2; ++r) {
    for (int col = 0; col < kept.size(); ++col) W->SGSave->SetCells(col, r, kept[col]);
  }
  W->Params.giSaveCount = 2;
  TScriptedDesktop desktop;
  desktop.OpenNames << QStringLiteral(QT_TESTCASE_SOURCEDIR "/fuzz/repro/") + QString::fromUtf8(c.file);

  W->BtnOpen->click();

  QString shown;
  for (const TMsgRequest& b : Msgs.Boxes) shown += b.text + QLatin1Char(' ') + b.detail;
  EXPECT_TRUE(shown.contains(QString::fromUtf8(c.says))) << shown.toStdString();
  if (c.records < 0) {
    EXPECT_EQ(W->Params.giSaveCount, 2);
    EXPECT_EQ(W->SGSave->RowTexts(2).mid(0, 3), kept);
  } else {
    EXPECT_EQ(W->Params.giSaveCount, c.records);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, OpenReproducer,
    ::testing::Values(
        // A CSV file without a caption row reads as an empty file.
        TOpenCase{"csv-lone-quote.csv", -1, "指定的文件沒有內容"},
        TOpenCase{"csv-only-empty-quoted-field.csv", -1, "指定的文件沒有內容"},
        TOpenCase{"ods-far-column-repeated-rows-unbounded-mem.ods", 1000000, ""},
        TOpenCase{"ods-rows-repeated-signed-overflow-ub.ods", -1, "文件中没有测试记录："},
        TOpenCase{"ods-text-s-count-6GB-alloc.ods", -1, "超过 1024 MB 的上限"},
        TOpenCase{"xls-directory-chain-cycle-550MB-rss.xls", -1, "工作簿已损坏"},
        TOpenCase{"xls-minisector-shift-exponent-ub.xls", -1, "工作簿已损坏"},
        TOpenCase{"xls-minisector-shift31-oob-read.xls", -1, "工作簿已损坏"},
        TOpenCase{"xls-ministream-negative-sector-oob-read.xls", -1, "工作簿已损坏"},
        TOpenCase{"xls-stream-fat-cycle-accepted-silently.xls", -1, "扇区链有循环"},
        TOpenCase{"xlsx-memcpy-null-ub-any-cell-without-t.xlsx", 3, ""},
        TOpenCase{"xlsx-nested-20M-elements-1GB-rss.xlsx", -1, "嵌套超过 256 层"},
        TOpenCase{"xlsx-unterminated-attribute-64MB-quadratic-scan.xlsx", -1, "标记超过 64 MB"},
        TOpenCase{"xmlss-mergeacross-signed-overflow-ub.xml", -1, "超过 16384 列"}),
    [](const auto& info) {
      std::string name = info.param.file;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

}  // namespace
