// CSV files: what the save writes, byte for byte, and what the open reads from
// files that spreadsheet programs and scripts write.
#include <QDir>
#include <QFileInfo>

#include "datafiles_fixture.h"
#include "platform/Gbk.h"
#include "platform/MessageService.h"

using namespace DataFiles;

namespace {

using CsvFile = DataFilesTest;

TEST_F(CsvFile, SavedWithBomCrLfAndQuotesWhereNeeded) {
  Fill(SGSave.get(), 2);
  SGSave->SetCells(3, 1, QStringLiteral("张,三"));
  SGSave->SetCells(4, 2, QStringLiteral("\"一号\"站"));
  const QString name = InFolder(QStringLiteral("archive.csv"));
  desktop.SaveNames << name;
  btnSaveExcelClick(nullptr, SGSave.get(), giSaveCount);
  EXPECT_TRUE(messages.Boxes.isEmpty()) << messages.Texts().join('|').toStdString();
  const QByteArray expected =
      QByteArray("\xEF\xBB\xBF") +
      QStringLiteral("序号,时间,设备编号,测试人员,测试地点,测试档位,载流时间,测试相,测试电阻(A),测试电阻(B),测试电阻(C)\r\n"
                     "1,08-03-01 09:07,QK-1,\"张,三\",变电站1号,100A,30 秒,三相,1.25,1.50,1.75\r\n"
                     "2,08-03-02 09:07,QK-2,张三,\"\"\"一号\"\"站\",100A,30 秒,三相,2.25,2.50,2.75\r\n")
          .toUtf8();
  EXPECT_EQ(ReadAll(name), expected);
  EXPECT_EQ(desktop.OpenedFolders, QStringList{Folder()});
}

TEST_F(CsvFile, RoundTripKeepsEveryColumn) {
  Fill(SGSave.get(), 3);
  SGSave->SetCells(4, 3, QStringLiteral("a, \"b\"\nc"));
  const QString name = InFolder(QStringLiteral("round.csv"));
  desktop.SaveNames << name;
  btnSaveExcelClick(nullptr, SGSave.get(), giSaveCount);
  std::vector<QStringList> before;
  for (int r = 1; r <= 3; ++r) before.push_back(Row(SGSave.get(), r));
  SGSave->ReplaceDataRows({QStringList(11, QString())});
  giSaveCount = 0;
  desktop.OpenNames << name;
  BtnOpenClick(nullptr, SGSave.get(), giSaveCount);
  EXPECT_TRUE(messages.Boxes.isEmpty()) << messages.Texts().join('|').toStdString();
  ASSERT_EQ(giSaveCount, 3);
  for (int r = 1; r <= 3; ++r) EXPECT_EQ(Row(SGSave.get(), r), before[size_t(r - 1)]) << r;
}

struct TForeignCsv {
  const char* name;
  QByteArray bytes;
  QStringList row2;  // the second record as the archive shows it
};

void PrintTo(const TForeignCsv& c, std::ostream* os) { *os << c.name; }

class CsvFromElsewhere : public DataFilesTest, public ::testing::WithParamInterface<TForeignCsv> {};

// Files as other programs write them: GBK from a spreadsheet program in a
// Chinese locale, semicolons and LF from a script, columns in another order,
// a quoted line break.
TEST_P(CsvFromElsewhere, LoadIntoTheArchive) {
  const QString name = InFolder(QStringLiteral("in.csv"));
  WriteAll(name, GetParam().bytes);
  Fill(SGSave.get(), 5);
  desktop.OpenNames << name;
  BtnOpenClick(nullptr, SGSave.get(), giSaveCount);
  EXPECT_TRUE(messages.Boxes.isEmpty()) << messages.Texts().join('|').toStdString();
  ASSERT_EQ(giSaveCount, 2);
  EXPECT_EQ(Row(SGSave.get(), 2), GetParam().row2);
}

QStringList Row2(const char* device, const char* place) {
  return {QStringLiteral(" 2"), QStringLiteral("24-05-02 09:07"), QString::fromUtf8(device), QStringLiteral("李四"),
          QString::fromUtf8(place), QStringLiteral("200A"), QStringLiteral("60 秒"), QStringLiteral("单相"),
          QStringLiteral("61.6 μΩ"), QString(), QString()};
}

const QString kHeader = QStringLiteral("序号,时间,设备编号,测试人员,测试地点,测试档位,载流时间,测试相,测试电阻(A),测试电阻(B),测试电阻(C)");
const QString kRow1 = QStringLiteral("1,24-05-01 10:00,QK-1,张三,一号站,100A,30 秒,三相,52.4 μΩ,61.9 μΩ,47.3 μΩ");
const QString kRow2 = QStringLiteral("2,24-05-02 09:07,QK-2,李四,二号站,200A,60 秒,单相,61.6 μΩ,,");

INSTANTIATE_TEST_SUITE_P(
    Producers, CsvFromElsewhere,
    ::testing::Values(
        TForeignCsv{"GbkCrLf", ToGbk(kHeader + "\r\n" + kRow1 + "\r\n" + kRow2 + "\r\n"), Row2("QK-2", "二号站")},
        TForeignCsv{"Utf8SemicolonLf",
                    (QString(kHeader).replace(',', ';') + "\n" + QString(kRow1).replace(',', ';') + "\n" +
                     QString(kRow2).replace(',', ';'))
                        .toUtf8(),
                    Row2("QK-2", "二号站")},
        TForeignCsv{"OtherColumnOrder",
                    QStringLiteral("设备编号,序号,测试地点\r\nQK-1,1,一号站\r\nQK-2,2,二号站\r\n").toUtf8(),
                    {QStringLiteral(" 2"), QString(), QStringLiteral("QK-2"), QString(), QStringLiteral("二号站"),
                     QString(), QString(), QString(), QString(), QString(), QString()}},
        TForeignCsv{"QuotedLineBreak",
                    (QByteArray("\xEF\xBB\xBF") + (kHeader + "\r\n" + kRow1 + "\r\n" +
                                                   QStringLiteral("2,24-05-02 09:07,QK-2,李四,\"二号\r\n站\",200A,60 秒,单相,61.6 μΩ,,"))
                                                      .toUtf8()),
                    Row2("QK-2", "二号\r\n站")}),
    [](const ::testing::TestParamInfo<TForeignCsv>& i) { return std::string(i.param.name); });

TEST_F(CsvFile, ARecordNumberThatIsNoIntegerLeavesTheArchive) {
  const QString name = InFolder(QStringLiteral("bad.csv"));
  WriteAll(name, (kHeader + "\r\n" + kRow1 + "\r\nx," + kRow2.mid(2) + "\r\n").toUtf8());
  Fill(SGSave.get(), 4);
  desktop.OpenNames << name;
  BtnOpenClick(nullptr, SGSave.get(), giSaveCount);
  ASSERT_EQ(messages.Boxes.size(), 1);
  EXPECT_EQ(messages.Boxes[0].icon, TMsgIcon::Error);
  EXPECT_TRUE(messages.Boxes[0].text.contains(QStringLiteral("第3行的序号不是整数"))) << messages.Boxes[0].text.toStdString();
  EXPECT_EQ(giSaveCount, 4);
  EXPECT_EQ(Row(SGSave.get(), 4), RecordRow(4));
}

// A blank file is told and the archive keeps its rows, like a blank text file.
TEST_F(CsvFile, ABlankFileIsToldAndTheArchiveStays) {
  const QString name = InFolder(QStringLiteral("blank.csv"));
  WriteAll(name, QByteArray("\xEF\xBB\xBF\r\n"));
  Fill(SGSave.get(), 2);
  desktop.OpenNames << name;
  BtnOpenClick(nullptr, SGSave.get(), giSaveCount);
  EXPECT_EQ(messages.Texts(), QStringList{QStringLiteral("指定的文件沒有內容")});
  EXPECT_EQ(giSaveCount, 2);
  EXPECT_EQ(Row(SGSave.get(), 2), RecordRow(2));
}

}  // namespace
