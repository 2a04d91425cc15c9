// The other settings window: the save value of section Screen, read at
// creation and written, normalised, whenever the window is closed.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "data/UDataCenter.h"
#include "forms/uOtherSettingForm.h"
#include "platform/IniFile.h"
#include "support/TestServices.h"
#include "main_fixture.h"

namespace {

class OtherSettingWindow : public ::testing::Test {
 protected:
  void SetUp() override { SetAppDir(FDir.path()); }
  void TearDown() override { SetAppDir(QString()); }
  QString StoredSave() const {
    return TIniFile(SettingsFileName()).ReadString("Screen", "save", "<missing>");
  }
  QTemporaryDir FDir;
};

struct TFileValue {
  const char* stored;  // nullptr: no file at all
  bool ticked;
  const char* written;  // by closing untouched
};
void PrintTo(const TFileValue& v, std::ostream* os) { *os << "save=" << (v.stored ? v.stored : "(no file)"); }

class OtherSettingFileValues : public OtherSettingWindow,
                               public ::testing::WithParamInterface<TFileValue> {};

TEST_P(OtherSettingFileValues, ShowTheBoxAndAreRewrittenNormalisedOnClose) {
  const TFileValue& v = GetParam();
  if (v.stored) TIniFile(SettingsFileName()).WriteString("Screen", "save", v.stored);
  TfrmOtherSetting w;
  w.show();
  EXPECT_EQ(w.chkSave->isChecked(), v.ticked);
  w.btnClose->click();
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(StoredSave(), v.written);
}

INSTANTIATE_TEST_SUITE_P(Values, OtherSettingFileValues,
                         ::testing::Values(TFileValue{nullptr, false, "0"}, TFileValue{"0", false, "0"},
                                           TFileValue{"1", true, "1"}, TFileValue{"2", false, "0"},
                                           TFileValue{"-1", false, "0"}, TFileValue{"abc", false, "0"}));

TEST_F(OtherSettingWindow, OnlyClosingWritesAndTheWindowIsHiddenNotDestroyed) {
  auto* owner = new QWidget;
  QPointer<TfrmOtherSetting> w = TfrmOtherSetting::ShowNew(owner);
  ASSERT_TRUE(w);
  EXPECT_EQ(w->parentWidget(), owner);
  EXPECT_TRUE(w->isWindow());
  EXPECT_TRUE(w->isVisible());
  EXPECT_FALSE(w->isModal());
  EXPECT_EQ(w->windowTitle(), "其它设置");
  EXPECT_EQ(w->chkSave->text(), "保存退出前主窗口的状态");
  EXPECT_EQ(w->chkSave->geometry(), QRect(24, 32, 153, 17));
  EXPECT_EQ(w->btnClose->text(), "关闭");
  EXPECT_EQ(w->btnClose->geometry(), QRect(64, 76, 75, 25));

  w->chkSave->click();
  EXPECT_EQ(StoredSave(), "<missing>");  // ticking writes nothing
  w->close();                            // the title bar's close
  EXPECT_EQ(StoredSave(), "1");
  ASSERT_TRUE(w);
  EXPECT_FALSE(w->isVisible());

  // Shown again it keeps its state; closing again writes again.
  w->show();
  w->chkSave->click();
  w->btnClose->click();
  EXPECT_EQ(StoredSave(), "0");

  delete owner;  // the window lives until its owner goes
  EXPECT_FALSE(w);
}

TEST_F(OtherSettingWindow, OfTwoOpenWindowsTheOneClosedLastDecides) {
  QWidget owner;
  TfrmOtherSetting* a = TfrmOtherSetting::ShowNew(&owner);
  TfrmOtherSetting* b = TfrmOtherSetting::ShowNew(&owner);
  EXPECT_NE(a, b);
  a->chkSave->setChecked(true);
  b->chkSave->setChecked(false);
  b->close();
  a->close();
  EXPECT_EQ(StoredSave(), "1");
  a->show();
  a->close();
  b->show();
  b->close();
  EXPECT_EQ(StoredSave(), "0");
}

// Each copy is a tool window of the main window, so it stays above it, and a
// further copy opens where it is seen instead of exactly on top of the first.
TEST_F(OtherSettingWindow, CopiesStayAboveTheOwnerAndDoNotHideEachOther) {
  QWidget owner;
  owner.show();
  TfrmOtherSetting* a = TfrmOtherSetting::ShowNew(&owner);
  TfrmOtherSetting* b = TfrmOtherSetting::ShowNew(&owner);
  TfrmOtherSetting* c = TfrmOtherSetting::ShowNew(&owner);
  for (TfrmOtherSetting* w : {a, b, c}) {
    EXPECT_EQ(w->windowType(), Qt::Tool);
    EXPECT_EQ(w->parentWidget(), &owner);
    EXPECT_TRUE(w->isVisible());
  }
  EXPECT_NE(a->pos(), b->pos());
  EXPECT_NE(b->pos(), c->pos());
  EXPECT_NE(a->pos(), c->pos());
  // Once the first is closed, the next copy may take its place again.
  const QPoint first = a->pos();
  a->close();
  TfrmOtherSetting* d = TfrmOtherSetting::ShowNew(&owner);
  EXPECT_EQ(d->pos(), first);
}

TEST_F(OtherSettingWindow, AValueThatCannotBeWrittenIsReportedAndTheWindowStaysOpen) {
  // A folder in the place of the settings file can be neither read nor
  // replaced, whoever runs the test.
  ASSERT_TRUE(QDir(FDir.path()).mkdir("SystemFile.ini"));
  TRecordingMessages boxes;
  TfrmOtherSetting w;
  w.show();
  EXPECT_FALSE(w.chkSave->isChecked());
  w.btnClose->click();
  EXPECT_TRUE(w.isVisible());
  ASSERT_EQ(boxes.Boxes.size(), 1);
  EXPECT_EQ(boxes.Boxes[0].icon, TMsgIcon::Error);
  EXPECT_TRUE(boxes.Boxes[0].text.contains("SystemFile.ini")) << boxes.Boxes[0].text.toStdString();

  // Once the file can be written the window closes.
  ASSERT_TRUE(QDir(FDir.path()).rmdir("SystemFile.ini"));
  w.btnClose->click();
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(StoredSave(), "0");
}

// Through the main window: the box ticked in a window opened by its button
// governs the saving at the end of the same run, but only once that window
// has been closed; the next start restores what was saved.
struct TTickCase {
  const char* name;
  bool closeTheWindow;
  bool restored;
};

class OtherSettingInTheProgram : public MainRig, public ::testing::WithParamInterface<TTickCase> {
 protected:
  void SetUp() override { StartWithoutInstrument(); }
};

TEST_P(OtherSettingInTheProgram, TickedBoxDecidesTheNextStartsRectangle) {
  W->btnOtherSetting->click();
  auto* other = W->findChild<TfrmOtherSetting*>();
  ASSERT_NE(other, nullptr);
  ASSERT_FALSE(other->chkSave->isChecked());
  other->chkSave->click();
  if (GetParam().closeTheWindow) other->btnClose->click();
  EXPECT_EQ(other->isVisible(), !GetParam().closeTheWindow);

  W->move(30, 40);
  W->resize(900, 500);
  W->close();
  W.reset();
  MakeWindow();
  EXPECT_EQ(W->pos() == QPoint(30, 40) && W->size() == QSize(900, 500), GetParam().restored)
      << W->pos().x() << "," << W->pos().y() << " " << W->width() << "x" << W->height();
}

INSTANTIATE_TEST_SUITE_P(Ways, OtherSettingInTheProgram,
                         ::testing::Values(TTickCase{"TickedAndClosed", true, true},
                                           TTickCase{"TickedButLeftOpen", false, false}),
                         [](const ::testing::TestParamInfo<TTickCase>& i) { return std::string(i.param.name); });

}  // namespace
