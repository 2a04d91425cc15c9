// The profile-file layer, the GBK conversions, the port-name mapping and the
// system file dialogs.
#include <QApplication>
#include <QFile>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "platform/DesktopServices.h"
#include "platform/Gbk.h"
#include "platform/IniFile.h"
#include "platform/MessageService.h"
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

// Characters GBK holds in another form are written in that form; the rest
// are named, each once.
TEST(Gbk, CompatibleFormsAreKeptAndTheRestNamed) {
  EXPECT_EQ(GbkCompatible(QStringLiteral("35.0 \u00B5Ω")), QStringLiteral("35.0 μΩ"));  // the micro sign
  EXPECT_EQ(GbkCompatible(QStringLiteral("\uFF71\uFF72")), QStringLiteral("アイ"));     // half-width katakana
  EXPECT_EQ(GbkCompatible(QStringLiteral("测试 ＡＢ")), QStringLiteral("测试 ＡＢ"));     // GBK's own full-width
  EXPECT_EQ(GbkUnheld(QStringLiteral("김 철수 QK☃ 35.0 \u00B5Ω 김")), QStringLiteral("김철수☃"));
  EXPECT_EQ(GbkUnheld(QStringLiteral("a😀b😀")), QStringLiteral("😀"));
  EXPECT_TRUE(GbkUnheld(QStringLiteral("测试电阻(A)=30.5 μΩ")).isEmpty());
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

// Another program stores the file while a batch of writes is open: its key
// stays, and the batch's writes made before and after its store all reach the
// file.
TEST_F(IniLayer, AnotherProgramsStoreDuringABatchIsKeptAndTheBatchWritesOnTop) {
  Write("[Communication]\r\ngiCommPort=3\r\n");
  TIniFile ini(Path());
  ini.BeginUpdate();
  ini.WriteInteger("SetParam", "iTestTime", 17);
  TIniFile(Path()).WriteString("Ports", "COM3", "/dev/ttyUSB1");  // the other program
  ini.WriteInteger("Communication", "giCommPort", 5);
  ini.EndUpdate();
  TIniFile after(Path());
  EXPECT_EQ(after.ReadInteger("SetParam", "iTestTime", 0), 17);
  EXPECT_EQ(after.ReadString("Ports", "COM3", ""), QStringLiteral("/dev/ttyUSB1"));
  EXPECT_EQ(after.ReadInteger("Communication", "giCommPort", 0), 5);
}

TEST_F(IniLayer, NewKeyGoesAboveTheBlankLinesThatSeparateSections) {
  Write("# top comment\n[A]\nx=1\n\n\n[B]\ny=2\n");
  TIniFile(Path()).WriteString("A", "z", "3");
  // The new line is the program's (CR LF); the others keep their own ends.
  EXPECT_EQ(Read(), QByteArray("# top comment\n[A]\nx=1\nz=3\r\n\n\n[B]\ny=2\n"));
}

TEST_F(IniLayer, ALineBreakInAValueNeverStartsALineOfItsOwn) {
  TIniFile ini(Path());
  ini.WriteString("RestParam", "strTestUser", QStringLiteral("a\r\n[Screen]\nsave=1"));
  ini.WriteString("RestParam", "strDevice", QStringLiteral("D1"));
  EXPECT_EQ(Read(), QByteArray("[RestParam]\r\nstrTestUser=a  [Screen] save=1\r\nstrDevice=D1\r\n"));
  EXPECT_EQ(ini.ReadString("RestParam", "strDevice", ""), QStringLiteral("D1"));
  EXPECT_EQ(ini.ReadInteger("Screen", "save", 0), 0);
}

// Lines the program does not write stay exactly as they were, whatever their
// bytes and line ends; a section line may carry a comment.
struct KeepCase {
  const char* name;
  const char* before;
  const char* after;  // after WriteString("SetParam", "iTestTime", "20")
};

class IniKeeps : public IniLayer, public ::testing::WithParamInterface<KeepCase> {};

TEST_P(IniKeeps, OnlyTheWrittenLineChanges) {
  Write(GetParam().before);
  TIniFile(Path()).WriteString("SetParam", "iTestTime", "20");
  EXPECT_EQ(Read(), QByteArray(GetParam().after));
  EXPECT_EQ(TIniFile(Path()).ReadInteger("SetParam", "iTestTime", 0), 20);
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniKeeps,
    ::testing::Values(
        KeepCase{"NotGbk", "; caf\xE9\r\n[SetParam]\r\niTestTime=5\r\n", "; caf\xE9\r\n[SetParam]\r\niTestTime=20\r\n"},
        KeepCase{"LoneCr", "; a\rb\r\n[SetParam]\riTestTime=5\r", "; a\rb\r\n[SetParam]\riTestTime=20\r"},
        KeepCase{"NoLastLineEnd", "[X]\ny=\xB2\xE2\n[SetParam]\niTestTime=5", "[X]\ny=\xB2\xE2\n[SetParam]\niTestTime=20"},
        KeepCase{"NewKeyAfterLastLineWithoutEnd", "[SetParam]\r\nstrPhase=x", "[SetParam]\r\nstrPhase=x\r\niTestTime=20\r\n"},
        KeepCase{"SectionWithComment", "[SetParam] ; test parameters\r\niTestTime=5\r\n",
                 "[SetParam] ; test parameters\r\niTestTime=20\r\n"},
        KeepCase{"GbkSectionNameWithBracketByte", "[\xB2\x5D]\r\nk=1\r\n[SetParam]\r\niTestTime=5\r\n",
                 "[\xB2\x5D]\r\nk=1\r\n[SetParam]\r\niTestTime=20\r\n"}),
    [](const ::testing::TestParamInfo<KeepCase>& i) { return std::string(i.param.name); });

TEST_F(IniLayer, ASectionLineWithACommentHoldsItsKeys) {
  Write("[SetParam] ; test parameters\r\niTestTime=20\r\n[Screen]\t# window\r\nsave=1\r\n");
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadInteger("SetParam", "iTestTime", 0), 20);
  EXPECT_EQ(ini.ReadInteger("Screen", "save", 0), 1);
}

