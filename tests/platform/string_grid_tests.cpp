// The table keeps each cell as an index to its text, and a text handed in
// again once: every cell must still give back exactly its own text, through
// replacing all rows, shrinking, growing and overwriting cells many times.
#include <QApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QImage>
#include <QToolTip>
#include <gtest/gtest.h>

#include "platform/StringGrid.h"

namespace {

QStringList RowTexts(const TGridModel& m, int row) {
  QStringList out;
  for (int c = 0; c < m.ColCount(); ++c) out << m.Cell(c, row);
  return out;
}

TEST(GridRows, SharedTextsAreKeptOnceAndLookAlikesApart) {
  const QString shared = QStringLiteral("三相");
  // Two texts whose characters start at the same place but end apart.
  static const QChar raw[] = {u'a', u'b', u'c', u'd', u'e'};
  const QString shortText = QString::fromRawData(raw, 3);
  const QString longText = QString::fromRawData(raw, 5);
  for (const bool findRepeats : {true, false}) {
    TGridRows rows(3, findRepeats);
    rows.Add({shared, shortText, QStringLiteral("x")});
    rows.Add({shared, longText});             // the last text missing
    rows.Add({QString(), shared, shortText, QStringLiteral("cut")});  // one too many
    TGridModel model(3, 1);
    model.SetCell(1, 0, QStringLiteral("caption"));
    model.ReplaceDataRows(std::move(rows));
    ASSERT_EQ(model.RowCount(), 4) << findRepeats;
    EXPECT_EQ(RowTexts(model, 0), (QStringList{"", "caption", ""}));
    EXPECT_EQ(RowTexts(model, 1), (QStringList{"三相", "abc", "x"}));
    EXPECT_EQ(RowTexts(model, 2), (QStringList{"三相", "abcde", ""}));
    EXPECT_EQ(RowTexts(model, 3), (QStringList{"", "三相", "abc"}));
  }
}

TEST(GridModel, RowsReadForAnotherWidthArePaddedOrCut) {
  TGridRows wide(4);
  wide.Add({"1", "2", "3", "4"});
  TGridModel model(2, 3);
  model.ReplaceDataRows(std::move(wide));
  ASSERT_EQ(model.RowCount(), 2);
  EXPECT_EQ(RowTexts(model, 1), (QStringList{"1", "2"}));
  model.ReplaceDataRows(std::vector<QStringList>{{"a"}, {"b", "c", "dropped"}});
  ASSERT_EQ(model.RowCount(), 3);
  EXPECT_EQ(RowTexts(model, 1), (QStringList{"a", ""}));
  EXPECT_EQ(RowTexts(model, 2), (QStringList{"b", "c"}));
  model.ReplaceDataRows(std::vector<QStringList>{});
  EXPECT_EQ(model.RowCount(), 1);
}

// Cells written one by one, again and again (an instrument table filled on
// every upload), shrinking and growing: texts left behind are dropped along
// the way and every cell keeps its own.
TEST(GridModel, CellsOverwrittenManyTimesKeepTheirOwnTexts) {
  TGridModel model(3, 1);
  model.SetCell(0, 0, QStringLiteral("No"));
  for (int round = 0; round < 40; ++round) {
    const int rows = 1 + (round % 7) * 30;
    model.SetRowCount(rows + 1);
    for (int r = 1; r <= rows; ++r) {
      for (int c = 0; c < 3; ++c) model.SetCell(c, r, QStringLiteral("%1/%2/%3").arg(round).arg(r).arg(c));
    }
    model.SetCell(1, 1, QString());  // emptied
    ASSERT_EQ(model.RowCount(), rows + 1);
    EXPECT_EQ(model.Cell(0, 0), QStringLiteral("No"));
    EXPECT_TRUE(model.Cell(1, 1).isEmpty());
    for (int r = 2; r <= rows; ++r) {
      for (int c = 0; c < 3; ++c) {
        ASSERT_EQ(model.Cell(c, r), QStringLiteral("%1/%2/%3").arg(round).arg(r).arg(c)) << round;
      }
    }
  }
  model.SetRowCount(3);
  model.SetRowCount(6);
  EXPECT_EQ(RowTexts(model, 2), (QStringList{"39/2/0", "39/2/1", "39/2/2"}));
  EXPECT_EQ(RowTexts(model, 5), (QStringList{"", "", ""}));
}

}  // namespace

namespace {

// A text wider than its cell stays inside it, cut with an ellipsis, and
// its tip shows it whole: a long 测试地点 never covers 测试人员 or 测试档位.
TEST(GridCells, ALongTextStaysInItsCellWithItsWholeTextAsTheTip) {
  TStringGrid grid(6, 3);
  grid.resize(600, 200);
  for (int c = 0; c < 6; ++c) grid.SetColWidths(c, 90);
  const QString place = QStringLiteral("110kV东郊变电站 3号间隔, 第二进线");
  grid.SetCells(4, 1, place);
  grid.SetCells(3, 1, QStringLiteral("张三"));
  grid.show();
  QApplication::processEvents();
  const QString shown = grid.ShownText(4, 1);
  EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
  EXPECT_LE(QFontMetrics(grid.font()).horizontalAdvance(shown), 90);
  EXPECT_EQ(grid.ShownText(3, 1), QStringLiteral("张三"));

  // Nothing of it is drawn in the empty cell to its right.
  const QImage image = grid.viewport()->grab().toImage();
  const QRect right = grid.visualRect(grid.model()->index(0, 4));  // column 5, row 1
  int ink = 0;
  for (int y = right.top() + 2; y < right.bottom() - 1; ++y) {
    for (int x = right.left() + 2; x < right.right() - 1; ++x) ink += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
  }
  EXPECT_EQ(ink, 0);

  // The tip shows the whole text.
  const QRect cell = grid.visualRect(grid.model()->index(0, 3));
  QHelpEvent tip(QEvent::ToolTip, cell.center(), grid.viewport()->mapToGlobal(cell.center()));
  QApplication::sendEvent(grid.viewport(), &tip);
  EXPECT_EQ(QToolTip::text(), place);
  QToolTip::hideText();
}

}  // namespace
