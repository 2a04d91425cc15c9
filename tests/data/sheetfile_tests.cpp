// Record tables written as .xlsx a few hundred rows at a time: every text
// comes back in its cell, whether it went inline or to the shared strings,
// also when a text stands in two columns and when a column has more texts
// than the writer remembers.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QStringList>

#include "data/RecordTable.h"
#include "data/SheetFile.h"
#include "platform/TextTable.h"

namespace {

TEST(SheetFileStreamed, EveryTextComesBackInItsCell) {
  QTemporaryDir dir;
  TRecordTable table;
  constexpr int kRows = 12000;
  for (int r = 1; r <= kRows; ++r) {
    const QString person = QStringLiteral("人员%1").arg(r % 5000);  // more than the writer remembers
    table.Add({QString::number(r), QStringLiteral("24-05-02 09:%1").arg(r % 60, 2, 10, QChar('0')),
               QStringLiteral("QK-%1").arg(r), person, person /* the same text in two columns */,
               QStringLiteral("200A"), QStringLiteral("30 秒"), QStringLiteral("三相"),
               QStringLiteral("%1.5 μΩ").arg(r % 700), QStringLiteral("<&\"x\">"), r % 3 ? QString() : QStringLiteral(" 空格 ")});
  }
  const QString file = dir.filePath(QStringLiteral("流式.xlsx"));
  SheetFile::Write(file, Record::Captions(), table);
  std::vector<QStringList> back;
  ASSERT_EQ(SheetFile::Read(file, [&](const QStringList& row) { back.push_back(row); }), kRows);
  ASSERT_EQ(back.size(), size_t(kRows));
  for (int r = 0; r < kRows; ++r) {
    QStringList expected = table.Row(r);
    expected[0] = QString::asprintf("%2d", r + 1);
    expected[10] = expected[10].trimmed();  // cells are written trimmed
    ASSERT_EQ(back[size_t(r)], expected) << "row " << r + 1;
  }
}

}  // namespace
