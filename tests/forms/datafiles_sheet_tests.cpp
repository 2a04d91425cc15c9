// The spreadsheet exchange: storing a table, loading the archive, the
// progress checkpoints with cancel, and an engine that fails at its start or
// at any later call.
#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <map>

#include "datafiles_fixture.h"
#include "forms/UDlgProcess.h"
#include "platform/MessageService.h"
#include "platform/ProgressService.h"
#include "spreadsheet/Spreadsheet.h"
#include "support/SpreadsheetFixtures.h"

using namespace DataFiles;

namespace {

// The progress window of the operation, watched: a hook runs just before
// the second checkpoint, that is between the two (the file written or read).
class TWatchedProgress : public IProgressWindow {
 public:
  TWatchedProgress(std::unique_ptr<IProgressWindow> real, std::function<void()>& between)
      : FReal(std::move(real)), FBetween(between) {}
  bool Update(int count, int process) override {
    if (process == 2 && FBetween) FBetween();
    return FReal->Update(count, process);
  }
  void Close() override { FReal->Close(); }

 private:
  std::unique_ptr<IProgressWindow> FReal;
  std::function<void()>& FBetween;
};

TFrmProcess* LiveProgressDialog() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* d = qobject_cast<TFrmProcess*>(w); d && d->isVisible()) return d;
  }
  return nullptr;
}

void ClickCancel() {
  TFrmProcess* d = LiveProgressDialog();
  ASSERT_NE(d, nullptr);
  d->findChild<QPushButton*>(QStringLiteral("BtnCancel"))->click();
}

class SheetExchange : public DataFilesTest {
 protected:
  void SetUp() override {
    DataFilesTest::SetUp();
    QDir().mkpath(Folder());
    // The real progress dialog, watched.
    SetProgressFactory([this](QWidget* owner, const QString& tip) -> std::unique_ptr<IProgressWindow> {
      return std::make_unique<TWatchedProgress>(OpenProgressDialog(owner, tip), between);
    });
  }
  void TearDown() override {
    InstallProgressDialog();
    EXPECT_EQ(LiveProgressDialog(), nullptr) << "the progress dialog stayed open";
    DataFilesTest::TearDown();
  }

  // Reads a workbook back: rows of 11 texts.
  static std::vector<QStringList> SheetRows(const QString& name, int* usedRows = nullptr) {
    TReadBack app(name);
    const int used = app.UsedRangeRowsCount();
    if (usedRows) *usedRows = used;
    std::vector<QStringList> rows;
    for (int r = 1; r <= used; ++r) {
      QStringList row;
      for (int c = 1; c <= 11; ++c) row << app.CellValue(r, c);
      rows.push_back(row);
    }
    return rows;
  }

  QStringList Texts() const { return messages.Texts(); }

  // Runs between the two checkpoints of an operation.
  std::function<void()> between;
};

TEST_F(SheetExchange, SavingStoresCaptionsAndRowsAsText) {
  Fill(SGData.get(), 3);
  SGData->SetCells(3, 2, QStringLiteral("  李四 "));
  SGData->SetRowCount(6);  // rows past the counter are not saved
  SGData->SetCells(2, 5, QStringLiteral("stale"));
  const QString name = InFolder(QStringLiteral("instrument.xls"));
  desktop.SaveNames << name;
  BtnSaveClick(nullptr, SGData.get(), giDataCount);

  EXPECT_TRUE(messages.Boxes.isEmpty()) << Texts().join(QLatin1Char('|')).toStdString();
  int used = 0;
  const auto rows = SheetRows(name, &used);
  ASSERT_EQ(used, 4);
  EXPECT_EQ(rows[0], kCaptions);
  QStringList second = RecordRow(2);
  second[0] = QStringLiteral("2");  // trimmed
  second[3] = QStringLiteral("李四");
  EXPECT_EQ(rows[2], second);
  EXPECT_EQ(rows[3][8], QStringLiteral("3.25"));
  EXPECT_EQ(desktop.OpenedFolders, QStringList{Folder()});
}

