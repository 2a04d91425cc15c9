// The main window without an instrument: layout, start-up state, window
// rectangle, the archive table.
#include <QAbstractButton>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QProgressBar>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>

#include "main_fixture.h"
#include "platform/Numbers.h"

namespace {

class MainShell : public MainRig {
 protected:
  void SetUp() override { StartWithoutInstrument(); }

  QPushButton* Button(const char* name) const {
    auto* b = W->findChild<QPushButton*>(QLatin1String(name));
    EXPECT_NE(b, nullptr) << name;
    return b;
  }
  TIniFile Ini() const { return TIniFile(SettingsFileName()); }
};

struct TButtonPlace {
  const char* name;
  const char* parent;
  const char* caption;
  int left, top, width, height;
};

const TButtonPlace kButtons[] = {
    {"btnUpdateList", "Panel1", "连接设备", 24, 16, 89, 25},
    {"BtnTest", "Panel1", "测试", 128, 16, 89, 25},
    {"BtnSetComm", "Panel1", "通讯设置", 232, 16, 89, 25},
    {"btnOtherSetting", "Panel1", "其它设置", 336, 16, 89, 25},
    {"BtnExit", "Panel1", "退出", 440, 16, 75, 25},
    {"BtnOpen", "Panel3", "打开Excel", 304, 8, 75, 25},
    {"btnSaveExcel", "Panel3", "保存至Excel", 424, 8, 75, 25},
    {"btnPrintSave", "Panel3", "打印", 544, 8, 75, 25},
    {"btnClearSave", "Panel3", "清空数据", 664, 8, 89, 25},
    {"BtnSampleData", "Panel2", "上传仪器数据", 248, 8, 89, 25},
    {"BtnClearData", "Panel2", "清空仪器数据", 376, 8, 89, 25},
    {"btnMachinePrint", "Panel2", "仪器打印", 512, 8, 75, 25},
    {"BtnPrint", "Panel2", "打印", 632, 8, 75, 25},
    {"BtnSave", "Panel2", "保存至Excel", 744, 8, 75, 25},
};

TEST_F(MainShell, ButtonsSitWhereTheLayoutPutsThem) {
  for (const auto& b : kButtons) {
    QPushButton* btn = Button(b.name);
    ASSERT_NE(btn, nullptr);
    EXPECT_EQ(btn->text(), QString::fromUtf8(b.caption)) << b.name;
    EXPECT_EQ(btn->geometry(), QRect(b.left, b.top, b.width, b.height)) << b.name;
    EXPECT_EQ(btn->parentWidget()->objectName(), QLatin1String(b.parent)) << b.name;
  }
}

TEST_F(MainShell, StartsDisconnectedWithEmptyTablesOnTheArchiveTab) {
  EXPECT_EQ(W->windowTitle(), QStringLiteral("三通道回路电阻测试仪1.2"));
  EXPECT_EQ(W->size(), QSize(1096, 547));
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(W->x(), screen.left() + (screen.width() - 1096) / 2);
  EXPECT_EQ(W->y(), screen.top() + (screen.height() - 547) / 2);

  EXPECT_EQ(W->StatusBar1->PanelText(0), QStringLiteral("设备已断开！"));
  EXPECT_FALSE(W->Params.gbConnected);
  for (const char* name : {"BtnSampleData", "BtnClearData", "BtnTest", "btnMachinePrint", "BtnPrint", "BtnSave"}) {
    EXPECT_FALSE(Button(name)->isEnabled()) << name;
  }
  for (const char* name : {"btnUpdateList", "BtnSetComm", "btnOtherSetting", "BtnExit", "BtnOpen", "btnSaveExcel",
                           "btnPrintSave", "btnClearSave"}) {
    EXPECT_TRUE(Button(name)->isEnabled()) << name;
  }
  EXPECT_EQ(W->pgc->currentWidget(), W->tsSave);
  EXPECT_EQ(W->pgc->tabText(0), QStringLiteral("测试数据归档"));
  EXPECT_EQ(W->pgc->tabText(1), QStringLiteral("仪器数据"));
  EXPECT_EQ(W->pgc->tabBar()->font().pixelSize(), 20);
  EXPECT_TRUE(W->ProgressBar1->isHidden());
  EXPECT_TRUE(W->PBar->isHidden());
  EXPECT_EQ(W->Params.iCurrentStep, 0);
  EXPECT_EQ(W->Params.iPhase, 1);

  const QStringList headers = RecordGridHeaders();
  for (TStringGrid* g : {W->SGSave, W->SGData}) {
    EXPECT_EQ(g->RowCount(), 2);
    EXPECT_EQ(g->ColCount(), 11);
    for (int c = 0; c < 11; ++c) {
      EXPECT_EQ(g->Cells(c, 0), headers[c]);
      EXPECT_TRUE(g->Cells(c, 1).isEmpty());
    }
    EXPECT_EQ(g->ColWidths(0), 50);
    EXPECT_EQ(g->ColWidths(1), 120);
    EXPECT_EQ(g->ColWidths(10), 95);
    EXPECT_EQ(g->RowHeights(1), 24);
    EXPECT_EQ(g->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(g->selectionBehavior(), QAbstractItemView::SelectRows);
  }
  EXPECT_EQ(headers.join(','),
            QStringLiteral("序号,时间,设备编号,测试人员,测试地点,测试档位,载流时间,测试相,测试电阻(A),测试电阻(B),测试电阻(C)"));
  EXPECT_EQ(W->Params.giSaveCount, 0);
  EXPECT_EQ(W->Params.giDataCount, 0);
}

// Panel 2 shows the port in use and its device, as wide as that text.
TEST_F(MainShell, StatusBarHasThreePanelsAndTheSecondNeverShowsAnything) {
  ASSERT_EQ(W->StatusBar1->PanelCount(), 3);
  EXPECT_EQ(W->StatusBar1->PanelWidth(0), 500);
  EXPECT_EQ(W->StatusBar1->PanelWidth(1), 200);
  const QString port = W->StatusBar1->PanelText(2);
  EXPECT_TRUE(port.startsWith(QStringLiteral("COM%1 → /").arg(W->Params.giCommPort))) << port.toStdString();
  EXPECT_GE(W->StatusBar1->PanelWidth(2), W->StatusBar1->fontMetrics().horizontalAdvance(port));
  EXPECT_EQ(W->StatusBar1->height(), 29);
  for (QSize s : {QSize(900, 400), QSize(1300, 700), QSize(700, 300)}) {
    W->resize(s);
    PumpOrSleep(0);
    EXPECT_TRUE(W->PBar->isHidden());
    EXPECT_TRUE(W->StatusBar1->PanelText(1).isEmpty());
    EXPECT_EQ(W->StatusBar1->PanelText(2), port);
    // The hidden bar is placed in panel 1.
    const QRect r = W->StatusBar1->PanelRect(1);
    EXPECT_EQ(W->PBar->geometry(), QRect(r.left(), r.top() + 1, 200 - 4, r.height() - 2));
  }
}

TEST_F(MainShell, ClosingWithoutSaveFlagWritesNoRectangle) {
  bool closed = false;
  QObject::connect(W.get(), &TFrmMain::Closed, [&] { closed = true; });
  W->move(40, 50);
  Button("BtnExit")->click();
  EXPECT_TRUE(closed);
  EXPECT_TRUE(W->isHidden());
  for (const char* key : {"left", "top", "width", "height"}) {
    EXPECT_EQ(Ini().ReadString(QStringLiteral("Screen"), QLatin1String(key), QStringLiteral("absent")),
              QStringLiteral("absent"));
  }
}

TEST_F(MainShell, SaveFlagSetWhileRunningMakesTheExitWriteTheRectangle) {
  // The other-settings dialog writes the flag when it closes.
  Ini().WriteInteger(QStringLiteral("Screen"), QStringLiteral("save"), 1);
  W->resize(900, 500);
  W->move(30, 40);
  W->close();
  EXPECT_EQ(Ini().ReadInteger(QStringLiteral("Screen"), QStringLiteral("left"), -1), 30);
  EXPECT_EQ(Ini().ReadInteger(QStringLiteral("Screen"), QStringLiteral("top"), -1), 40);
  EXPECT_EQ(Ini().ReadInteger(QStringLiteral("Screen"), QStringLiteral("width"), -1), 900);
  EXPECT_EQ(Ini().ReadInteger(QStringLiteral("Screen"), QStringLiteral("height"), -1), 500);
}

// Starting and closing the window reads the settings file once and stores
// it once at each point that writes: the rectangle, then the working
// parameters. A line someone else added meanwhile survives both stores.
TEST_F(MainShell, StartAndCloseReadTheSettingsOnceAndStoreThemOncePerPoint) {
  W.reset();
  Ini().WriteInteger(QStringLiteral("Screen"), QStringLiteral("save"), 1);
  const int reads = TIniFile::FileReads();
  const int stores = TIniFile::FileStores();
  MakeWindow();
  EXPECT_EQ(TIniFile::FileReads() - reads, 1);
  Ini().WriteString(QStringLiteral("Ports"), QStringLiteral("COM9"), QStringLiteral("/dev/ttyUSB9"));
  W->close();
  W.reset();
  EXPECT_EQ(TIniFile::FileStores() - stores, 1 + 2);  // the line above, then the two points
  EXPECT_EQ(Ini().ReadString(QStringLiteral("Ports"), QStringLiteral("COM9"), QString()), QStringLiteral("/dev/ttyUSB9"));
  EXPECT_EQ(Ini().ReadInteger(QStringLiteral("Screen"), QStringLiteral("width"), -1), 1096);
  EXPECT_EQ(Ini().ReadInteger(QStringLiteral("SetParam"), QStringLiteral("iTestTime"), -1), 5);
}

TEST_F(MainShell, StoredRectangleRoundTrips) {
  W.reset();
  TIniFile ini = Ini();
  ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("save"), 1);
  ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("left"), 10);
  ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("top"), 20);
  ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("width"), 800);
  ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("height"), 600);
  MakeWindow();
  // Left and top are the outer window's; width and height its inside.
  EXPECT_EQ(W->pos(), QPoint(10, 20));
  EXPECT_EQ(W->size(), QSize(800, 600));
  W->move(15, 25);
  W->resize(810, 590);
  W->close();
  W.reset();
  MakeWindow();
  EXPECT_EQ(W->pos(), QPoint(15, 25));
  EXPECT_EQ(W->size(), QSize(810, 590));
}

