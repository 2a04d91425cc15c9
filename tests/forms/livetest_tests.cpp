// The live test of the test dialog, its archive and its instrument print,
// against qk4820-sim over a pty.
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QThread>
#include <QXYSeries>
#include <QChart>
#include <QChartView>
#include <QLabel>

#include <atomic>
#include <map>
#include <chrono>
#include <thread>

#include "data/TestSeries.h"
#include "history/ResultValues.h"
#include "main_fixture.h"

namespace {

class LiveTest : public MainRig {
 protected:
  void TearDown() override {
    Dlg.reset();
    MainRig::TearDown();
  }

  // Simulator, main window and a test dialog as the range query builds it.
  // Without "--interval" the simulator holds every live frame until the
  // test lets it go (RunTest does, one frame at a time), so the test runs as
  // fast as the program shows frames, however loaded the machine is.
  void Start(const QStringList& args, int range = 0, int phase = 0, int seconds = 5) {
    Stepped = !args.contains(QStringLiteral("--interval"));
    StartSim(Stepped ? args + QStringList{QStringLiteral("--step")} : args);
    if (HasFatalFailure()) return;
    Dlg = std::make_unique<TFrmTest>(W->TestContext(), W.get());
    Dlg->CBCurrentStep->clear();
    Dlg->CBCurrentStep->addItems({QStringLiteral("100A"), QStringLiteral("200A")});
    Dlg->show();
    if (range != 0) {
      Dlg->CBCurrentStep->setCurrentIndex(range);
      emit Dlg->CBCurrentStep->activated(range);
    }
    Dlg->cbbPhaseSelect->setCurrentIndex(phase);
    Dlg->cbTestTime->setEditText(QString::number(seconds));
  }

  // Presses the test button; returns when the test has ended.
  void RunTest() {
    Notices.clear();
    // Step mode: the first frame goes once the start frame is in; each next
    // one once the program has taken every byte sent so far and awaits the
    // next frame, so no two frames ever wait in the line together.
    const int starts = static_cast<int>(Log().filter(QStringLiteral("F4")).size());
    const std::uint64_t base = W->Link().Assembler().BytesAdded;
    int released = 0;
    TWhenReady step([&] {
      if (!Stepped) return true;
      if (Log().filter(QStringLiteral("F4")).size() <= starts) return false;
      const TCircleRoad* road = &W->Link().Assembler();
      if (released == 0 ||
          (road->BytesAdded >= base + std::uint64_t(released) * kStartTest.replyLength && road->Status == kStatusWaiting)) {
        Sim->ReleaseLiveFrame();
        ++released;
      }
      return false;
    });
    TWhenReady watch([this] {
      if (TfrmWait* w = CurrentWait()) {
        const QString t = w->lblMessage->text();
        if (Notices.isEmpty() || Notices.last() != t) Notices << t;
      }
      if (Dlg->cbbPhaseSelect->currentIndex() == 0) {
        for (int c = 0; c <= 3; ++c) {
          if (!Dlg->TSData->Cells(c, 2).isEmpty() || !Dlg->TSData->Cells(c, 3).isEmpty()) RowsTwoThreeTouched = true;
        }
      }
      return false;
    });
    Dlg->BtnTest->click();
  }

  QString Cell(int c, int r) const { return Dlg->TSData->Cells(c, r); }
  // Colour at the centre of the test button's glyph.
  QColor GlyphColour() const { return QColor(Dlg->BtnTest->icon().pixmap(16, 16).toImage().pixel(8, 8)); }
  bool ValuesEmpty() const {
    for (int r = 1; r <= 3; ++r) {
      for (int c = 1; c <= 3; ++c) {
        if (!Cell(c, r).isEmpty()) return false;
      }
    }
    return true;
  }
  // The lists and the archive and exit buttons.
  bool ControlsEnabled() const {
    return Dlg->CBCurrentStep->isEnabled() && Dlg->cbbPhaseSelect->isEnabled() && Dlg->cbTestTime->isEnabled() &&
           Dlg->BtnOK->isEnabled() && Dlg->BtnCancel->isEnabled();
  }
  void ExpectRestored() {
    EXPECT_EQ(CurrentWait(), nullptr);
    EXPECT_TRUE(ControlsEnabled());
    EXPECT_FALSE(W->ComPort()->IsOpen());
    EXPECT_FALSE(Dlg->Running());
  }