// What the file says of its layout, as another spreadsheet program reads it:
// column B 17.5 characters wide and every other column 9.5, every cell
// centred and in the text format "@".
TEST_F(SheetExchange, TheStoredLayoutIsCentredTextWithTheTimeColumnWidened) {
  Fill(SGData.get(), 2);
  const QString name = InFolder(QStringLiteral("layout.xlsx"));
  desktop.SaveNames << name;
  BtnSaveClick(nullptr, SGData.get(), giDataCount);
  ASSERT_TRUE(messages.Boxes.isEmpty());
  auto member = [&](const char* path) {
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), name, QLatin1String(path)});
    EXPECT_TRUE(unzip.waitForFinished(10000));
    return QString::fromUtf8(unzip.readAllStandardOutput());
  };
  const QString sheet = member("xl/worksheets/sheet1.xml");
  const QString styles = member("xl/styles.xml");
  ASSERT_FALSE(sheet.isEmpty());
  // Widths in characters of columns 1..11; a stored width carries the
  // program's 5-pixel padding (0.78515625 of a character at Calibri 11).
  std::map<int, double> width;
  static const QRegularExpression col(QStringLiteral("<col min=\"(\\d+)\" max=\"(\\d+)\" width=\"([0-9.]+)\""));
  for (auto m = col.globalMatch(sheet); m.hasNext();) {
    const auto c = m.next();
    for (int k = c.captured(1).toInt(); k <= std::min(c.captured(2).toInt(), 11); ++k) {
      width[k] = c.captured(3).toDouble() - 0.78515625;
    }
  }
  for (int k = 1; k <= 11; ++k) EXPECT_DOUBLE_EQ(width[k], k == 2 ? 17.5 : 9.5) << "column " << k;
  // Every cell carries the one style that is centred text.
  static const QRegularExpression cell(QStringLiteral("<c r=\"[A-K]\\d+\" s=\"(\\d+)\""));
  int cells = 0;
  for (auto m = cell.globalMatch(sheet); m.hasNext();) {
    EXPECT_EQ(m.next().captured(1), QStringLiteral("1"));
    ++cells;
  }
  EXPECT_EQ(cells, 33);
  static const QRegularExpression xf1(
      QStringLiteral("<cellXfs count=\"2\"><xf [^>]*/><xf numFmtId=\"49\"[^>]*><alignment horizontal=\"center\"/>"));
  EXPECT_TRUE(xf1.match(styles).hasMatch()) << styles.toStdString();
}

TEST_F(SheetExchange, RoundTripPadsTheRecordNumber) {
  Fill(SGSave.get(), 12);
  const QString name = InFolder(QStringLiteral("archive.xls"));
  desktop.SaveNames << name;
  btnSaveExcelClick(nullptr, SGSave.get(), giSaveCount);
  ASSERT_TRUE(messages.Boxes.isEmpty());
  EXPECT_EQ(SheetRows(name)[1][0], QStringLiteral("1"));  // stored trimmed

  SGSave->ReplaceDataRows({QStringList(11, QString())});
  giSaveCount = 0;
  desktop.OpenNames << name;
  BtnOpenClick(nullptr, SGSave.get(), giSaveCount);
  EXPECT_TRUE(messages.Boxes.isEmpty());
  EXPECT_EQ(giSaveCount, 12);
  ASSERT_EQ(SGSave->RowCount(), 13);
  for (int r = 1; r <= 12; ++r) EXPECT_EQ(Row(SGSave.get(), r), RecordRow(r)) << r;
  EXPECT_EQ(SGSave->Cells(0, 1), QStringLiteral(" 1"));
  EXPECT_EQ(SGSave->Cells(0, 12), QStringLiteral("12"));
  EXPECT_EQ(desktop.OpenedFolders, QStringList{Folder()});  // only the save opened it
}

// A sheet of captions alone holds no record: refused, the archive keeps
// its rows.
TEST_F(SheetExchange, ACaptionRowAloneIsRefusedAndTheArchiveStays) {
  Fill(SGSave.get(), 3);
  const QString name = InFolder(QStringLiteral("captions.ods"));
  WriteFixtureFile(name, MakeOdsWorkbook({{"序号", "时间", "设备编号"}}));
  OpenFromExcel(nullptr, name, SGSave.get(), giSaveCount);
  EXPECT_EQ(Texts(), QStringList{QStringLiteral("文件中没有测试记录：") + name});
  EXPECT_EQ(giSaveCount, 3);
  EXPECT_EQ(SGSave->RowCount(), 4);
  EXPECT_EQ(SGSave->Cells(2, 3), RecordRow(3)[2]);
}