TEST_F(MainShell, StoredRectangleWithoutAreaOpensAtTheDefaultPlace) {
  W.reset();
  TIniFile ini = Ini();
  ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("save"), 1);
  MakeWindow();  // left, top, width and height all read as 0
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(W->size(), QSize(1096, 547));
  EXPECT_EQ(W->x(), screen.left() + (screen.width() - 1096) / 2);
}

TEST_F(MainShell, DestroyingTheWindowSavesTheWorkingParameters) {
  W->Params.iTestTime = 17;
  W->Params.strTestUser = QStringLiteral("张三");
  W.reset();
  EXPECT_EQ(Ini().ReadInteger(QStringLiteral("SetParam"), QStringLiteral("iTestTime"), 0), 17);
  EXPECT_EQ(Ini().ReadString(QStringLiteral("RestParam"), QStringLiteral("strTestUser"), QString()),
            QStringLiteral("张三"));
}

TEST_F(MainShell, ArchiveRowsAreNumberedAndFilledFromTheSnapshot) {
  W->Params.strDevice = QStringLiteral("D1");
  W->Params.strTestUser = QStringLiteral("李四");
  W->Params.strTestAdd = QStringLiteral("变电站");
  W->Params.iLastCurrentStep = 1;
  W->Params.iLastTestTime = 30;
  W->Params.iLastPhase = 3;
  W->Params.strResultA = QStringLiteral("30.5 μΩ");
  W->Params.strResultB = QStringLiteral("31.0 μΩ");
  W->Params.strResultC = QStringLiteral("29.9 μΩ");
  const QString before = DateTimeText(QDateTime::currentDateTime());
  W->ArchiveResult();
  const QString after = DateTimeText(QDateTime::currentDateTime());
  EXPECT_EQ(W->Params.giSaveCount, 1);
  EXPECT_EQ(W->SGSave->RowCount(), 2);
  const QStringList row{QStringLiteral(" 1"), QString(), QStringLiteral("D1"), QStringLiteral("李四"),
                        QStringLiteral("变电站"), QStringLiteral("200A"), QStringLiteral("30 秒"),
                        QStringLiteral("三相"), W->Params.strResultA, W->Params.strResultB, W->Params.strResultC};
  for (int c = 0; c < 11; ++c) {
    if (c == 1) continue;
    EXPECT_EQ(W->SGSave->Cells(c, 1), row[c]) << c;
  }
  EXPECT_TRUE(W->SGSave->Cells(1, 1) == before || W->SGSave->Cells(1, 1) == after);
  EXPECT_EQ(W->SGSave->Row(), 1);

  W->Params.iLastPhase = 2;
  W->Params.iLastCurrentStep = 5;
  W->pgc->setCurrentWidget(W->tsMachine);
  for (int i = 2; i <= 10; ++i) W->ArchiveResult();
  EXPECT_EQ(W->pgc->currentWidget(), W->tsMachine);  // archiving leaves the tab alone
  EXPECT_EQ(W->SGSave->Cells(0, 10), QStringLiteral("10"));
  EXPECT_TRUE(W->SGSave->Cells(7, 10).isEmpty());
  EXPECT_TRUE(W->SGSave->Cells(5, 10).isEmpty());
  EXPECT_EQ(W->SGSave->Row(), 10);
  EXPECT_EQ(W->Params.giSaveCount, 10);

  // Clearing empties the table; numbering starts at 1 again.
  Button("btnClearSave")->click();
  EXPECT_EQ(W->SGSave->RowCount(), 2);
  EXPECT_EQ(W->Params.giSaveCount, 0);
  for (int c = 0; c < 11; ++c) EXPECT_TRUE(W->SGSave->Cells(c, 1).isEmpty());
  EXPECT_TRUE(Msgs.Boxes.isEmpty());
  W->ArchiveResult();
  EXPECT_EQ(W->SGSave->Cells(0, 1), QStringLiteral(" 1"));
}

