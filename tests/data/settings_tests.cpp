// Working parameters and the settings file SystemFile.ini.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "data/UDataCenter.h"
#include "platform/Gbk.h"
#include "platform/IniFile.h"
#include "platform/MessageService.h"

namespace {

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    SetAppDir(dir.path());
    P = TWorkingParams{};
  }
  void TearDown() override { SetAppDir(QString()); }

  void WriteFile(const QByteArray& bytes) {
    QFile f(SettingsFileName());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  QByteArray ReadFile() {
    QFile f(SettingsFileName());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  QTemporaryDir dir;
  TWorkingParams P;
};

TEST_F(SettingsFile, MissingFileGivesTheDefaults) {
  P.iTestTime = 77;
  P.strTestUser = QStringLiteral("x");
  P.giCommStyle = 0;
  LoadSettings(P);
  EXPECT_EQ(P.strCurrentStep, QStringLiteral("100A"));
  EXPECT_EQ(P.strPhase, QStringLiteral("单相"));
  EXPECT_EQ(P.iTestTime, 5);
  EXPECT_TRUE(P.strTestUser.isEmpty());
  EXPECT_TRUE(P.strTestAdd.isEmpty());
  EXPECT_TRUE(P.strDevice.isEmpty());
  EXPECT_EQ(P.giCommStyle, 1);
  EXPECT_EQ(P.giCommPort, 3);
  EXPECT_EQ(P.giBaudRate, 6);
  EXPECT_EQ(P.giSaveScreen, 0);
  EXPECT_EQ(P.giScreenLeft, 0);
  EXPECT_EQ(P.giScreenTop, 0);
  EXPECT_EQ(P.giScreenWidth, 0);
  EXPECT_EQ(P.giScreenHeight, 0);
  EXPECT_FALSE(QFile::exists(SettingsFileName())) << "reading must not create the file";
}

TEST_F(SettingsFile, SaveThenLoadRoundTrips) {
  P.strCurrentStep = QStringLiteral("200A");
  P.strPhase = QStringLiteral("三相");
  P.iTestTime = 25;
  P.strTestUser = QStringLiteral("张三");
  P.strTestAdd = QStringLiteral("变电站 2号");
  P.strDevice = QStringLiteral("DL-0042");
  P.giCommPort = 7;
  P.giBaudRate = 12;
  SaveSettings(P);
  P = TWorkingParams{};
  LoadSettings(P);
  EXPECT_EQ(P.strCurrentStep, QStringLiteral("200A"));
  EXPECT_EQ(P.strPhase, QStringLiteral("三相"));
  EXPECT_EQ(P.iTestTime, 25);
  EXPECT_EQ(P.strTestUser, QStringLiteral("张三"));
  EXPECT_EQ(P.strTestAdd, QStringLiteral("变电站 2号"));
  EXPECT_EQ(P.strDevice, QStringLiteral("DL-0042"));
  EXPECT_EQ(P.giCommPort, 7);
  EXPECT_EQ(P.giBaudRate, 12);
}

TEST_F(SettingsFile, WritesGbkWithCrLfInTheDocumentedOrder) {
  P.strTestUser = QStringLiteral("张三");
  SaveSettings(P);
  const QByteArray bytes = ReadFile();
  EXPECT_TRUE(bytes.contains("strTestUser=\xD5\xC5\xC8\xFD\r\n")) << bytes.toHex(' ').constData();
  EXPECT_TRUE(bytes.contains("strPhase=\xB5\xA5\xCF\xE0\r\n"));
  EXPECT_FALSE(bytes.contains("\xE5\xBC\xA0")) << "no UTF-8 on disk";
  const QList<QByteArray> keys = {"[SetParam]", "strCurrentStep=", "strPhase=", "iTestTime=",
                                  "[RestParam]", "strTestUser=", "strTestAdd=", "strDevice=",
                                  "[Communication]", "giCommStyle=1", "giCommPort=", "giBaudRate="};
  qsizetype at = -1;
  for (const QByteArray& k : keys) {
    const qsizetype next = bytes.indexOf(k);
    ASSERT_GT(next, at) << k.constData();
    at = next;
  }
}

TEST_F(SettingsFile, SaveKeepsScreenSectionCommentsAndUnknownContent) {
  const QByteArray before =
      "; settings of the bench PC\r\n"
      "[Screen]\r\n"
      "save=1\r\n"
      "left=10\r\n"
      "top=20\r\n"
      "width=800\r\n"
      "height=600\r\n"
      "\r\n"
      "[Ports]\r\n"
      "COM3=/dev/ttyUSB0\r\n"
      "\r\n"
      "[setparam]\r\n"
      "Vendor=\xB2\xE2\xCA\xD4\r\n"
      "ITESTTIME=9\r\n";
  WriteFile(before);
  LoadSettings(P);
  EXPECT_EQ(P.iTestTime, 9) << "sections and keys compare without case";
  EXPECT_EQ(P.giSaveScreen, 1);
  EXPECT_EQ(P.giScreenLeft, 10);
  EXPECT_EQ(P.giScreenHeight, 600);
  P.iTestTime = 12;
  SaveSettings(P);
  const QByteArray after = ReadFile();
  EXPECT_TRUE(after.startsWith(before.left(before.indexOf("[setparam]"))))
      << "everything above the rewritten section stays byte for byte:\n" << after.constData();
  EXPECT_TRUE(after.contains("Vendor=\xB2\xE2\xCA\xD4\r\n"));
  EXPECT_TRUE(after.contains("ITESTTIME=12\r\n")) << "the key keeps its spelling, once";
  EXPECT_EQ(after.count("TESTTIME"), 1);
  EXPECT_TRUE(after.contains("[Communication]\r\n"));
}

TEST_F(SettingsFile, ShortTextsAreCutTo20BytesWithoutSplittingACharacter) {
  TIniFile ini(SettingsFileName());
  ini.WriteString("RestParam", "strTestUser", "ABCDEFGHIJKLMNOPQRSTUVWXY");  // 25 letters
  ini.WriteString("RestParam", "strTestAdd", QStringLiteral("一二三四五六七八九十壹"));  // 22 bytes
  ini.WriteString("RestParam", "strDevice", QStringLiteral("a一二三四五六七八九十"));  // 21 bytes
  LoadSettings(P);
  EXPECT_EQ(P.strTestUser, QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
  EXPECT_EQ(P.strTestAdd, QStringLiteral("一二三四五六七八九十"));
  EXPECT_EQ(P.strDevice, QStringLiteral("a一二三四五六七八九")) << "19 bytes: the split tenth character is dropped";
  EXPECT_EQ(GbkLength(P.strDevice), 19);
}

TEST_F(SettingsFile, StoredTransportIsNotReadAndSaveWritesSerial) {
  WriteFile("[Communication]\r\ngiCommStyle=0\r\n");
  LoadSettings(P);
  EXPECT_EQ(P.giCommStyle, 1);
  SaveSettings(P);
  EXPECT_TRUE(ReadFile().contains("giCommStyle=1\r\n"));
  EXPECT_FALSE(ReadFile().contains("giCommStyle=0"));
}

struct IntegerCase {
  const char* stored;
  int expected;
};

class StoredInteger : public SettingsFile, public ::testing::WithParamInterface<IntegerCase> {};

TEST_P(StoredInteger, ReadsAsNumberOrDefault) {
  WriteFile(QByteArray("[SetParam]\r\niTestTime=") + GetParam().stored + "\r\n");
  LoadSettings(P);
  EXPECT_EQ(P.iTestTime, GetParam().expected) << GetParam().stored;
}

INSTANTIATE_TEST_SUITE_P(Values, StoredInteger,
                         ::testing::Values(IntegerCase{"abc", 5}, IntegerCase{"", 5},
                                           IntegerCase{"12abc", 5}, IntegerCase{"  45 ", 45},
                                           IntegerCase{"-3", -3}, IntegerCase{"0x1E", 30},
                                           IntegerCase{"99999999999", 5}, IntegerCase{"30", 30}));

TEST_F(SettingsFile, FailedSaveReportsTheFileAndLeavesNoPartialFile) {
  SetAppDir(dir.filePath("no-such-folder"));
  P.iTestTime = 50;
  try {
    SaveSettings(P);
    ADD_FAILURE() << "saving into a missing folder must fail";
  } catch (const EAppError& e) {
    EXPECT_TRUE(e.Text().contains(QStringLiteral("SystemFile.ini"))) << e.Text().toStdString();
  }
  EXPECT_FALSE(QFile::exists(SettingsFileName()));
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty()) << "no temporary file is left";
}

}  // namespace