TEST_F(SheetExchange, ABinaryWorkbookLoads) {
  const QString name = InFolder(QStringLiteral("old.xls"));
  WriteFixtureFile(name, MakeXlsWorkbook({
                             {"序号", "时间", "设备编号", "测试人员", "测试地点", "测试档位", "载流时间", "测试相",
                              "测试电阻(A)", "测试电阻(B)", "测试电阻(C)"},
                             {1, "08-03-05 09:07", "QK-1", "张三", "变电站", "200A", "30 秒", "三相", 12.5, 13, 0.75},
                             {2, "08-03-06 10:00", "QK-2", "李四", "开关站", "100A", "15 秒", "单相", 8,
                              TFixtureCell{}, TFixtureCell{}},
                         }));
  OpenFromExcel(nullptr, name, SGSave.get(), giSaveCount);
  EXPECT_TRUE(messages.Boxes.isEmpty()) << Texts().join(QLatin1Char('|')).toStdString();
  ASSERT_EQ(giSaveCount, 2);
  EXPECT_EQ(Row(SGSave.get(), 1), (QStringList{" 1", "08-03-05 09:07", "QK-1", "张三", "变电站", "200A", "30 秒",
                                                "三相", "12.5", "13", "0.75"}));
  EXPECT_EQ(Row(SGSave.get(), 2), (QStringList{" 2", "08-03-06 10:00", "QK-2", "李四", "开关站", "100A", "15 秒",
                                                "单相", "8", "", ""}));
  EXPECT_TRUE(desktop.OpenedFolders.isEmpty());
}

// A workbook that a spreadsheet program stored in its Excel 97-2003 format
// (made by fixtures/make_archive97.sh).
TEST_F(SheetExchange, AWorkbookOfASpreadsheetProgramInExcel97Format) {
  const QString name = QStringLiteral(QT_TESTCASE_SOURCEDIR "/forms/fixtures/archive97.xls");
  ASSERT_TRUE(QFileInfo::exists(name));
  desktop.OpenNames << name;
  BtnOpenClick(nullptr, SGSave.get(), giSaveCount);
  EXPECT_TRUE(messages.Boxes.isEmpty()) << Texts().join(QLatin1Char('|')).toStdString();
  ASSERT_EQ(giSaveCount, 2);
  EXPECT_EQ(Row(SGSave.get(), 1), (QStringList{" 1", "08-03-05 09:07", "0815", "张三", "时间广场", "200A", "30 秒",
                                                "三相", "12.5", "13", "0.75"}));
  EXPECT_EQ(Row(SGSave.get(), 2), (QStringList{" 2", "08-03-06 10:00", "QK-2", "李四", "开关站", "100A", "15 秒",
                                                "单相", "8", "", ""}));
  EXPECT_EQ(SGSave->Cells(0, 0), QStringLiteral("序号"));  // the table keeps its own captions
}

struct TBadColumnA {
  const char* name;
  TFixtureCell cell;
};

class SheetColumnA : public SheetExchange, public ::testing::WithParamInterface<TBadColumnA> {};

TEST_P(SheetColumnA, NotAWholeNumberFailsAndLeavesTheArchive) {
  Fill(SGSave.get(), 2);
  const QString name = InFolder(QStringLiteral("bad.xml"));
  WriteFixtureFile(name, MakeXmlSpreadsheet({{"序号", "时间"}, {1, "a"}, {GetParam().cell, "b"}, {3, "c"}}));
  OpenFromExcel(nullptr, name, SGSave.get(), giSaveCount);
  ASSERT_EQ(messages.Boxes.size(), 1);
  EXPECT_EQ(messages.Boxes[0].text, QStringLiteral("转换成Excel格式失败！"));
  EXPECT_EQ(messages.Boxes[0].icon, TMsgIcon::Warning);
  EXPECT_EQ(giSaveCount, 2);
  ASSERT_EQ(SGSave->RowCount(), 3);
  EXPECT_EQ(Row(SGSave.get(), 1), RecordRow(1));
  EXPECT_EQ(Row(SGSave.get(), 2), RecordRow(2));
}