// Runs fn as an unprivileged user where the suite runs as root (root reads
// every file), else in this process; returns fn's result.
int AsUnprivileged(const std::function<int()>& fn) {
  if (::geteuid() != 0) return fn();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(90);
    ::_exit(fn());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 91;
}

TEST(IniUnreadable, AFileThatCannotBeReadIsNeverWrittenOver) {
  // A folder everyone may write in, holding a settings file nobody but its
  // owner's writes may touch: it can be replaced but not read.
  char tmpl[] = "/tmp/qk-ini-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const QString dir = QString::fromLocal8Bit(tmpl);
  ::chmod(tmpl, 0777);
  const QString path = dir + QStringLiteral("/SystemFile.ini");
  const QByteArray before("[Ports]\r\nCOM3=/dev/ttyUSB0\r\n[SetParam]\r\niTestTime=20\r\n");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(before);
  }
  ::chmod(QFile::encodeName(path).constData(), 0222);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
  }
  const int outcome = AsUnprivileged([&] {
    try {
      TIniFile(path).WriteInteger(QStringLiteral("Screen"), QStringLiteral("save"), 1);
    } catch (const EAppError& e) {
      const QString t = e.Text();
      return t.contains(path) && t.contains(QStringLiteral("权限不足")) ? 0 : 2;
    }
    return 1;
  });
  EXPECT_EQ(outcome, 0) << "1: written over; 2: message without the file or the cause";
  ::chmod(QFile::encodeName(path).constData(), 0644);
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), before);
  f.close();
  QDir(dir).removeRecursively();
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

// A device path is used by its bytes as they stand in the file: here UTF-8,
// as a script or a UTF-8 editor writes it (a folder named 构建).
TEST_F(IniLayer, ADevicePathWithChineseFolderNamesResolvesByItsBytes) {
  Write(QByteArray("[Ports]\r\nCOM3=") + QStringLiteral("/tmp/构建/ttyQK").toUtf8() + "\r\n[SetParam]\r\nx=\xB2\xE2\r\n");
  EXPECT_EQ(ResolvePortDevice(QStringLiteral("COM3"), Path()), QStringLiteral("/tmp/构建/ttyQK"));
}

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
    bool asksBeforeReplacing = true;
    QString cancel;
    QTimer::singleShot(0, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* dlg = qobject_cast<QFileDialog*>(w)) {
          shown = dlg->nameFilters();
          asksBeforeReplacing = !dlg->testOption(QFileDialog::DontConfirmOverwrite);
          cancel = dlg->labelText(QFileDialog::Reject);
          dlg->reject();
        }
      }
    });
    const QString name = save ? DesktopServices().GetSaveFileName(nullptr, r)
                              : DesktopServices().GetOpenFileName(nullptr, r);
    EXPECT_TRUE(name.isEmpty()) << "cancelled";
    EXPECT_EQ(shown, QStringList({QStringLiteral("测试数据文件(*.xls)"), QStringLiteral("表格 (*.ods)")}))
        << (save ? "save" : "open");
    // The save replaces a chosen file without a question; the dialog speaks
    // Chinese.
    if (save) {
      EXPECT_FALSE(asksBeforeReplacing);
    }
    EXPECT_EQ(cancel, QStringLiteral("取消")) << (save ? "save" : "open");
  }
}

}  // namespace
