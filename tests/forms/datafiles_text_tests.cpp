// The test-data text file: save and open buttons, dialogs, the record
// layout in GBK with CR LF, reading by key, and the mended faults.
#include <QFileInfo>
#include <QRegularExpression>

#include <signal.h>
#include <sys/resource.h>

#include <sys/stat.h>

#include "datafiles_fixture.h"
#include "platform/Gbk.h"
#include "platform/MessageService.h"
#include "data/TextFile.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/SpreadsheetBook.h"

using namespace DataFiles;

namespace {

// Three records as the file holds them.
const char* const kThreeRecords =
    "序号=1\n[参数]\n时间=08-03-01 09:07\n设备编号=QK-1\n测试人员=张三\n测试地点=变电站1号\n"
    "测试档位=100A\n载流时间=30 秒\n[试验结果]\n测试相=三相\nA相电阻=1.25\nB相电阻=1.50\n"
    "C相电阻=1.75\n\n\n"
    "序号=2\n[参数]\n时间=08-03-02 09:07\n设备编号=QK-2\n测试人员=李四\n测试地点=变电站2号\n"
    "测试档位=100A\n载流时间=30 秒\n[试验结果]\n测试相=三相\nA相电阻=2.25\nB相电阻=2.50\n"
    "C相电阻=2.75\n\n\n"
    "序号=3\n[参数]\n时间=08-03-03 09:07\n设备编号=QK-3\n测试人员=张三\n测试地点=变电站3号\n"
    "测试档位=100A\n载流时间=30 秒\n[试验结果]\n测试相=三相\nA相电阻=3.25\nB相电阻=3.50\n"
    "C相电阻=3.75\n\n\n";

QByteArray FixtureBytes() {
  QString text = QString::fromUtf8(kThreeRecords);
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return ToGbk(text);
}

class TextFile : public DataFilesTest {};

TEST_F(TextFile, ThreeRecordsAreWrittenByteForByte) {
  Fill(SGData.get(), 3);
  SGData->SetCells(3, 2, QStringLiteral("  李四  "));  // blanks round the name are not written
  SGData->SetCells(0, 3, QStringLiteral(" 3\t"));
  desktop.SaveNames << InFolder(QStringLiteral("three.txt"));
  BtnSaveClick(nullptr, SGData.get(), giDataCount);

  const QByteArray bytes = ReadAll(InFolder(QStringLiteral("three.txt")));
  EXPECT_EQ(bytes, FixtureBytes());
  EXPECT_EQ(bytes.count("\r\n"), 45);  // 15 lines a record
  EXPECT_EQ(bytes.count('\n'), 45);    // never a bare LF
  EXPECT_TRUE(bytes.startsWith(QByteArray::fromHex("D0F2BAC5") + "=1\r\n"));  // "序号" in GBK, no mark
  // No line holds the key "测试电阻", by which readers of the earliest files
  // would put a resistance into 测试相.
  EXPECT_FALSE(FromGbk(bytes).contains(QStringLiteral("测试电阻")));
  EXPECT_EQ(desktop.OpenedFolders, QStringList{Folder()});
  EXPECT_TRUE(messages.Boxes.isEmpty());
}

// A text file keeps what GBK holds: the micro sign as μ, and for what GBK
// holds in no form the operator is asked first, with the characters named:
// "取消" writes nothing, "仍然保存" writes them as '?'.
TEST_F(TextFile, CharactersGbkLacksAreNamedBeforeTheyAreLost) {
  Fill(SGData.get(), 2);
  SGData->SetCells(8, 1, QStringLiteral("35.0 \u00B5Ω"));
  SGData->SetCells(3, 2, QStringLiteral("김 철"));
  SGData->SetCells(2, 2, QStringLiteral("QK☃"));
  const QString name = InFolder(QStringLiteral("names.txt"));
  desktop.SaveNames << name << name;
  messages.Answers << TMsgResult::No << TMsgResult::Yes;
  BtnSaveClick(nullptr, SGData.get(), giDataCount);
  ASSERT_EQ(messages.Boxes.size(), 1);
  EXPECT_EQ(messages.Boxes[0].text, QStringLiteral("以下字符无法保存到文本文件：☃ 김 철。"));
  EXPECT_EQ(messages.Boxes[0].buttons, TMsgButtons::YesNo);
  EXPECT_EQ(messages.Boxes[0].yesText, QStringLiteral("仍然保存（写为?）"));
  EXPECT_EQ(messages.Boxes[0].noText, QStringLiteral("取消"));
  EXPECT_TRUE(messages.Boxes[0].detail.contains(QStringLiteral(".xlsx")));
  EXPECT_FALSE(QFileInfo::exists(name));

  BtnSaveClick(nullptr, SGData.get(), giDataCount);
  const QString text = FromGbk(ReadAll(name));
  EXPECT_TRUE(text.contains(QStringLiteral("=35.0 μΩ\r\n"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("=? ?\r\n"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("=QK?\r\n"))) << text.toStdString();
}

TEST_F(TextFile, SaveDialogAndFolder) {
  Fill(SGSave.get(), 1);
  desktop.SaveNames << QString();  // the operator cancels
  btnSaveExcelClick(nullptr, SGSave.get(), giSaveCount);
  ASSERT_EQ(desktop.Requests.size(), 1);
  const TFileDialogRequest& r = desktop.Requests[0];
  EXPECT_EQ(r.title, QStringLiteral("保存当前测试数据"));
  EXPECT_EQ(r.initialDir, Folder());
  EXPECT_TRUE(QFileInfo(Folder()).isDir());  // made before the dialog
  EXPECT_EQ(r.defaultSuffix, QStringLiteral("xls"));
  ASSERT_EQ(r.filters.size(), 3);
  EXPECT_EQ(r.filters[0], qMakePair(QStringLiteral("测试数据文件(*.xls)"), QStringLiteral("*.xls")));
  EXPECT_EQ(r.filters[1], qMakePair(QStringLiteral("测试数据文件(*.txt)"), QStringLiteral("*.txt")));
  EXPECT_EQ(r.filters[2], qMakePair(QStringLiteral("CSV文件(*.csv)"), QStringLiteral("*.csv")));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d$"))
                  .match(r.proposedName)
                  .hasMatch())
      << r.proposedName.toStdString();
  // cancelling is silent and writes nothing
  EXPECT_TRUE(messages.Boxes.isEmpty());
  EXPECT_TRUE(desktop.OpenedFolders.isEmpty());
  EXPECT_TRUE(QDir(Folder()).entryList(QDir::Files).isEmpty());
}

TEST_F(TextFile, OpenDialog) {
  desktop.OpenNames << QString();
  BtnOpenClick(nullptr, SGSave.get(), giSaveCount);
  ASSERT_EQ(desktop.Requests.size(), 1);
  const TFileDialogRequest& r = desktop.Requests[0];
  EXPECT_EQ(r.title, QStringLiteral("打开试验数据"));
  EXPECT_EQ(r.initialDir, Folder());
  EXPECT_TRUE(r.mustExist);
  EXPECT_TRUE(r.proposedName.isEmpty());
  ASSERT_EQ(r.filters.size(), 5);
  EXPECT_EQ(r.filters[0].second, QStringLiteral("*.xls"));
  EXPECT_EQ(r.filters[1].second, QStringLiteral("*.txt"));
  EXPECT_EQ(r.filters[2].second, QStringLiteral("*.csv"));
  EXPECT_EQ(r.filters[3].second, QStringLiteral("*.xlsx"));
  EXPECT_EQ(r.filters[4].second, QStringLiteral("*.ods"));
  EXPECT_TRUE(messages.Boxes.isEmpty());
}

struct TEmptyTable {
  const char* name;
  bool archive;
};

class NothingToSave : public DataFilesTest, public ::testing::WithParamInterface<TEmptyTable> {};

TEST_P(NothingToSave, RefusedWithoutADialog) {
  // the other table has records; the one asked for has none
  Fill(GetParam().archive ? SGData.get() : SGSave.get(), 2);
  if (GetParam().archive) {
    btnSaveExcelClick(nullptr, SGSave.get(), giSaveCount);
  } else {
    BtnSaveClick(nullptr, SGData.get(), giDataCount);
  }
  ASSERT_EQ(messages.Boxes.size(), 1);
  EXPECT_EQ(messages.Boxes[0].text, QStringLiteral("没有数据保存！"));
  EXPECT_EQ(messages.Boxes[0].icon, TMsgIcon::Warning);
  EXPECT_EQ(messages.Boxes[0].buttons, TMsgButtons::Ok);
  EXPECT_TRUE(desktop.Requests.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Tables, NothingToSave,
                         ::testing::Values(TEmptyTable{"InstrumentTable", false}, TEmptyTable{"Archive", true}),
                         [](const ::testing::TestParamInfo<TEmptyTable>& i) { return std::string(i.param.name); });

TEST_F(TextFile, EveryColumnSurvivesTheRoundTrip) {
  Fill(SGSave.get(), 12);
  desktop.SaveNames << InFolder(QStringLiteral("archive.txt"));
  btnSaveExcelClick(nullptr, SGSave.get(), giSaveCount);

  auto loaded = std::make_unique<TStringGrid>(11, 2);
  for (int c = 0; c < 11; ++c) loaded->SetCells(c, 0, kCaptions[c]);
  giSaveCount = 0;
  desktop.OpenNames << InFolder(QStringLiteral("archive.txt"));
  BtnOpenClick(nullptr, loaded.get(), giSaveCount);
  EXPECT_EQ(giSaveCount, 12);
  ASSERT_EQ(loaded->RowCount(), 13);
  for (int r = 1; r <= 12; ++r) {
    QStringList expected = RecordRow(r);
    expected[0] = QString::number(r);  // the bare record number, without the table's blank
    EXPECT_EQ(Row(loaded.get(), r), expected) << r;
  }
  EXPECT_TRUE(messages.Boxes.isEmpty());
}

// ---- reading by key -------------------------------------------------------------

struct TLineCase {
  const char* line;
  int column;
};

class LineKey : public ::testing::TestWithParam<TLineCase> {};

TEST_P(LineKey, ClassifiedByTheTextBeforeTheFirstEquals) {
  EXPECT_EQ(LineColumn(QString::fromUtf8(GetParam().line)), GetParam().column) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineKey,
    ::testing::Values(TLineCase{"序号=5", ::TextFile::kNewRecord}, TLineCase{"时间=08-03-05 09:07", 1},
                      TLineCase{"载流时间=30 秒", 6}, TLineCase{"设备编号=QK", 2}, TLineCase{"测试人员=张三", 3},
                      TLineCase{"测试地点=变电站", 4}, TLineCase{"测试档位=100A", 5}, TLineCase{"测试相=三相", 7},
                      TLineCase{"测试电阻(A)=1.25", 8}, TLineCase{"测试电阻(B)=1.50", 9},
                      TLineCase{"测试电阻(C)=1.75", 10},
                      // the keys the program writes them under now
                      TLineCase{"A相电阻=1.25", 8}, TLineCase{"B相电阻=1.50", 9}, TLineCase{"C相电阻=1.75", 10},
                      // a bare resistance key, as earlier versions read it
                      TLineCase{"测试电阻=2.5", 7},
                      // values that contain key words change nothing
                      TLineCase{"测试地点=时间广场", 4}, TLineCase{"测试人员=序号不详", 3},
                      TLineCase{"测试地点=设备编号间", 4}, TLineCase{"备注=测试时间", -1},
                      // a line without "=" is all key
                      TLineCase{"测试时间", 1}, TLineCase{"[参数]", -1}, TLineCase{"[试验结果]", -1},
                      TLineCase{"", -1}, TLineCase{"=序号", -1}));

TEST(LineValueText, AfterTheFirstEqualsUntrimmed) {
  EXPECT_EQ(LineValue(QStringLiteral("测试地点=a=b")), QStringLiteral("a=b"));
  EXPECT_EQ(LineValue(QStringLiteral("测试人员=  张三 ")), QStringLiteral("  张三 "));
  EXPECT_EQ(LineValue(QStringLiteral("测试时间")), QStringLiteral("测试时间"));
  EXPECT_EQ(LineValue(QStringLiteral("序号=")), QString());
}

class TextRead : public DataFilesTest {
 protected:
  void Read(const QByteArray& gbkOrAscii) {
    const QString name = InFolder(QStringLiteral("in.txt"));
    WriteAll(name, gbkOrAscii);
    ReadTextFile(nullptr, name, SGSave.get(), giSaveCount);
  }
  static QByteArray Gbk(const char* utf8) { return ToGbk(QString::fromUtf8(utf8)); }
};

TEST_F(TextRead, AValueWithAKeyWordStaysInItsColumn) {
  Read(Gbk("序号=1\r\n时间=08-03-05 09:07\r\n测试地点=时间广场\r\n测试人员=载流时间\r\n"));
  EXPECT_EQ(giSaveCount, 1);
  EXPECT_EQ(SGSave->Cells(1, 1), QStringLiteral("08-03-05 09:07"));
  EXPECT_EQ(SGSave->Cells(4, 1), QStringLiteral("时间广场"));
  EXPECT_EQ(SGSave->Cells(3, 1), QStringLiteral("载流时间"));
  EXPECT_EQ(SGSave->Cells(6, 1), QString());
}

TEST_F(TextRead, ResultsOfEarlierFilesAndOfNewOnes) {
  Read(Gbk("序号=1\r\n测试电阻=0.5\r\n序号=2\r\n测试相=单相\r\n测试电阻(A)=1\r\n测试电阻(B)=2\r\n"
           "测试电阻(C)=3\r\n"));
  ASSERT_EQ(giSaveCount, 2);
  EXPECT_EQ(SGSave->Cells(7, 1), QStringLiteral("0.5"));
  EXPECT_EQ(SGSave->Cells(8, 1), QString());
  EXPECT_EQ(Row(SGSave.get(), 2).mid(7), (QStringList{"单相", "1", "2", "3"}));
}

// A text without any "序号" line (a note chosen by mistake) holds no record:
// refused, and the archive keeps its rows, unsaved archived results among
// them. Values before the first record go to that record's row.
TEST_F(TextRead, AFileWithoutRecordsIsRefusedAndValuesBeforeARecordAreItsOwn) {
  Fill(SGSave.get(), 4);
  Read(Gbk("设备编号=QK\r\n测试人员=张三\r\n"));
  ASSERT_EQ(messages.Boxes.size(), 1);
  EXPECT_TRUE(messages.Boxes[0].text.startsWith(QStringLiteral("文件中没有测试记录："))) << messages.Boxes[0].text.toStdString();
  EXPECT_EQ(giSaveCount, 4);
  ASSERT_EQ(SGSave->RowCount(), 5);
  // a record that follows takes over that row
  Read(Gbk("设备编号=QK\r\n序号=1\r\n测试人员=张三\r\n"));
  EXPECT_EQ(giSaveCount, 1);
  EXPECT_EQ(Row(SGSave.get(), 1).mid(0, 4), (QStringList{"1", "", "QK", "张三"}));
}

TEST_F(TextRead, TwoRecordsThenATimeLine) {
  Read(Gbk("序号=1\r\n序号=2\r\n时间=08-03-05 09:07\r\n"));
  EXPECT_EQ(giSaveCount, 2);
  ASSERT_EQ(SGSave->RowCount(), 3);
  EXPECT_EQ(SGSave->Cells(1, 1), QString());
  EXPECT_EQ(SGSave->Cells(1, 2), QStringLiteral("08-03-05 09:07"));
}

TEST_F(TextRead, LinesEndAtCrLfLfOrCr) {
  Read(Gbk("序号=1\n设备编号=A\r序号=2\r\n设备编号=B\n\r测试人员=C"));
  EXPECT_EQ(giSaveCount, 2);
  EXPECT_EQ(SGSave->Cells(2, 1), QStringLiteral("A"));
  EXPECT_EQ(SGSave->Cells(2, 2), QStringLiteral("B"));
  EXPECT_EQ(SGSave->Cells(3, 2), QStringLiteral("C"));
}

TEST_F(TextRead, ABlankFileIsToldAndTheArchiveStays) {
  Fill(SGSave.get(), 3);
  Read(QByteArray(" \r\n\t\r\n\r\n  "));
  ASSERT_EQ(messages.Boxes.size(), 1);
  EXPECT_EQ(messages.Boxes[0].text, QStringLiteral("指定的文件沒有內容"));
  EXPECT_EQ(messages.Boxes[0].icon, TMsgIcon::Error);
  // the archive as it was
  EXPECT_EQ(giSaveCount, 3);
  ASSERT_EQ(SGSave->RowCount(), 4);
  EXPECT_EQ(SGSave->Cells(1, 0), QStringLiteral("时间"));
}

TEST_F(TextRead, AMissingFileLeavesTheArchive) {
  Fill(SGSave.get(), 2);
  const QString name = InFolder(QStringLiteral("none.txt"));
  ReadTextFile(nullptr, name, SGSave.get(), giSaveCount);
  ASSERT_EQ(messages.Boxes.size(), 1);
  EXPECT_EQ(messages.Boxes[0].text, QStringLiteral("指定的文件'") + name + QStringLiteral("'不存在"));
  EXPECT_EQ(messages.Boxes[0].icon, TMsgIcon::Error);
  EXPECT_EQ(giSaveCount, 2);
  EXPECT_EQ(Row(SGSave.get(), 2), RecordRow(2));
}

TEST_F(TextRead, AFileThatCannotBeReadReachesTheGeneralErrorBox) {
  Fill(SGSave.get(), 2);
  const QString name = InFolder(QStringLiteral("folder.txt"));
  QDir().mkpath(name);  // a folder of that name cannot be read as a file
  Guarded([&] { ReadTextFile(nullptr, name, SGSave.get(), giSaveCount); });
  ASSERT_EQ(messages.Boxes.size(), 1);
  EXPECT_EQ(messages.Boxes[0].icon, TMsgIcon::Error);
  EXPECT_TRUE(messages.Boxes[0].text.contains(name));
  EXPECT_EQ(giSaveCount, 2);
  EXPECT_EQ(Row(SGSave.get(), 2), RecordRow(2));
}

// ---- choosing the kind of file ---------------------------------------------------

struct TNameCase {
  const char* name;
  bool text;
};

class FileKind : public DataFilesTest, public ::testing::WithParamInterface<TNameCase> {};

TEST_P(FileKind, ByTheSuffixInAnyCase) {
  EXPECT_EQ(IsTextFileName(QString::fromUtf8(GetParam().name)), GetParam().text);
  Fill(SGSave.get(), 2);
  const QString name = InFolder(QString::fromUtf8(GetParam().name));
  desktop.SaveNames << name;
  btnSaveExcelClick(nullptr, SGSave.get(), giSaveCount);
  const QByteArray bytes = ReadAll(name);
  if (GetParam().text) {
    EXPECT_TRUE(bytes.startsWith(ToGbk(QStringLiteral("序号=1\r\n"))));
  } else {
    // A workbook: Excel 97-2003 (a compound file) for a name ending in .xls,
    // Office Open XML (a zip archive) for any other.
    if (QString::fromUtf8(GetParam().name).endsWith(QLatin1String(".xls"))) {
      EXPECT_TRUE(bytes.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"));
    } else {
      EXPECT_TRUE(bytes.startsWith("PK\x03\x04"));
    }
  }
  // and back again through the open button
  Fill(SGSave.get(), 0);
  desktop.OpenNames << name;
  BtnOpenClick(nullptr, SGSave.get(), giSaveCount);
  EXPECT_EQ(giSaveCount, 2);
  EXPECT_EQ(SGSave->Cells(4, 2), QStringLiteral("变电站2号"));
  EXPECT_TRUE(messages.Boxes.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Names, FileKind,
                         // The suffix counts in any case: "a.TXT" is a text file, not a
                         // workbook under a text file's name.
                         ::testing::Values(TNameCase{"a.txt", true}, TNameCase{"记录.txt", true},
                                           TNameCase{"a.Txt", true}, TNameCase{"a.TXT", true},
                                           TNameCase{"a.xls", false}, TNameCase{"a.txt.xls", false}),
                         [](const ::testing::TestParamInfo<TNameCase>& i) { return "Case" + std::to_string(i.index); });

// ---- replacing a file --------------------------------------------------------------

TEST_F(TextFile, AnExistingFileIsReplacedWithoutAsking) {
  const QString name = InFolder(QStringLiteral("same.txt"));
  WriteAll(name, QByteArray(5000, 'x'));
  Fill(SGData.get(), 1);
  desktop.SaveNames << name;
  BtnSaveClick(nullptr, SGData.get(), giDataCount);
  EXPECT_TRUE(ReadAll(name).startsWith(ToGbk(QStringLiteral("序号=1\r\n"))));
  EXPECT_LT(ReadAll(name).size(), 5000);
  EXPECT_TRUE(messages.Boxes.isEmpty());
  EXPECT_EQ(desktop.OpenedFolders, QStringList{Folder()});
}

struct TFailedSave {
  const char* name;
  bool generalError;  // the text save's failure reaches the general error box
};

void PrintTo(const TFailedSave& c, std::ostream* os) { *os << c.name; }

class FailedSave : public TextFile, public ::testing::WithParamInterface<TFailedSave> {};

// A save that fails as on a full disk leaves the old file as it was, whether
// text or spreadsheet, and nothing beside it.
TEST_P(FailedSave, LeavesTheOldFile) {
  const QString name = InFolder(QString::fromLatin1(GetParam().name));
  const QByteArray old = ToGbk(QStringLiteral("序号=9\r\n"));
  WriteAll(name, old);
  // Enough rows that the file cannot be written, while an empty workbook
  // still can: the save fails after its first store.
  Fill(SGData.get(), 500);
  rlim_t bytes = 200;
  if (!GetParam().generalError) {
    const QString probe = dir.filePath(QStringLiteral("probe.xlsx"));
    TWorkbook empty;
    empty.sheets.emplace_back();
    WriteWorkbookFile(empty, probe);
    bytes = static_cast<rlim_t>(QFileInfo(probe).size() + 2048);
  }
  desktop.SaveNames << name;
  {
    TFileSizeLimit limit(bytes);
    Guarded([&] { BtnSaveClick(nullptr, SGData.get(), giDataCount); });
  }
  EXPECT_EQ(ReadAll(name), old);
  EXPECT_EQ(QDir(Folder()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(name).fileName()});
  ASSERT_EQ(messages.Boxes.size(), 1) << messages.Texts().join('|').toStdString();
  if (GetParam().generalError) {
    EXPECT_EQ(messages.Boxes[0].icon, TMsgIcon::Error);
    EXPECT_TRUE(messages.Boxes[0].text.contains(name));
    EXPECT_TRUE(messages.Boxes[0].text.contains(QStringLiteral("文件过大"))) << messages.Boxes[0].text.toStdString();
    EXPECT_TRUE(desktop.OpenedFolders.isEmpty());
  } else {
    EXPECT_EQ(messages.Boxes[0].text, QStringLiteral("转换成Excel格式失败！"));
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FailedSave,
                         ::testing::Values(TFailedSave{"keep.txt", true}, TFailedSave{"keep.xls", false}),
                         [](const ::testing::TestParamInfo<TFailedSave>& i) { return "Case" + std::to_string(i.index); });

// A new file gets the permissions the user's umask gives, like files of every
// other program.
TEST_P(FailedSave, ANewFileFollowsTheUmask) {
  const QString name = InFolder(QStringLiteral("new-") + QString::fromLatin1(GetParam().name));
  Fill(SGData.get(), 1);
  desktop.SaveNames << name;
  const mode_t old = ::umask(027);
  BtnSaveClick(nullptr, SGData.get(), giDataCount);
  ::umask(old);
  EXPECT_TRUE(messages.Boxes.isEmpty()) << messages.Texts().join('|').toStdString();
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(name).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