INSTANTIATE_TEST_SUITE_P(Cells, SheetColumnA,
                         ::testing::Values(TBadColumnA{"Empty", TFixtureCell{}}, TBadColumnA{"Text", "二"},
                                           TBadColumnA{"Fraction", 1.5}),
                         [](const ::testing::TestParamInfo<TBadColumnA>& i) { return std::string(i.param.name); });

// ---- cancel ------------------------------------------------------------------------

TEST_F(SheetExchange, SaveCancelledAtTheFirstCheckpoint) {
  Fill(SGSave.get(), 2);
  const QString name = InFolder(QStringLiteral("never.xls"));
  QTimer::singleShot(0, [] { ClickCancel(); });  // seen during the first update
  SaveToExcel(nullptr, name, SGSave.get(), giSaveCount);
  EXPECT_FALSE(QFileInfo::exists(name));
  EXPECT_TRUE(desktop.OpenedFolders.isEmpty());
  EXPECT_TRUE(messages.Boxes.isEmpty());
}

TEST_F(SheetExchange, SaveCancelledAtTheSecondCheckpointStillCompletesTheFile) {
  Fill(SGSave.get(), 2);
  const QString name = InFolder(QStringLiteral("complete.xls"));
  between = [] { ClickCancel(); };
  SaveToExcel(nullptr, name, SGSave.get(), giSaveCount);
  EXPECT_EQ(SheetRows(name).size(), 3u);
  EXPECT_TRUE(desktop.OpenedFolders.isEmpty());
  EXPECT_TRUE(messages.Boxes.isEmpty());
}

TEST_F(SheetExchange, OpenCancelledAtTheFirstCheckpoint) {
  Fill(SGSave.get(), 2);
  const QString name = InFolder(QStringLiteral("in.ods"));
  WriteFixtureFile(name, MakeOdsWorkbook({{"序号"}, {5}}));
  QTimer::singleShot(0, [] { ClickCancel(); });
  OpenFromExcel(nullptr, name, SGSave.get(), giSaveCount);
  EXPECT_EQ(giSaveCount, 2);
  EXPECT_EQ(Row(SGSave.get(), 2), RecordRow(2));
}

TEST_F(SheetExchange, OpenCancelledAtTheSecondCheckpointKeepsWhatWasLoaded) {
  Fill(SGSave.get(), 2);
  const QString name = InFolder(QStringLiteral("in.ods"));
  WriteFixtureFile(name, MakeOdsWorkbook({{"序号"}, {5}}));
  between = [] { ClickCancel(); };
  OpenFromExcel(nullptr, name, SGSave.get(), giSaveCount);
  EXPECT_EQ(giSaveCount, 1);
  EXPECT_EQ(SGSave->Cells(0, 1), QStringLiteral(" 5"));
  EXPECT_TRUE(messages.Boxes.isEmpty());
}

TEST_F(SheetExchange, TheWindowSystemCannotCloseTheDialogDuringAnOperation) {
  Fill(SGSave.get(), 2);
  const QString name = InFolder(QStringLiteral("closed.xls"));
  bool refused = false;
  between = [&] {
    TFrmProcess* d = LiveProgressDialog();
    ASSERT_NE(d, nullptr);
    refused = !d->close();
  };
  SaveToExcel(nullptr, name, SGSave.get(), giSaveCount);
  EXPECT_TRUE(refused);
  EXPECT_EQ(SheetRows(name).size(), 3u);
  EXPECT_EQ(desktop.OpenedFolders, QStringList{Folder()});
}

TEST_F(SheetExchange, ADialogDestroyedDuringTheOperationIsLeftAlone) {
  Fill(SGSave.get(), 2);
  const QString name = InFolder(QStringLiteral("gone.xls"));
  between = [] { delete LiveProgressDialog(); };
  SaveToExcel(nullptr, name, SGSave.get(), giSaveCount);
  EXPECT_EQ(SheetRows(name).size(), 3u);
  EXPECT_TRUE(messages.Boxes.isEmpty());
  EXPECT_EQ(desktop.OpenedFolders, QStringList{Folder()});
}

