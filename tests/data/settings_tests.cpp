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
    ResetWorkingParameters();
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
};

TEST_F(SettingsFile, MissingFileGivesTheDefaults) {
  iTestTime = 77;
  strTestUser = QStringLiteral("x");
  giCommStyle = 0;
  LoadSettings();
  EXPECT_EQ(strCurrentStep, QStringLiteral("100A"));
  EXPECT_EQ(strPhase, QStringLiteral("单相"));
  EXPECT_EQ(iTestTime, 5);
  EXPECT_TRUE(strTestUser.isEmpty());
  EXPECT_TRUE(strTestAdd.isEmpty());
  EXPECT_TRUE(strDevice.isEmpty());
  EXPECT_EQ(giCommStyle, 1);
  EXPECT_EQ(giCommPort, 3);
  EXPECT_EQ(giBaudRate, 6);
  EXPECT_EQ(giSaveScreen, 0);
  EXPECT_EQ(giScreenLeft, 0);
  EXPECT_EQ(giScreenTop, 0);
  EXPECT_EQ(giScreenWidth, 0);
  EXPECT_EQ(giScreenHeight, 0);
  EXPECT_FALSE(QFile::exists(SettingsFileName())) << "reading must not create the file";
}

TEST_F(SettingsFile, SaveThenLoadRoundTrips) {
  strCurrentStep = QStringLiteral("200A");
  strPhase = QStringLiteral("三相");
  iTestTime = 25;
  strTestUser = QStringLiteral("张三");
  strTestAdd = QStringLiteral("变电站 2号");
  strDevice = QStringLiteral("DL-0042");
  giCommPort = 7;
  giBaudRate = 12;
  SaveSettings();
  ResetWorkingParameters();
  LoadSettings();
  EXPECT_EQ(strCurrentStep, QStringLiteral("200A"));
  EXPECT_EQ(strPhase, QStringLiteral("三相"));
  EXPECT_EQ(iTestTime, 25);
  EXPECT_EQ(strTestUser, QStringLiteral("张三"));
  EXPECT_EQ(strTestAdd, QStringLiteral("变电站 2号"));
  EXPECT_EQ(strDevice, QStringLiteral("DL-0042"));
  EXPECT_EQ(giCommPort, 7);
  EXPECT_EQ(giBaudRate, 12);
}

TEST_F(SettingsFile, WritesGbkWithCrLfInTheDocumentedOrder) {
  strTestUser = QStringLiteral("张三");
  SaveSettings();
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
  LoadSettings();
  EXPECT_EQ(iTestTime, 9) << "sections and keys compare without case";
  EXPECT_EQ(giSaveScreen, 1);
  EXPECT_EQ(giScreenLeft, 10);
  EXPECT_EQ(giScreenHeight, 600);
  iTestTime = 12;
  SaveSettings();
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
  LoadSettings();
  EXPECT_EQ(strTestUser, QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
  EXPECT_EQ(strTestAdd, QStringLiteral("一二三四五六七八九十"));
  EXPECT_EQ(strDevice, QStringLiteral("a一二三四五六七八九")) << "19 bytes: the split tenth character is dropped";
  EXPECT_EQ(GbkLength(strDevice), 19);
}

TEST_F(SettingsFile, StoredTransportIsNotReadAndSaveWritesSerial) {
  WriteFile("[Communication]\r\ngiCommStyle=0\r\n");
  LoadSettings();
  EXPECT_EQ(giCommStyle, 1);
  SaveSettings();
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
  LoadSettings();
  EXPECT_EQ(iTestTime, GetParam().expected) << GetParam().stored;
}

INSTANTIATE_TEST_SUITE_P(Values, StoredInteger,
                         ::testing::Values(IntegerCase{"abc", 5}, IntegerCase{"", 5},
                                           IntegerCase{"12abc", 5}, IntegerCase{"  45 ", 45},
                                           IntegerCase{"-3", -3}, IntegerCase{"0x1E", 30},
                                           IntegerCase{"99999999999", 5}, IntegerCase{"30", 30}));

TEST_F(SettingsFile, FailedSaveReportsTheFileAndLeavesNoPartialFile) {
  SetAppDir(dir.filePath("no-such-folder"));
  iTestTime = 50;
  try {
    SaveSettings();
    ADD_FAILURE() << "saving into a missing folder must fail";
  } catch (const EAppError& e) {
    EXPECT_TRUE(e.Text().contains(QStringLiteral("SystemFile.ini"))) << e.Text().toStdString();
  }
  EXPECT_FALSE(QFile::exists(SettingsFileName()));
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty()) << "no temporary file is left";
}

}  // namespace