TEST_F(MainShell, ArchiveAfterALoadedFileAppendsBelowIt) {
  W->SGSave->SetRowCount(6);
  for (int r = 1; r <= 5; ++r) W->SGSave->SetCells(0, r, QString::asprintf("%2d", r));
  W->Params.giSaveCount = 5;
  W->ArchiveResult();
  EXPECT_EQ(W->SGSave->RowCount(), 7);
  EXPECT_EQ(W->SGSave->Cells(0, 6), QStringLiteral(" 6"));
  EXPECT_EQ(W->SGSave->Cells(0, 5), QStringLiteral(" 5"));
}

TEST_F(MainShell, ArchiveOfTenThousandRowsStaysInOneModel) {
  std::vector<QStringList> rows;
  for (int r = 1; r <= 10000; ++r) rows.push_back({QString::asprintf("%2d", r), QStringLiteral("25-01-01 08:00")});
  W->SGSave->ReplaceDataRows(std::move(rows));
  W->Params.giSaveCount = 10000;
  for (int i = 0; i < 20; ++i) W->ArchiveResult();
  EXPECT_EQ(W->SGSave->RowCount(), 10021);
  EXPECT_EQ(W->SGSave->Cells(0, 10020), QStringLiteral("10020"));
  EXPECT_EQ(W->SGSave->Row(), 10020);
  // A model/view table: no widget per cell.
  EXPECT_LT(W->SGSave->findChildren<QWidget*>().size(), 40);
  const QImage img = W->SGSave->grab().toImage();
  EXPECT_FALSE(img.isNull());
}