  std::unique_ptr<TFrmTest> Dlg;
  bool Stepped = false;
  QStringList Notices;
  bool RowsTwoThreeTouched = false;
};

TEST_F(LiveTest, CompleteSinglePhaseTestShowsRowOneOnly) {
  Start({}, 0, 0, 5);
  RunTest();
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(Log().mid(0), (QStringList{"F4 05 00 01"}));
  EXPECT_EQ(Cell(0, 1), QStringLiteral("单相"));
  EXPECT_TRUE(Cell(1, 1).endsWith(QStringLiteral("μΩ"))) << Cell(1, 1).toStdString();
  EXPECT_TRUE(Cell(2, 1).endsWith(QStringLiteral("mV"))) << Cell(2, 1).toStdString();
  EXPECT_TRUE(Cell(3, 1).endsWith(QStringLiteral(" A"))) << Cell(3, 1).toStdString();
  EXPECT_TRUE(Cell(3, 1).startsWith(QStringLiteral("99.")) || Cell(3, 1).startsWith(QStringLiteral("100.")));
  for (int c = 0; c <= 3; ++c) {
    EXPECT_TRUE(Cell(c, 2).isEmpty());
    EXPECT_TRUE(Cell(c, 3).isEmpty());
  }
  EXPECT_FALSE(RowsTwoThreeTouched);
  EXPECT_NE(Dlg->TestStamp(), 0);
  EXPECT_TRUE(Dlg->btnPrint->isEnabled());
  EXPECT_TRUE(Dlg->BtnTest->isEnabled());
  EXPECT_EQ(Dlg->BtnTest->text(), QStringLiteral("测试"));
  EXPECT_EQ(Dlg->FramesShown(), 5);
  ExpectRestored();
  EXPECT_EQ(Notices.value(0), QStringLiteral("  请稍候，等待加载......"));
  EXPECT_TRUE(Notices.contains(QStringLiteral("  当前载流时间为1秒......")));
  EXPECT_TRUE(Notices.contains(QStringLiteral("  当前载流时间为4秒......")));
  EXPECT_EQ(W->Params.iLastTestTime, 5);
  EXPECT_EQ(W->Params.iLastCurrentStep, 0);
  EXPECT_EQ(W->Params.iLastPhase, 1);
}

TEST_F(LiveTest, CompleteThreePhaseTestAt200AShowsAllRows) {
  Start({"--fixed-values"}, 1, 1, 6);
  RunTest();
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(Log(), (QStringList{"F4 06 01 03"}));
  // Each phase in its own row, resistance, voltage and current in that order.
  const QStringList expected[3] = {
      {QStringLiteral("A相"), QStringLiteral("52.3 μΩ"), QStringLiteral("10.479 mV"), QStringLiteral("200.0 A")},
      {QStringLiteral("B相"), QStringLiteral("61.8 μΩ"), QStringLiteral("12.355 mV"), QStringLiteral("199.6 A")},
      {QStringLiteral("C相"), QStringLiteral("47.3 μΩ"), QStringLiteral("9.4741 mV"), QStringLiteral("200.3 A")}};
  for (int r = 1; r <= 3; ++r) {
    const QStringList row{Cell(0, r), Cell(1, r), Cell(2, r), Cell(3, r)};
    EXPECT_EQ(row, expected[r - 1]) << "row " << r;
  }
  EXPECT_EQ(Cell(0, 2), QStringLiteral("B相"));
  EXPECT_TRUE(Cell(3, 2).startsWith(QStringLiteral("199.")) || Cell(3, 2).startsWith(QStringLiteral("200.")));
  EXPECT_NE(Dlg->TestStamp(), 0);
  EXPECT_TRUE(Dlg->btnPrint->isEnabled());
  EXPECT_EQ(W->Params.iLastCurrentStep, 1);
  EXPECT_EQ(W->Params.iLastPhase, 3);
  ExpectRestored();
}

TEST_F(LiveTest, OfABurstOfFramesOnlyTheLastIsShown) {
  // Frames 1 to 3 go out together and nothing follows them. Once the start
  // frame is in, the program is held up until the simulator reports the
  // third frame on the line, so all three wait complete in the line however
  // slow the machine is.
  const QString trace = FDir.filePath(QStringLiteral("burst.trace"));
  Start({"--interval", "100", "--burst", "3", "--silence-after", "3", "--trace", trace}, 0, 1, 5);
  auto sent = [&] {
    QFile f(trace);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    int n = 0;
    for (const QByteArray& line : f.readAll().split('\n')) n += line.startsWith("tx ") ? 1 : 0;
    return n;
  };
  bool held = false;
  TWhenReady hold([&] {
    if (Log().isEmpty()) return false;
    QElapsedTimer t;
    t.start();
    while (sent() < 3 && t.elapsed() < 20000) QThread::msleep(5);
    held = sent() >= 3;
    return true;
  });
  // The silence after the burst ends the test at once.
  TTickPusher push([&] { return Dlg->FramesShown() >= 1 && Dlg->Running(); }, 1000);
  RunTest();
  EXPECT_TRUE(held);
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("通讯失败,测试中断！")});
  EXPECT_EQ(Dlg->FramesShown(), 1);  // frames 1 to 3 at once
  // The frame shown is drawn once: one point a phase, no copies.
  EXPECT_EQ(Dlg->Series().size(), 1u);
  EXPECT_EQ(static_cast<QXYSeries*>(Dlg->ChartView->chart()->series().at(0))->count(), 1);
  EXPECT_FALSE(Notices.contains(QStringLiteral("  当前载流时间为1秒......")));
  EXPECT_FALSE(Notices.contains(QStringLiteral("  当前载流时间为2秒......")));
  EXPECT_TRUE(Notices.contains(QStringLiteral("  当前载流时间为3秒......")));
}

