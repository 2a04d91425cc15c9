// qk4820-decode: a small capture of the instrument line on standard input,
// the printed reply blocks compared whole.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace {

struct DecodeRun {
  int exitCode = -1;
  QString out;
  QString err;
};

DecodeRun RunDecode(const QStringList& args, const QByteArray& input) {
  DecodeRun run;
  QProcess proc;
  proc.start(QStringLiteral(QK4820_DECODE_PATH), args);
  if (!proc.waitForStarted(30000)) {
    ADD_FAILURE() << "qk4820-decode did not start";
    return run;
  }
  proc.write(input);
  proc.closeWriteChannel();
  if (!proc.waitForFinished(60000)) {
    proc.kill();
    proc.waitForFinished();
    ADD_FAILURE() << "qk4820-decode did not finish";
    return run;
  }
  run.exitCode = proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
  run.out = QString::fromUtf8(proc.readAllStandardOutput());
  run.err = QString::fromUtf8(proc.readAllStandardError());
  return run;
}

// Two stored-record replies: a good one, then one with a wrong first byte.
const char kRecordCapture[] = R"(# upload, record 0
F1 30 14 00 05 03 24          # 24-03-05 14:30
1A 14 04 08 02 00 3E 3E       # device QK4820
15 2C FF FF FF FF FF FF       # tester Li
1B 32 32 30 07 3E 3E 3E       # place Room7
1E 01 03                      # 30 s, 200A, three phases
38000000 3C800000 40200000    # resistances
# a reply that is not a record
F0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
00 00 00 00 00 00 00 00 00 00 00 00 00 00
)";

TEST(DecodeTool, PrintsStoredRecords) {
  const DecodeRun run = RunDecode({"3"}, kRecordCapture);
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  EXPECT_EQ(run.out.toStdString(),
            "status=0\n"
            "TestDateTime=24-03-05 14:30\n"
            "DeviceNo=QK4820\n"
            "Tester=Li\n"
            "TestPlace=Room7\n"
            "LoadTimeText=30秒\n"
            "CurrentStep=200A\n"
            "Phase=三相\n"
            "ResistanceA=30.5 μΩ\n"
            "ResistanceB=15.62 mΩ\n"
            "ResistanceC=2.500 Ω\n"
            "\n"
            "status=2\n"
            "\n");
}

// Noise, a measuring frame, a block with an unknown state, the final frame.
const char kLiveCapture[] = R"(00 13
FA 42C88000 43488000 BFC00000
   3C800000 3FC00000 4640E600
   3A000000 3E000000 449A5000
   02 05 88
FA 00000000 00000000 00000000 00000000 00000000 00000000
   00000000 00000000 00000000 00 00 84
FA 3FC00000 3FC00000 3FC00000 00000000 00000000 00000000
   00000000 00000000 00000000 00 00 83
FA 01 02
)";

TEST(DecodeTool, PrintsLiveFrames) {
  const DecodeRun run = RunDecode({"5"}, kLiveCapture);
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  EXPECT_EQ(run.out.toStdString(),
            "status=0\n"
            "CurrentA=100.2 A\n"
            "CurrentB=200.5 A\n"
            "CurrentC=-1.500 A\n"
            "VoltageA=15.625 mV\n"
            "VoltageB=1.5000 V\n"
            "VoltageC=12345 V\n"
            "ResistanceA=488.2 μΩ\n"
            "ResistanceB=125.0 mΩ\n"
            "ResistanceC=1234 Ω\n"
            "LoadTimeText=125秒\n"
            "LoadSeconds=125\n"
            "State=136\n"
            "\n"
            "status=0\n"
            "CurrentA=1.500 A\n"
            "CurrentB=1.500 A\n"
            "CurrentC=1.500 A\n"
            "VoltageA=0.0 mV\n"
            "VoltageB=0.0 mV\n"
            "VoltageC=0.0 mV\n"
            "ResistanceA=0.0 μΩ\n"
            "ResistanceB=0.0 μΩ\n"
            "ResistanceC=0.0 μΩ\n"
            "LoadTimeText=0秒\n"
            "LoadSeconds=0\n"
            "State=131\n"
            "\n");
}

TEST(DecodeTool, ReadsAFileAndStopsAtTheAcknowledgement) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("stop.txt");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(kLiveCapture) + "FC\n");
  }
  // the FA 01 02 start before FC waits for 40 bytes: no acknowledgement
  DecodeRun run = RunDecode({"7", path}, {});
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  EXPECT_EQ(run.out.toStdString(), "");
  run = RunDecode({"7"}, "12 00 FC 00 FC");
  EXPECT_EQ(run.out.toStdString(), "status=0\n\nstatus=0\n\n");
}

TEST(DecodeTool, RefusesBadArgumentsAndInput) {
  struct Case {
    QStringList args;
    QByteArray input;
  };
  const Case cases[] = {{{}, ""},
                        {{"x"}, ""},
                        {{"256"}, ""},
                        {{"3", "/nonexistent/capture.txt"}, ""},
                        {{"3", "a", "b"}, ""},
                        {{"2"}, "F0 7"},
                        {{"2"}, "F0 0x07"},
                        {{"2"}, "F0 GG"}};
  for (const Case& c : cases) {
    const DecodeRun run = RunDecode(c.args, c.input);
    EXPECT_EQ(run.exitCode, 2) << c.args.join(' ').toStdString() << " / " << c.input.toStdString();
    EXPECT_FALSE(run.err.isEmpty());
    EXPECT_TRUE(run.out.isEmpty());
  }
  const DecodeRun help = RunDecode({"--help"}, "");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(help.out.startsWith("usage: qk4820-decode KIND [FILE]"));
}

}  // namespace
