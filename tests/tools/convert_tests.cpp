// qk4820-convert: the program's own open and save operations from the
// command line, without a display.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "platform/Gbk.h"
#include "support/SpreadsheetFixtures.h"

namespace {

struct TRun {
  int exitCode = -1;
  QString err;
  QString out;
};

// Runs the tool with neither a display nor a platform named.
TRun Convert(const QStringList& args) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove(QStringLiteral("DISPLAY"));
  env.remove(QStringLiteral("WAYLAND_DISPLAY"));
  env.remove(QStringLiteral("QT_QPA_PLATFORM"));
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(QK4820_CONVERT_PATH), args);
  EXPECT_TRUE(p.waitForFinished(30000));
  TRun r;
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.err = QString::fromUtf8(p.readAllStandardError());
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  return r;
}

QByteArray Read(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Two records as the program writes a text file.
QByteArray TextArchive() {
  QString t;
  for (int r = 1; r <= 2; ++r) {
    t += QStringLiteral("序号=%1\r\n[参数]\r\n时间=24-05-0%1 09:07\r\n设备编号=QK-%1\r\n测试人员=张三\r\n"
                        "测试地点=一号站,东\r\n测试档位=100A\r\n载流时间=30 秒\r\n[试验结果]\r\n测试相=三相\r\n"
                        "A相电阻=52.4 μΩ\r\nB相电阻=61.9 μΩ\r\nC相电阻=47.3 μΩ\r\n\r\n\r\n")
             .arg(r);
  }
  return ToGbk(t);
}

class ConvertRoundTrip : public ::testing::TestWithParam<const char*> {};

// Text → KIND → text gives back the same bytes: every column survives.
TEST_P(ConvertRoundTrip, TextThroughEachKindAndBack) {
  QTemporaryDir dir;
  const QString in = dir.filePath(QStringLiteral("in.txt"));
  WriteFixtureFile(in, TextArchive());
  const QString middle = dir.filePath(QStringLiteral("middle.") + QString::fromLatin1(GetParam()));
  const QString back = dir.filePath(QStringLiteral("back.txt"));
  TRun a = Convert({in, middle});
  ASSERT_EQ(a.exitCode, 0) << a.err.toStdString();
  EXPECT_TRUE(a.err.isEmpty()) << a.err.toStdString();
  TRun b = Convert({middle, back});
  ASSERT_EQ(b.exitCode, 0) << b.err.toStdString();
  EXPECT_EQ(Read(back), Read(in));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ConvertRoundTrip, ::testing::Values("csv", "xls", "xlsx", "txt"),
                         [](const ::testing::TestParamInfo<const char*>& i) { return std::string(i.param); });

TEST(Convert, FailuresAreReportedInChineseWithANonZeroStatus) {
  QTemporaryDir dir;
  TRun missing = Convert({dir.filePath(QStringLiteral("none.txt")), dir.filePath(QStringLiteral("out.csv"))});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(missing.err.contains(QStringLiteral("不存在"))) << missing.err.toStdString();
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("out.csv"))));

  const QString blank = dir.filePath(QStringLiteral("blank.txt"));
  WriteFixtureFile(blank, "\r\n");
  TRun empty = Convert({blank, dir.filePath(QStringLiteral("out.csv"))});
  EXPECT_EQ(empty.exitCode, 1);
  EXPECT_TRUE(empty.err.contains(QStringLiteral("指定的文件沒有內容"))) << empty.err.toStdString();

  const QString notSheet = dir.filePath(QStringLiteral("garbage.xls"));
  WriteFixtureFile(notSheet, "not a workbook");
  TRun bad = Convert({notSheet, dir.filePath(QStringLiteral("out.txt"))});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_TRUE(bad.err.contains(QStringLiteral("转换成Excel格式失败！"))) << bad.err.toStdString();
}

TEST(Convert, HelpAndWrongArguments) {
  TRun help = Convert({QStringLiteral("--help")});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(help.out.contains(QStringLiteral("qk4820-convert [--lossy] 输入文件 输出文件")));
  TRun none = Convert({});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_TRUE(none.err.contains(QStringLiteral("需要两个参数")));
  EXPECT_EQ(Convert({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}).exitCode, 2);
}

// More records than Excel 97-2003 holds: the writer's reason is told, not
// only that the conversion failed.
TEST(Convert, TooManyRecordsForXlsSayWhy) {
  QTemporaryDir dir;
  const QString in = dir.filePath(QStringLiteral("many.csv"));
  QByteArray csv = "\xEF\xBB\xBF序号,时间,设备编号\r\n";
  for (int r = 1; r <= 65536; ++r) csv += QByteArray::number(r) + ",24-05-02 09:07,QK\r\n";
  QFile f(in);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(csv);
  f.close();
  const TRun r = Convert({in, dir.filePath(QStringLiteral("many.xls"))});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("转换成Excel格式失败！"))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("最多容纳 65536 行"))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("请保存为 .xlsx 文件"))) << r.err.toStdString();
}

// A text file cannot keep every character: the conversion names them and
// fails, unless --lossy lets them be written as '?'.
TEST(Convert, CharactersATextFileCannotKeepAreNamedUnlessLossy) {
  QTemporaryDir dir;
  const QString in = dir.filePath(QStringLiteral("names.csv"));
  QFile f(in);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("\xEF\xBB\xBF序号,时间,设备编号,测试人员\r\n1,24-05-02 09:07,QK☃,김\r\n");
  f.close();
  const QString out = dir.filePath(QStringLiteral("names.txt"));
  const TRun refused = Convert({in, out});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(refused.err.contains(QStringLiteral("以下字符无法保存到文本文件：☃ 김。"))) << refused.err.toStdString();
  EXPECT_FALSE(QFile::exists(out));
  const TRun lossy = Convert({QStringLiteral("--lossy"), in, out});
  EXPECT_EQ(lossy.exitCode, 0) << lossy.err.toStdString();
  EXPECT_TRUE(FromGbk(Read(out)).contains(QStringLiteral("设备编号=QK?\r\n")));
}

}  // namespace