// ---- a failing engine ----------------------------------------------------------------

// A save that fails: a text longer than a cell holds, or a disk that fills
// up. One message, the old file (or none) where it was, nothing beside it,
// and the folder opened as after any save.
struct TSaveFailure {
  const char* name;
  bool fullDisk;  // else a text too long for a cell, or rows beyond the format
  int rows;
  const char* reason;  // the writer's, under the message
};

class SaveFails : public SheetExchange, public ::testing::WithParamInterface<TSaveFailure> {
 protected:
  void Save(const QString& name) {
    Fill(SGData.get(), GetParam().rows);
    if (!GetParam().fullDisk && GetParam().rows <= 65535) SGData->SetCells(3, 2, QString(40000, QLatin1Char('x')));
    desktop.SaveNames << name;
    if (GetParam().fullDisk) {
      TFileSizeLimit limit(4096);
      BtnSaveClick(nullptr, SGData.get(), giDataCount);
    } else {
      BtnSaveClick(nullptr, SGData.get(), giDataCount);
    }
  }
};

TEST_P(SaveFails, ReportsOnceCleansUpAndOpensTheFolder) {
  const QString name = InFolder(QStringLiteral("fail.xls"));
  Save(name);
  EXPECT_EQ(Texts(), QStringList{QStringLiteral("转换成Excel格式失败！")});
  EXPECT_EQ(messages.Boxes[0].icon, TMsgIcon::Warning);
  EXPECT_TRUE(messages.Boxes[0].detail.contains(QString::fromUtf8(GetParam().reason)))
      << messages.Boxes[0].detail.toStdString();
  EXPECT_FALSE(QFileInfo::exists(name));
  // No temporary file is left beside it.
  EXPECT_TRUE(QDir(Folder()).entryList(QDir::Files | QDir::Hidden).isEmpty());
  EXPECT_EQ(desktop.OpenedFolders, QStringList{Folder()});
}

// A save that fails leaves the file it was to replace exactly as it was.
TEST_P(SaveFails, AnExistingFileSurvives) {
  const QString name = InFolder(QStringLiteral("old.xls"));
  WriteFixtureFile(name, MakeXlsWorkbook({{"序号"}, {7, "x"}}));
  const QByteArray before = ReadAll(name);
  Save(name);
  EXPECT_EQ(Texts(), QStringList{QStringLiteral("转换成Excel格式失败！")});
  EXPECT_EQ(ReadAll(name), before);
}

INSTANTIATE_TEST_SUITE_P(Causes, SaveFails,
                         ::testing::Values(TSaveFailure{"TextLongerThanACell", false, 300, "32767"},
                                           TSaveFailure{"FullDisk", true, 300, "fail.xls'：文件过大"},
                                           // The sheet's rows and the caption row: one more than .xls holds.
                                           TSaveFailure{"MoreRowsThanXlsHolds", false, 65536,
                                                        "最多容纳 65536 行、256 列，这份数据更多，请保存为 .xlsx 文件"}),
                         [](const ::testing::TestParamInfo<TSaveFailure>& i) { return std::string(i.param.name); });

// An open that fails keeps the archive and opens no folder.
struct TOpenFailure {
  const char* name;
  std::function<QByteArray()> bytes;
};

class OpenFails : public SheetExchange, public ::testing::WithParamInterface<TOpenFailure> {};