// The course: a point for each frame as it is shown, in order, and
// "已稳定" with the fifth steady frame, not before; a steady result is
// archived without a question, with its course.
TEST_F(LiveTest, TheCourseFollowsEachFrameAndSettlesWithTheFifth) {
  Start({"--fixed-values"}, 1, 1, 6);
  Dlg->EdtDeviceNum->setText(QStringLiteral("QK-9"));
  auto points = [&](int phase) {
    return static_cast<QXYSeries*>(Dlg->ChartView->chart()->series().at(phase))->count();
  };
  // What the dialog showed at each frame count, seen while the test runs.
  std::map<int, std::pair<int, QString>> seen;
  TWhenReady watch([&] {
    const int n = Dlg->FramesShown();
    if (n > 0 && !seen.count(n)) seen[n] = {points(0), Dlg->LblSettled[0]->text()};
    return false;
  });
  RunTest();
  ASSERT_EQ(Dlg->FramesShown(), 6);
  for (const auto& [frames, shown] : seen) {
    EXPECT_EQ(shown.first, frames) << "points drawn at frame " << frames;
    EXPECT_EQ(shown.second, frames < 5 ? QStringLiteral("A相：未稳定") : QStringLiteral("A相：已稳定")) << frames;
  }
  EXPECT_GE(seen.size(), 4u);
  const TTestSeries& course = Dlg->Series();
  ASSERT_EQ(course.size(), 6u);
  const auto* a = static_cast<QXYSeries*>(Dlg->ChartView->chart()->series().at(0));
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(a->at(i).x(), course[size_t(i)].seconds);
    EXPECT_NEAR(a->at(i).y(), 52.35, 0.1);  // the frame's value; the cell shows it cut
    if (i > 0) EXPECT_GT(course[size_t(i)].seconds, course[size_t(i - 1)].seconds);
    ASSERT_TRUE(course[size_t(i)].current);
    EXPECT_NEAR(*course[size_t(i)].current, 200.0, 0.5);
  }
  for (int p = 0; p < 3; ++p) EXPECT_EQ(points(p), 6) << p;
  EXPECT_EQ(Dlg->LblSettled[2]->text(), QStringLiteral("C相：已稳定"));
  Dlg->grab().save(QStringLiteral(QK_TEST_OUTPUT_DIR "/live-test-settled.png"));  // to be looked at
  Dlg->BtnOK->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  ASSERT_NE(W->History(), nullptr);
  const std::vector<TStoredResult> kept = W->History()->Results(QStringLiteral("QK-9"));
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(SeriesOfText(kept[0].series).size(), 6u);
}

// A result whose values have not settled is archived only when the
// operator says so.
TEST_F(LiveTest, AnUnsettledResultIsArchivedOnlyWhenTheOperatorSaysSo) {
  Start({"--fixed-values"}, 1, 1, 5);
  // Settled only after ten steady frames (评估标准…): a 5-second test is not.
  WriteSettleRule(SettingsFile(), TSettleRule{10, 1.0});
  RunTest();
  ASSERT_NE(Dlg->TestStamp(), 0);
  EXPECT_EQ(Dlg->LblSettled[0]->text(), QStringLiteral("A相：未稳定"));
  Dlg->BtnOK->click();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("测试值尚未稳定，仍要归档吗？")});
  EXPECT_EQ(Msgs.Boxes.value(0).buttons, TMsgButtons::YesNo);
  EXPECT_EQ(W->Params.giSaveCount, 0);
  Msgs.Clear();
  Msgs.Answers << TMsgResult::Yes;
  Dlg->BtnOK->click();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("测试值尚未稳定，仍要归档吗？")});
  EXPECT_EQ(W->Params.giSaveCount, 1);
}

