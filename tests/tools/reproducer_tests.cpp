// Every input that broke a reader once, through qk4820-convert: it ends in a
// clear refusal or a correct read, and the converter stays within 1.2 GB.
// (How long each takes is printed by bench_files; a run is only killed when
// it hangs.)
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/MeasuredRun.h"

namespace {

struct TReproducer {
  const char* file;
  int exitCode;      // 0: read and saved; 1: refused
  const char* says;  // on standard error
};

class Reproducer : public ::testing::TestWithParam<TReproducer> {};

TEST_P(Reproducer, EndsInAReasonOrARecordWithinBoundedMemory) {
  const TReproducer& c = GetParam();
  QTemporaryDir dir;
  const QString out = dir.filePath(QStringLiteral("out.csv"));
  const TMeasuredRun run = RunMeasured(QStringLiteral(QK4820_CONVERT_PATH),
                                       {QStringLiteral(QT_TESTCASE_SOURCEDIR "/fuzz/repro/") + QString::fromUtf8(c.file), out});
  ASSERT_TRUE(run.finished) << "still running after a minute";
  EXPECT_EQ(run.signal, 0) << run.err.toStdString();
  EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.says))) << run.err.toStdString();
  EXPECT_LT(run.peakKiB, 1200 * 1024) << run.peakKiB << " KiB";
  EXPECT_EQ(QFile::exists(out), c.exitCode == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Reproducer,
    ::testing::Values(
        TReproducer{"csv-lone-quote.csv", 1, "指定的文件沒有內容"},
        TReproducer{"csv-only-empty-quoted-field.csv", 1, "指定的文件沒有內容"},
        // A million rows, each with a value at the last column: read.
        TReproducer{"ods-far-column-repeated-rows-unbounded-mem.ods", 0, ""},
        TReproducer{"ods-rows-repeated-signed-overflow-ub.ods", 1, "文件中没有测试记录"},
        TReproducer{"ods-text-s-count-6GB-alloc.ods", 1, "超过 1024 MB 的上限"},
        TReproducer{"xls-directory-chain-cycle-550MB-rss.xls", 1, "Excel 97-2003 工作簿已损坏"},
        TReproducer{"xls-minisector-shift-exponent-ub.xls", 1, "Excel 97-2003 工作簿已损坏（小扇区大小）"},
        TReproducer{"xls-minisector-shift31-oob-read.xls", 1, "Excel 97-2003 工作簿已损坏（小扇区大小）"},
        TReproducer{"xls-ministream-negative-sector-oob-read.xls", 1, "Excel 97-2003 工作簿已损坏（小扇区大小）"},
        TReproducer{"xls-stream-fat-cycle-accepted-silently.xls", 1, "扇区链有循环"},
        TReproducer{"xlsx-memcpy-null-ub-any-cell-without-t.xlsx", 0, ""},
        TReproducer{"xlsx-nested-20M-elements-1GB-rss.xlsx", 1, "嵌套超过 256 层"},
        TReproducer{"xlsx-unterminated-attribute-64MB-quadratic-scan.xlsx", 1, "标记超过 64 MB"},
        TReproducer{"xmlss-mergeacross-signed-overflow-ub.xml", 1, "超过 16384 列"}),
    [](const auto& info) {
      std::string name = info.param.file;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

}  // namespace