TEST_F(MainShell, SelectedRowIsHighlightedAndRowNumbersAreRaised) {
  W->resize(1096, 547);
  W->ArchiveResult();
  W->ArchiveResult();
  W->SGSave->SetRow(1);
  PumpOrSleep(0);
  const QImage img = W->SGSave->viewport()->grab().toImage();
  const QPalette pal = QApplication::palette();
  // A data cell of the selected row: highlight filled, text in white.
  const QRect sel = W->SGSave->visualRect(W->SGSave->Model()->index(0, 5));
  EXPECT_EQ(QColor(img.pixel(sel.left() + 2, sel.top() + 2)), pal.color(QPalette::Highlight));
  bool white = false;
  for (int x = sel.left(); x < sel.right(); ++x) {
    for (int y = sel.top(); y < sel.bottom(); ++y) {
      if (QColor(img.pixel(x, y)) == QColor(Qt::white)) white = true;
    }
  }
  EXPECT_TRUE(white);
  // The other row: window colour.
  const QRect other = W->SGSave->visualRect(W->SGSave->Model()->index(1, 5));
  EXPECT_EQ(QColor(img.pixel(other.left() + 2, other.top() + 2)), pal.color(QPalette::Base));
  // Row-number column: raised, white left edge and black right edge.
  QHeaderView* rows = W->SGSave->verticalHeader();
  const QImage h = rows->grab().toImage();
  const int y = rows->sectionViewportPosition(1) + rows->sectionSize(1) / 2;
  EXPECT_EQ(QColor(h.pixel(0, y)), QColor(Qt::white));
  bool black = false;
  for (int x = h.width() - 3; x < h.width(); ++x) {
    if (QColor(h.pixel(x, y)) == QColor(Qt::black)) black = true;
  }
  EXPECT_TRUE(black);
}