TEST_F(LiveTest, StopByTheOperator) {
  Start({}, 0, 1, 30);
  bool pressed = false;
  bool disabledMeanwhile = false;
  QColor stopGlyph;
  TWhenReady stop([&] {
    if (Dlg->BtnTest->text() != QStringLiteral("中断") || Dlg->FramesShown() < 2) return false;
    disabledMeanwhile = !ControlsEnabled() && !Dlg->btnPrint->isEnabled();
    stopGlyph = GlyphColour();
    Dlg->BtnTest->click();
    pressed = true;
    return true;
  });
  RunTest();
  EXPECT_TRUE(pressed);
  EXPECT_TRUE(disabledMeanwhile);
  // "中断" shows a stop glyph (red), "测试" the start glyph (green).
  EXPECT_GT(stopGlyph.red(), 2 * stopGlyph.green());
  EXPECT_GT(GlyphColour().green(), 2 * GlyphColour().red());
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  ASSERT_GE(Log().size(), 2);
  EXPECT_EQ(Log().first(), QStringLiteral("F4 1E 00 03"));
  EXPECT_EQ(Log().last(), QStringLiteral("FC"));
  EXPECT_EQ(Dlg->BtnTest->text(), QStringLiteral("测试"));
  EXPECT_TRUE(Dlg->BtnTest->isEnabled());
  EXPECT_EQ(Dlg->TestStamp(), 0);
  EXPECT_TRUE(Dlg->btnPrint->isEnabled());  // running frames were shown
  ExpectRestored();
  // Nothing to archive or print.
  Dlg->BtnOK->click();
  Dlg->btnPrint->click();
  EXPECT_EQ(Msgs.Texts(), (QStringList{QStringLiteral("无完成测试过程的数据不能归档！"),
                                       QStringLiteral("无完成测试过程的数据不能打印！")}));
  EXPECT_EQ(Msgs.Boxes.value(0).icon, TMsgIcon::Information);
  EXPECT_EQ(Msgs.Boxes.value(1).icon, TMsgIcon::Information);
  EXPECT_EQ(W->Params.giSaveCount, 0);
}

TEST_F(LiveTest, UnacknowledgedStopAndTheSecondPress) {
  Start({"--mute", "FC@1"}, 0, 1, 30);
  TWhenReady stop([&] {
    if (Dlg->BtnTest->text() != QStringLiteral("中断") || Dlg->FramesShown() < 1) return false;
    Dlg->BtnTest->click();
    return true;
  });
  // The 3000 ms wait for the acknowledgement passes at once.
  auto push = std::make_unique<TTickPusher>([&] { return Dlg->Running() && !Dlg->Testing(); }, 500);
  RunTest();
  push.reset();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("通讯失败！")});
  EXPECT_EQ(Msgs.Boxes.value(0).icon, TMsgIcon::Warning);
  EXPECT_EQ(Dlg->BtnTest->text(), QStringLiteral("中断"));
  EXPECT_TRUE(Dlg->BtnTest->isEnabled());
  ExpectRestored();
  Msgs.Clear();
  // The next press sends the stop again on its own opening of the port.
  Dlg->BtnTest->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(Dlg->BtnTest->text(), QStringLiteral("测试"));
  EXPECT_EQ(Log().filter(QStringLiteral("FC")).size(), 2);
  EXPECT_EQ(Log().last(), QStringLiteral("FC"));
  EXPECT_FALSE(W->ComPort()->IsOpen());
}

TEST_F(LiveTest, PressWhileTheStopWaitsForItsAcknowledgementIsIgnored) {
  Start({"--mute", "FC@1"}, 0, 1, 30);
  TWhenReady stop([&] {
    if (Dlg->BtnTest->text() != QStringLiteral("中断") || Dlg->FramesShown() < 1) return false;
    Dlg->BtnTest->click();
    return true;
  });
  // While the stop exchange waits, the button still reads "中断" and is
  // enabled; a second press must not start a second exchange.
  bool pressedAgain = false;
  TWhenReady again([&] {
    // Only after the first press: before the test runs, Running() holds too.
    if (!stop.Done() || !Dlg->Running() || Dlg->Testing()) return false;
    EXPECT_TRUE(Dlg->BtnTest->isEnabled());
    Dlg->BtnTest->click();
    pressedAgain = true;
    return true;
  });
  auto push = std::make_unique<TTickPusher>([&] { return pressedAgain && Dlg->Running(); }, 500);
  RunTest();
  push.reset();
  EXPECT_TRUE(pressedAgain);
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("通讯失败！")});
  EXPECT_EQ(Dlg->BtnTest->text(), QStringLiteral("中断"));
  ASSERT_TRUE(Sim->WaitForLogLines(2));
  EXPECT_EQ(Log().filter(QStringLiteral("FC")).size(), 1);
  ExpectRestored();
}

