// The profile-file layer, the GBK conversions, the port-name mapping and the
// system file dialogs.
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "platform/DesktopServices.h"
#include "platform/Gbk.h"
#include "platform/IniFile.h"
#include "platform/PortNames.h"

namespace {

TEST(Gbk, RoundTripsChineseAndCountsDoubleBytes) {
  const QString text = QStringLiteral("测试电阻(A)=30.5 μΩ");
  const QByteArray bytes = ToGbk(text);
  EXPECT_EQ(bytes.left(4), QByteArray("\xB2\xE2\xCA\xD4"));
  EXPECT_TRUE(bytes.contains("\xA6\xCC")) << "mu is A6 CC";
  EXPECT_TRUE(bytes.contains("\xA6\xB8")) << "omega is A6 B8";
  EXPECT_EQ(FromGbk(bytes), text);
  EXPECT_EQ(GbkLength(text), bytes.size());
}

TEST(Gbk, BrokenInputNeverFailsTheWholeText) {
  EXPECT_EQ(FromGbk(QByteArray("ab\xB2")), QStringLiteral("ab\uFFFD")) << "a cut double byte";
  EXPECT_EQ(ToGbk(QStringLiteral("a😀b")), QByteArray("a?b")) << "outside GBK";
  EXPECT_EQ(GbkLength(QStringLiteral("a😀b")), 3);
  EXPECT_EQ(GbkHead(QStringLiteral("😀😀"), 1), QStringLiteral("😀")) << "surrogate pairs stay whole";
}

class IniLayer : public ::testing::Test {
 protected:
  QString Path() const { return dir.filePath("t.ini"); }
  void Write(const QByteArray& b) {
    QFile f(Path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(b);
  }
  QByteArray Read() const {
    QFile f(Path());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  QTemporaryDir dir;
};

TEST_F(IniLayer, ReadsWithoutCaseAndWithDefaults) {
  Write("[Screen]\r\nSave = 1 \r\n; left=99\r\nname=\"quoted value\"\r\n[Other]\r\nsave=7\r\n");
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadInteger("screen", "SAVE", 0), 1);
  EXPECT_EQ(ini.ReadInteger("Screen", "left", -5), -5) << "a comment line is no key";
  EXPECT_EQ(ini.ReadString("Screen", "name", ""), QStringLiteral("quoted value"));
  EXPECT_EQ(ini.ReadInteger("Other", "save", 0), 7) << "a key belongs to its own section";
  EXPECT_EQ(ini.ReadString("Missing", "x", "def"), QStringLiteral("def"));
  EXPECT_EQ(TIniFile(dir.filePath("none.ini")).ReadInteger("Screen", "save", 3), 3);
}

TEST_F(IniLayer, WritingCreatesFileSectionAndKeyAndKeepsTheRest) {
  TIniFile ini(Path());
  ini.WriteInteger("Screen", "save", 1);
  EXPECT_EQ(Read(), QByteArray("[Screen]\r\nsave=1\r\n"));
  ini.WriteInteger("Screen", "left", 10);
  ini.WriteString("RestParam", "strTestUser", QStringLiteral("李四"));
  ini.WriteInteger("SCREEN", "Save", 0);
  EXPECT_EQ(Read(), QByteArray("[Screen]\r\nsave=0\r\nleft=10\r\n\r\n[RestParam]\r\nstrTestUser=\xC0\xEE\xCB\xC4\r\n"));
}

TEST_F(IniLayer, NewKeyGoesAboveTheBlankLinesThatSeparateSections) {
  Write("# top comment\n[A]\nx=1\n\n\n[B]\ny=2\n");
  TIniFile(Path()).WriteString("A", "z", "3");
  EXPECT_EQ(Read(), QByteArray("# top comment\r\n[A]\r\nx=1\r\nz=3\r\n\r\n\r\n[B]\r\ny=2\r\n"));
}

TEST_F(IniLayer, ALineBreakInAValueNeverStartsALineOfItsOwn) {
  TIniFile ini(Path());
  ini.WriteString("RestParam", "strTestUser", QStringLiteral("a\r\n[Screen]\nsave=1"));
  ini.WriteString("RestParam", "strDevice", QStringLiteral("D1"));
  EXPECT_EQ(Read(), QByteArray("[RestParam]\r\nstrTestUser=a  [Screen] save=1\r\nstrDevice=D1\r\n"));
  EXPECT_EQ(ini.ReadString("RestParam", "strDevice", ""), QStringLiteral("D1"));
  EXPECT_EQ(ini.ReadInteger("Screen", "save", 0), 0);
}

struct PortCase {
  const char* name;
  const char* device;
};

class PortMapping : public IniLayer, public ::testing::WithParamInterface<PortCase> {};

TEST_P(PortMapping, ResolvesComNamesToDevices) {
  Write("[Ports]\r\nCOM3=/dev/ttyUSB0\r\ncom5 = /tmp/sim link\r\n");
  EXPECT_EQ(ResolvePortDevice(QString::fromLatin1(GetParam().name), Path()),
            QString::fromLatin1(GetParam().device));
}

INSTANTIATE_TEST_SUITE_P(Names, PortMapping,
                         ::testing::Values(PortCase{"COM3", "/dev/ttyUSB0"}, PortCase{"COM5", "/tmp/sim link"},
                                           PortCase{"COM1", "/dev/ttyS0"}, PortCase{"COM16", "/dev/ttyS15"},
                                           PortCase{"COM0", "/dev/nonexistent-COM0"}));

// The system dialogs list each entry by its description alone when it already
// names its pattern, as the data-file dialogs do ("测试数据文件(*.xls)").
TEST(SystemFileDialogs, ShowEachFilterEntryOnce) {
  QTemporaryDir dir;
  TFileDialogRequest r;
  r.title = QStringLiteral("打开测试数据");
  r.initialDir = dir.path();
  r.filters = {qMakePair(QStringLiteral("测试数据文件(*.xls)"), QStringLiteral("*.xls")),
               qMakePair(QStringLiteral("表格"), QStringLiteral("*.ods"))};
  QStringList shown;
  for (const bool save : {false, true}) {
    shown.clear();
    QTimer::singleShot(0, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* dlg = qobject_cast<QFileDialog*>(w)) {
          shown = dlg->nameFilters();
          dlg->reject();
        }
      }
    });
    const QString name = save ? DesktopServices().GetSaveFileName(nullptr, r)
                              : DesktopServices().GetOpenFileName(nullptr, r);
    EXPECT_TRUE(name.isEmpty()) << "cancelled";
    EXPECT_EQ(shown, QStringList({QStringLiteral("测试数据文件(*.xls)"), QStringLiteral("表格 (*.ods)")}))
        << (save ? "save" : "open");
  }
}

}  // namespace