TEST_F(MainShell, CornerAboveTheRowNumbersShowsTheFirstCaption) {
  auto* corner = W->SGSave->findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
  ASSERT_NE(corner, nullptr);
  const QImage img = corner->grab().toImage();
  int ink = 0;
  for (int x = 3; x < img.width() - 3; ++x) {
    for (int y = 3; y < img.height() - 3; ++y) {
      if (qGray(img.pixel(x, y)) < 100) ++ink;
    }
  }
  EXPECT_GT(ink, 10);  // the text "序号"
  EXPECT_EQ(QColor(img.pixel(0, img.height() / 2)), QColor(Qt::white));
  // An empty caption leaves the raised cell blank.
  W->SGSave->SetCells(0, 0, QString());
  const QImage blank = corner->grab().toImage();
  int blankInk = 0;
  for (int x = 3; x < blank.width() - 3; ++x) {
    for (int y = 3; y < blank.height() - 3; ++y) {
      if (qGray(blank.pixel(x, y)) < 100) ++blankInk;
    }
  }
  EXPECT_EQ(blankInk, 0);
}

TEST(TryStrToInt, AcceptsTheProgramsIntegerTexts) {
  struct {
    const char* text;
    bool ok;
    int value;
  } cases[] = {{"12", true, 12},   {" 1", true, 1},    {"  -7", true, -7}, {"+5", true, 5},
               {"$1F", true, 31},  {"0x10", true, 16}, {"", false, 0},     {" ", false, 0},
               {"1 ", false, 0},   {"4a", false, 0},   {"-", false, 0},    {"2147483647", true, 2147483647},
               {"2147483648", false, 0}, {"-2147483648", true, -2147483647 - 1}, {"１２", false, 0}};
  for (const auto& c : cases) {
    int v = -99;
    EXPECT_EQ(TryStrToInt(QString::fromUtf8(c.text), v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

}  // namespace