TEST_F(LiveTest, PressDuringThePauseAfterTheFinalFrameStartsNoNewTest) {
  TickSource::SetInstantSleep(false);  // the pause itself is under test
  Start({}, 0, 1, 5);
  // A heartbeat on the user-interface thread. Once the last running frame
  // has been shown, a helper thread waits until the heartbeat stops (the
  // pause that keeps the final value in view) and then queues a press of the
  // test button, as the window system does with a click made meanwhile.
  std::atomic<qint64> beat{QDateTime::currentMSecsSinceEpoch()};
  std::atomic<bool> armed{false}, pressed{false}, finished{false};
  QTimer heartbeat;
  heartbeat.setInterval(10);
  QObject::connect(&heartbeat, &QTimer::timeout, [&] {
    beat = QDateTime::currentMSecsSinceEpoch();
    if (Dlg->FramesShown() >= 4) armed = true;
  });
  heartbeat.start();
  QPushButton* button = Dlg->BtnTest;
  std::thread presser([&] {
    while (!finished && !pressed) {
      if (armed && QDateTime::currentMSecsSinceEpoch() - beat > 400) {
        QMetaObject::invokeMethod(button, [button] { button->click(); }, Qt::QueuedConnection);
        pressed = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  RunTest();
  finished = true;
  presser.join();
  heartbeat.stop();
  ASSERT_TRUE(pressed);
  PumpUntil([] { return false; }, 300);  // whatever is still queued
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  EXPECT_NE(Dlg->TestStamp(), 0);
  EXPECT_EQ(Dlg->BtnTest->text(), QStringLiteral("测试"));
  EXPECT_FALSE(Dlg->Running());
  ASSERT_TRUE(Sim->WaitForLogLines(1));
  EXPECT_EQ(Log(), QStringList{"F4 05 00 03"});  // no second start, no stop
  ExpectRestored();
}

struct TErrorCase {
  const char* state;  // --live-state value
  const char* message;
  bool runningFrameBefore;
};

void PrintTo(const TErrorCase& c, std::ostream* os) { *os << "frame:state=" << c.state; }

class LiveError : public LiveTest, public ::testing::WithParamInterface<TErrorCase> {};

TEST_P(LiveError, ErrorFrameEndsTheTestWithItsMessage) {
  const TErrorCase& c = GetParam();
  Start({"--live-state", c.state}, 0, 1, 5);
  QString captionAtMessage;
  Msgs.OnShow = [&](const TMsgRequest&) { captionAtMessage = Dlg->BtnTest->text(); };
  RunTest();
  EXPECT_EQ(Msgs.Texts(), QStringList{QString::fromUtf8(c.message)});
  EXPECT_EQ(Msgs.Boxes.value(0).icon, TMsgIcon::Warning);
  EXPECT_EQ(captionAtMessage, QStringLiteral("中断"));
  EXPECT_EQ(Dlg->BtnTest->text(), QStringLiteral("测试"));
  EXPECT_TRUE(Dlg->BtnTest->isEnabled());
  EXPECT_TRUE(ValuesEmpty());
  EXPECT_EQ(Dlg->TestStamp(), 0);
  EXPECT_EQ(Dlg->btnPrint->isEnabled(), c.runningFrameBefore);
  ExpectRestored();
  // The test is given up on: its stop goes out once.
  ASSERT_TRUE(Sim->WaitForLogLines(2));
  EXPECT_EQ(Log().last(), QStringLiteral("FC"));
  EXPECT_EQ(Log().filter(QStringLiteral("FC")).size(), 1);
  Msgs.Clear();
  Dlg->BtnOK->click();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("无完成测试过程的数据不能归档！")});
}

INSTANTIATE_TEST_SUITE_P(States, LiveError,
                         ::testing::Values(TErrorCase{"1:81", "接线错误！", false},
                                           TErrorCase{"3:82", "超量程！", true}));

TEST_F(LiveTest, FrameWithAnInvalidStateByteIsPassedOver) {
  Start({"--live-state", "2:84"}, 0, 1, 5);
  RunTest();
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(Dlg->FramesShown(), 4);  // frames 1, 3, 4 and 5
  EXPECT_FALSE(Notices.contains(QStringLiteral("  当前载流时间为2秒......")));
  EXPECT_NE(Dlg->TestStamp(), 0);
}

TEST_F(LiveTest, NoFrameAtAllLeavesTheTestButtonDisabled) {
  Start({"--mute", "F4"}, 0, 1, 5);
  // The 15 s wait for the first frame passes at once.
  TTickPusher push([&] { return Dlg->Running(); }, 1000);
  RunTest();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("通讯失败,测试中断！")});
  EXPECT_EQ(Msgs.Boxes.value(0).icon, TMsgIcon::Warning);
  EXPECT_EQ(Dlg->BtnTest->text(), QStringLiteral("测试"));
  EXPECT_FALSE(Dlg->BtnTest->isEnabled());
  EXPECT_FALSE(Dlg->btnPrint->isEnabled());
  ExpectRestored();
  // Given up on: the stop goes out once, whatever the instrument does.
  Sim->WaitForLogLines(2);
  EXPECT_EQ(Log(), (QStringList{"F4 05 00 03", "FC"}));
  Msgs.Clear();
  Dlg->BtnOK->click();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("请在测试完成后归档！")});
  EXPECT_EQ(Msgs.Boxes.value(0).icon, TMsgIcon::Information);
  // Only closing is left.
  Dlg->BtnCancel->click();
  EXPECT_FALSE(Dlg->isVisible());
}

