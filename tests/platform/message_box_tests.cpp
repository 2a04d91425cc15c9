// The message boxes the program shows: wide enough for their caption.
#include <QApplication>
#include <QMessageBox>

#include <gtest/gtest.h>

#include "platform/MessageService.h"

namespace {

// A short message must not make a box so narrow that the title bar shortens
// the caption "三通道回路电阻测试仪".
TEST(MessageBoxes, AreWideEnoughForTheirCaption) {
  for (const TMsgRequest& r : {TMsgRequest{kMsgCaption, QStringLiteral("已清空！"), TMsgIcon::None, TMsgButtons::Ok, QString()},
                               TMsgRequest{kMsgCaption, QStringLiteral("通讯失败！"), TMsgIcon::Warning, TMsgButtons::Ok, QString()},
                               TMsgRequest{kAppTitle, QStringLiteral("x"), TMsgIcon::Error, TMsgButtons::Ok, QString()},
                               TMsgRequest{kMsgCaption, QStringLiteral("您确定要请空历史数据吗？"), TMsgIcon::None,
                                           TMsgButtons::YesNo, QString()}}) {
    const auto box = MakeMessageBox(nullptr, r);
    box->show();
    QApplication::processEvents();
    EXPECT_GE(box->width(), CaptionWidth(r.caption)) << r.text.toStdString();
    EXPECT_GE(CaptionWidth(r.caption), box->fontMetrics().horizontalAdvance(r.caption) + 100);
    box->hide();
  }
}

}  // namespace