TEST_P(OpenFails, ReportsOnceAndKeepsTheArchive) {
  Fill(SGSave.get(), 2);
  const QString name = InFolder(QStringLiteral("in.xls"));
  WriteFixtureFile(name, GetParam().bytes());
  desktop.OpenNames << name;
  BtnOpenClick(nullptr, SGSave.get(), giSaveCount);
  EXPECT_EQ(Texts(), QStringList{QStringLiteral("转换成Excel格式失败！")});
  EXPECT_FALSE(messages.Boxes[0].detail.isEmpty());
  EXPECT_EQ(giSaveCount, 2);
  ASSERT_EQ(SGSave->RowCount(), 3);
  EXPECT_EQ(Row(SGSave.get(), 2), RecordRow(2));
  EXPECT_TRUE(desktop.OpenedFolders.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Causes, OpenFails,
    ::testing::Values(TOpenFailure{"NoWorkbook", [] { return QByteArray("not a workbook at all"); }},
                      TOpenFailure{"CutShort",
                                   [] { return MakeXlsWorkbook({{"序号"}, {7, "x"}, {8, "y"}}).left(700); }},
                      TOpenFailure{"NumberIsText", [] { return MakeXlsWorkbook({{"序号"}, {7, "x"}, {"八", "y"}}); }}),
    [](const ::testing::TestParamInfo<TOpenFailure>& i) { return std::string(i.param.name); });

TEST_F(SheetExchange, AFileThatIsNoWorkbookFailsToOpen) {
  Fill(SGSave.get(), 2);
  const QString name = InFolder(QStringLiteral("notes.dat"));
  WriteAll(name, "序号=1\r\n");
  desktop.OpenNames << name;
  BtnOpenClick(nullptr, SGSave.get(), giSaveCount);
  EXPECT_EQ(Texts(), QStringList{QStringLiteral("转换成Excel格式失败！")});
  EXPECT_EQ(giSaveCount, 2);
}

}  // namespace

namespace {

QString ProducerFixture(const char* name) {
  return QStringLiteral(QT_TESTCASE_SOURCEDIR "/spreadsheet/fixtures/") + QString::fromUtf8(name);
}

// Inline strings on the second, active sheet, a date typed in the program's
// own format: the archive holds the records as the spreadsheet shows them.
TEST_F(SheetExchange, AWorkbookOfAScriptLoadsItsActiveSheet) {
  Fill(SGSave.get(), 5);
  OpenFromExcel(nullptr, ProducerFixture("openpyxl.xlsx"), SGSave.get(), giSaveCount);
  EXPECT_TRUE(messages.Boxes.isEmpty()) << Texts().join(QLatin1Char('|')).toStdString();
  ASSERT_EQ(giSaveCount, 3);
  EXPECT_EQ(Row(SGSave.get(), 1), (QStringList{" 1", "24-05-02 09:07", "0815", "张三", "时间广场", "200A", "30 秒",
                                                "三相", "12.5", "13", "0.75"}));
  EXPECT_EQ(Row(SGSave.get(), 2), (QStringList{" 2", "24-05-03", "QK-2", "李四", "开关站", "100A", "09:07", "单相",
                                                "0.25", "8.5", "TRUE"}));
}

struct TRefusedFile {
  const char* file;
  const char* reason;
};

class RefusedWorkbook : public SheetExchange, public ::testing::WithParamInterface<TRefusedFile> {};

// The message says why; the archive stays as it was.
TEST_P(RefusedWorkbook, SaysWhyAndLeavesTheArchive) {
  Fill(SGSave.get(), 2);
  OpenFromExcel(nullptr, ProducerFixture(GetParam().file), SGSave.get(), giSaveCount);
  ASSERT_EQ(messages.Boxes.size(), 1);
  EXPECT_EQ(messages.Boxes[0].text, QStringLiteral("转换成Excel格式失败！"));
  EXPECT_TRUE(messages.Boxes[0].detail.contains(QString::fromUtf8(GetParam().reason)))
      << messages.Boxes[0].detail.toStdString();
  EXPECT_EQ(giSaveCount, 2);
  ASSERT_EQ(SGSave->RowCount(), 3);
  EXPECT_EQ(Row(SGSave.get(), 2), RecordRow(2));
}

INSTANTIATE_TEST_SUITE_P(Files, RefusedWorkbook,
                         ::testing::Values(TRefusedFile{"zip-bomb.xlsx", "解压后超过"},
                                           TRefusedFile{"openpyxl-far-cell.xlsx", "第2行A列不是整数"}),
                         [](const ::testing::TestParamInfo<TRefusedFile>& i) { return i.index == 0 ? "ZipBomb" : "FarCell"; });

}  // namespace