TEST_F(LiveTest, SilenceAfterSomeFramesEndsTheTest) {
  Start({"--silence-after", "2"}, 0, 1, 10);
  TTickPusher push([&] { return Dlg->FramesShown() >= 2 && Dlg->Running(); }, 500);
  RunTest();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("通讯失败,测试中断！")});
  EXPECT_EQ(Dlg->FramesShown(), 2);
  EXPECT_EQ(Dlg->Series().size(), 2u);  // the course ends with the line
  EXPECT_EQ(Dlg->BtnTest->text(), QStringLiteral("测试"));
  EXPECT_TRUE(Dlg->BtnTest->isEnabled());
  EXPECT_TRUE(Dlg->btnPrint->isEnabled());
  EXPECT_EQ(Dlg->TestStamp(), 0);
  EXPECT_FALSE(Cell(1, 1).isEmpty());  // the last values stay
  // The instrument is not left driving its current: the stop goes out once.
  ASSERT_TRUE(Sim->WaitForLogLines(2));
  EXPECT_EQ(Log(), (QStringList{"F4 0A 00 03", "FC"}));
  ExpectRestored();
}

TEST_F(LiveTest, LineClosedMidTestPassesTheRestoreStepAndReachesTheGeneralErrorBox) {
  Start({"--hangup", "F4:80"}, 0, 1, 10);
  bool noticeGoneAtBox = false, portClosedAtBox = false, controlsAtBox = false;
  Msgs.OnShow = [&](const TMsgRequest&) {
    noticeGoneAtBox = CurrentWait() == nullptr;
    portClosedAtBox = !W->ComPort()->IsOpen();
    controlsAtBox = ControlsEnabled();
  };
  RunTest();
  ASSERT_EQ(Msgs.Boxes.size(), 1) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(Msgs.Boxes[0].icon, TMsgIcon::Error);
  EXPECT_EQ(Msgs.Boxes[0].caption, QStringLiteral("QK4820回路电阻测试仪1.0"));
  EXPECT_TRUE(noticeGoneAtBox);
  EXPECT_TRUE(portClosedAtBox);
  EXPECT_TRUE(controlsAtBox);
  EXPECT_EQ(Dlg->FramesShown(), 2);
  EXPECT_EQ(Dlg->BtnTest->text(), QStringLiteral("测试"));
  ExpectRestored();
}

TEST_F(LiveTest, CloseRequestedDuringATestTakesEffectAfterIt) {
  Start({}, 0, 1, 5);
  bool requested = false;
  TWhenReady closer([&] {
    if (Dlg->FramesShown() < 1) return false;
    Dlg->close();  // title-bar close
    requested = true;
    return true;
  });
  RunTest();
  EXPECT_TRUE(requested);
  EXPECT_NE(Dlg->TestStamp(), 0);  // the test ran to its end
  EXPECT_TRUE(PumpUntil([&] { return !Dlg->isVisible(); }, 2000));
  EXPECT_TRUE(Msgs.Boxes.isEmpty());
}

TEST_F(LiveTest, ArchiveOnceThenRefuseTheSameResult) {
  Start({}, 0, 1, 5);
  Dlg->EdtDeviceNum->setText(QStringLiteral("QK-1"));
  Dlg->EdtTestUser->setText(QStringLiteral("张三"));
  Dlg->EdtTestAdd->setText(QStringLiteral("一号站"));
  RunTest();
  ASSERT_NE(Dlg->TestStamp(), 0);
  W->pgc->setCurrentWidget(W->tsMachine);
  Dlg->BtnOK->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(W->pgc->currentWidget(), W->tsSave);
  EXPECT_EQ(W->Params.giSaveCount, 1);
  EXPECT_EQ(W->SGSave->Cells(0, 1), QStringLiteral(" 1"));
  EXPECT_EQ(W->SGSave->Cells(2, 1), QStringLiteral("QK-1"));
  EXPECT_EQ(W->SGSave->Cells(3, 1), QStringLiteral("张三"));
  EXPECT_EQ(W->SGSave->Cells(4, 1), QStringLiteral("一号站"));
  EXPECT_EQ(W->SGSave->Cells(5, 1), QStringLiteral("100A"));
  EXPECT_EQ(W->SGSave->Cells(6, 1), QStringLiteral("5 秒"));
  EXPECT_EQ(W->SGSave->Cells(7, 1), QStringLiteral("三相"));
  EXPECT_EQ(W->SGSave->Cells(8, 1), Cell(1, 1));
  EXPECT_EQ(W->SGSave->Cells(10, 1), Cell(1, 3));
  EXPECT_EQ(Dlg->ArchivedStamp(), Dlg->TestStamp());
  Dlg->BtnOK->click();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("数据已经归档！")});
  EXPECT_EQ(Msgs.Boxes.value(0).icon, TMsgIcon::Information);
  EXPECT_EQ(W->Params.giSaveCount, 1);
  // The next completed test can be archived again.
  Msgs.Clear();
  RunTest();
  Dlg->BtnOK->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty());
  EXPECT_EQ(W->Params.giSaveCount, 2);
}

