// The main window's file, report and settings buttons reach their operations:
// an uploaded table saved as a text file and opened into the archive, the
// archive printed through the preview, the settings dialogs opened.
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QToolButton>

#include "forms/UDlgPreview.h"
#include "forms/UDlgSeries.h"
#include "forms/UDlgSetComm.h"
#include "forms/uOtherSettingForm.h"
#include "main_fixture.h"

namespace {

template <typename T>
T* FindTopLevel() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) return t;
  }
  return nullptr;
}

class MainWiring : public MainRig {
 protected:
  TScriptedDesktop Desktop;
};

TEST_F(MainWiring, UploadedTableGoesToATextFileAndBackIntoTheArchive) {
  StartSim({"--records", "3", "--baud", "0"});
  Connect();
  W->pgc->setCurrentWidget(W->tsMachine);
  W->BtnSampleData->click();
  ASSERT_EQ(W->Params.giDataCount, 3) << Msgs.Texts().join('|').toStdString();

  const QString name = QDir(Sim->Dir()).filePath("upload.txt");
  Desktop.SaveNames << name;
  W->BtnSave->click();
  ASSERT_TRUE(QFile::exists(name)) << Msgs.Texts().join('|').toStdString();
  ASSERT_EQ(Desktop.OpenedFolders.size(), 1);

  Desktop.OpenNames << name;
  W->BtnOpen->click();
  EXPECT_EQ(W->Params.giSaveCount, 3);
  for (int c = 1; c <= 8; ++c) {
    EXPECT_EQ(W->SGSave->Cells(c, 2), W->SGData->Cells(c, 2)) << "column " << c;
  }
  EXPECT_TRUE(Msgs.Boxes.isEmpty()) << Msgs.Texts().join('|').toStdString();
}

TEST_F(MainWiring, EmptyTablesAreRefusedForSavingAndPrinting) {
  StartWithoutInstrument();
  W->btnSaveExcel->click();
  W->btnPrintSave->click();
  EXPECT_TRUE(HasBox(Msgs, QStringLiteral("没有数据保存！"), TMsgIcon::Warning));
  EXPECT_TRUE(HasBox(Msgs, QStringLiteral("没有数据打印！"), TMsgIcon::Warning));
  EXPECT_TRUE(Desktop.Requests.isEmpty()) << "no dialog opens for an empty table";
}

TEST_F(MainWiring, ArchivePrintOpensThePreviewAndReturnsWhenItCloses) {
  StartWithoutInstrument();
  W->Params.strDevice = QStringLiteral("DL-7");
  W->Params.iLastCurrentStep = 1;
  W->Params.iLastTestTime = 30;
  W->Params.iLastPhase = 3;
  W->ArchiveResult();
  ASSERT_EQ(W->Params.giSaveCount, 1);
  TFrmPreview* seen = nullptr;
  TWhenReady closer([&] {
    seen = FindTopLevel<TFrmPreview>();
    if (!seen) return false;
    seen->tbExit->click();
    return true;
  });
  W->btnPrintSave->click();
  EXPECT_TRUE(closer.Done());
  EXPECT_NE(seen, nullptr);
  EXPECT_EQ(FindTopLevel<TFrmPreview>(), nullptr);
}

TEST_F(MainWiring, SettingsButtonsAndShortcutOpenTheirDialogs) {
  StartWithoutInstrument();
  QString modalSeen;
  auto closeModal = [&] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!d) return false;
    modalSeen = QString::fromLatin1(d->metaObject()->className());
    d->reject();
    return true;
  };
  {
    TWhenReady closer(closeModal);
    W->BtnSetComm->click();
    EXPECT_EQ(modalSeen, QStringLiteral("TFrmSetComm"));
  }
  {
    modalSeen.clear();
    TWhenReady closer(closeModal);
    W->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(W.get()));
    QTest::keyClick(W.get(), Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(modalSeen, QStringLiteral("TFrmSeries"));
  }
  W->btnOtherSetting->click();
  W->btnOtherSetting->click();
  const auto others = W->findChildren<TfrmOtherSetting*>();
  EXPECT_EQ(others.size(), 2) << "every click opens another window";
  for (auto* o : others) EXPECT_TRUE(o->isVisible());
}

}  // namespace