TEST_F(LiveTest, ArchiveWithAnOverLongTesterThenCorrected) {
  Start({}, 0, 0, 5);
  RunTest();
  ASSERT_NE(Dlg->TestStamp(), 0);
  Dlg->EdtTestUser->setText(QStringLiteral("一二三四五六七八九十百"));
  W->pgc->setCurrentWidget(W->tsMachine);
  Dlg->BtnOK->click();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("“测试人员”字符数应在20个字符以内\n\n请重新输入！")});
  EXPECT_EQ(Dlg->focusWidget(), Dlg->EdtTestUser);
  EXPECT_EQ(W->Params.giSaveCount, 0);
  EXPECT_EQ(W->pgc->currentWidget(), W->tsSave);  // shown also when refused
  Msgs.Clear();
  Dlg->EdtTestUser->setText(QStringLiteral("一二三四五六七八九十"));
  Dlg->BtnOK->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty());
  EXPECT_EQ(W->Params.giSaveCount, 1);
  EXPECT_EQ(W->SGSave->Cells(3, 1), QStringLiteral("一二三四五六七八九十"));
  EXPECT_EQ(W->SGSave->Cells(7, 1), QStringLiteral("单相"));
}

TEST_F(LiveTest, ArchiveAfterTheLoadTimeChangedShowsTheTestsLoadTime) {
  Start({}, 0, 1, 5);
  RunTest();
  Dlg->cbTestTime->setEditText(QStringLiteral("20"));
  Dlg->BtnOK->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty());
  EXPECT_EQ(W->Params.iTestTime, 20);
  EXPECT_EQ(W->SGSave->Cells(6, 1), QStringLiteral("5 秒"));
}

TEST_F(LiveTest, PrintSendsFE00AndLeavesTheTestStartSnapshot) {
  Start({"--print-delay", "200"}, 0, 1, 5);
  Dlg->btnPrint->click();  // before any test
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("无完成测试过程的数据不能打印！")});
  Msgs.Clear();
  RunTest();
  // A refused archive stores the new load time, 20, before it stops at the
  // over-long tester.
  Dlg->cbTestTime->setEditText(QStringLiteral("20"));
  Dlg->EdtTestUser->setText(QStringLiteral("一二三四五六七八九十百"));
  Dlg->BtnOK->click();
  ASSERT_EQ(Msgs.Texts(), QStringList{QStringLiteral("“测试人员”字符数应在20个字符以内\n\n请重新输入！")});
  ASSERT_EQ(W->Params.iTestTime, 20);
  Msgs.Clear();
  bool disabled = false;
  QString notice;
  TWhenReady watch([&] {
    if (!CurrentWait()) return false;
    notice = CurrentWait()->lblMessage->text();
    disabled = !ControlsEnabled() && !Dlg->BtnTest->isEnabled() && !Dlg->btnPrint->isEnabled();
    return true;
  });
  Dlg->btnPrint->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(Log().last(), QStringLiteral("FE 00"));
  EXPECT_EQ(notice, QStringLiteral("  请稍候，正在打印......"));
  EXPECT_TRUE(disabled);
  EXPECT_EQ(W->Params.iLastTestTime, 5);
  EXPECT_EQ(W->Params.iLastCurrentStep, 0);
  EXPECT_EQ(W->Params.iLastPhase, 3);
  ExpectRestored();
  EXPECT_TRUE(Dlg->BtnTest->isEnabled());
  EXPECT_TRUE(Dlg->btnPrint->isEnabled());
  // Printing is repeatable and changes no stamp; the archived row carries
  // the load time its test was started with.
  const auto stamp = Dlg->TestStamp();
  Dlg->btnPrint->click();
  EXPECT_EQ(Log().filter(QStringLiteral("FE 00")).size(), 2);
  EXPECT_EQ(Dlg->TestStamp(), stamp);
  Dlg->EdtTestUser->setText(QStringLiteral("张三"));
  Dlg->BtnOK->click();
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
  EXPECT_EQ(W->SGSave->Cells(6, 1), QStringLiteral("5 秒"));
}

TEST_F(LiveTest, PrintNotAcknowledgedReportsAndRestores) {
  Start({"--mute", "FE"}, 0, 1, 5);
  RunTest();
  const auto stamp = Dlg->TestStamp();
  ASSERT_NE(stamp, 0);
  TTickPusher push([&] { return Dlg->Running(); }, 400);
  Dlg->btnPrint->click();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("通讯失败！")});
  EXPECT_EQ(Msgs.Boxes.value(0).icon, TMsgIcon::Warning);
  ExpectRestored();
  EXPECT_TRUE(Dlg->BtnTest->isEnabled());
  EXPECT_TRUE(Dlg->btnPrint->isEnabled());
  EXPECT_EQ(Dlg->TestStamp(), stamp);
  EXPECT_EQ(Dlg->ArchivedStamp(), 0);
}

TEST_F(LiveTest, PortThatCannotBeOpenedChangesNothing) {
  Start({});
  TIniFile(SettingsFileName()).WriteString(QStringLiteral("Ports"), QStringLiteral("COM3"), QStringLiteral("/nonexistent/tty"));
  RunTest();
  EXPECT_EQ(Msgs.Texts(), QStringList{QStringLiteral("端口不存在，或端口已被打开。")});
  EXPECT_EQ(Msgs.Boxes.value(0).icon, TMsgIcon::Warning);
  EXPECT_TRUE(ControlsEnabled());
  EXPECT_TRUE(Dlg->BtnTest->isEnabled());
  EXPECT_TRUE(Dlg->btnPrint->isEnabled());
  EXPECT_EQ(Dlg->BtnTest->text(), QStringLiteral("测试"));
}

// Once the values of a completed test are emptied for a new start, there is
// no completed result: a start refused by the check, or one whose port does
// not open, leaves nothing to archive or print.
struct TRestartCase {
  const char* name;
  bool portFails;  // else the load time is refused
};

class RestartFails : public LiveTest, public ::testing::WithParamInterface<TRestartCase> {};

TEST_P(RestartFails, LeavesNothingToArchiveOrPrint) {
  Start({}, 0, 1, 5);
  RunTest();
  ASSERT_NE(Dlg->TestStamp(), 0);
  if (GetParam().portFails) {
    TIniFile(SettingsFileName()).WriteString(QStringLiteral("Ports"), QStringLiteral("COM3"),
                                            QStringLiteral("/nonexistent/tty"));
  } else {
    Dlg->cbTestTime->setEditText(QStringLiteral("99"));
  }
  Dlg->BtnTest->click();
  ASSERT_EQ(Msgs.Boxes.size(), 1) << Msgs.Texts().join('|').toStdString();
  EXPECT_TRUE(ValuesEmpty());
  Msgs.Clear();
  Dlg->cbTestTime->setEditText(QStringLiteral("5"));
  Dlg->BtnOK->click();
  Dlg->btnPrint->click();
  EXPECT_EQ(Msgs.Texts(), (QStringList{QStringLiteral("无完成测试过程的数据不能归档！"),
                                       QStringLiteral("无完成测试过程的数据不能打印！")}));
  EXPECT_EQ(W->Params.giSaveCount, 0);
  EXPECT_EQ(Log(), QStringList{"F4 05 00 03"});  // no print frame either
}

INSTANTIATE_TEST_SUITE_P(Ways, RestartFails,
                         ::testing::Values(TRestartCase{"RefusedByTheCheck", false},
                                           TRestartCase{"PortDoesNotOpen", true}),
                         [](const ::testing::TestParamInfo<TRestartCase>& i) { return std::string(i.param.name); });

}  // namespace

// The archived result is in the results history as the archive shows it,
// with the parameters its test was started with.
TEST_F(LiveTest, AnArchivedResultIsKeptInTheHistory) {
  Start({}, 1, 0, 5);
  Dlg->EdtDeviceNum->setText(QStringLiteral("QK-7"));
  RunTest();
  Dlg->BtnOK->click();
  ASSERT_EQ(W->Params.giSaveCount, 1);
  ASSERT_NE(W->History(), nullptr) << W->HistoryError().toStdString();
  const std::vector<TStoredResult> kept = W->History()->Results(QStringLiteral("QK-7"));
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].kind, TResultKind::Archived);
  QStringList shown;
  for (int c = 0; c < 11; ++c) shown << W->SGSave->Cells(c, 1);
  EXPECT_EQ(kept[0].texts, shown);
  ASSERT_TRUE(kept[0].start);
  EXPECT_EQ(CurrentStepName(kept[0].start->currentStep), shown[5]);
  EXPECT_EQ(kept[0].start->testTime, 5);
  EXPECT_EQ(PhaseName(kept[0].start->phase), shown[7]);
  // The value is the live frame's, which the text shows cut after its last
  // digit (0.1 μΩ here).
  ASSERT_TRUE(kept[0].ohms[0]);
  const std::optional<double> text = OhmsOfText(shown[8]);
  ASSERT_TRUE(text);
  EXPECT_GE(*kept[0].ohms[0], *text - 1e-12);
  EXPECT_LT(*kept[0].ohms[0], *text + 0.1e-6);
  EXPECT_NE(*kept[0].ohms[0], *text);
}
