#include "forms/UDlgSeries.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

#include <memory>

#include "comm/InstrumentLink.h"
#include "data/UDataCenter.h"
#include "platform/Fonts.h"
#include "platform/MessageService.h"
#include "platform/WindowPlacement.h"
#include "protocol/uProtocol.h"

namespace {

QPushButton* Button(QWidget* parent, const char* name, const QString& text, int left) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  b->setGeometry(left, 72, 57, 25);
  b->setAutoDefault(false);  // Enter in the entry starts no exchange
  return b;
}

int HexValue(QChar c) {
  const char16_t u = c.unicode();
  if (u >= u'0' && u <= u'9') return u - u'0';
  if (u >= u'A' && u <= u'F') return u - u'A' + 10;
  if (u >= u'a' && u <= u'f') return u - u'a' + 10;
  return -1;
}

// Room for text inside a line edit: its contents less the text margins and
// the edit's own two pixels on each side.
int InnerWidth(const QLineEdit* edit) {
  QStyleOptionFrame opt;
  opt.initFrom(edit);
  opt.rect = edit->rect();
  opt.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
  const QRect r = edit->style()->subElementRect(QStyle::SE_LineEditContents, &opt, edit);
  const QMargins m = edit->textMargins();
  return r.width() - m.left() - m.right() - 2 * 2;
}

// All 16 digits of a serial number are seen at once in the field, so that
// an operator copying it by eye misses none: a fixed-pitch face, as large
// as the field allows.
void FitSeriesFont(QLineEdit* edit) {
  QFont f = edit->font();
  f.setFamilies(FontFamilies(QStringLiteral("DejaVu Sans Mono")));
  f.setStyleHint(QFont::TypeWriter);
  const int room = InnerWidth(edit);
  for (int px = 13; px >= 8; --px) {
    f.setPixelSize(px);
    const QFontMetrics fm(f);
    int widest = 0;
    for (const QChar c : QStringLiteral("0123456789ABCDEF")) widest = std::max(widest, fm.horizontalAdvance(c));
    if (widest * 2 * kSeriesBytes <= room) break;
  }
  edit->setFont(f);
}

}  // namespace

TFrmSeries::TFrmSeries(const TCommSettings& settings, QWidget* parent) : QDialog(parent), FSettings(settings) {
  setObjectName(QStringLiteral("FrmSeries"));
  setWindowTitle(QStringLiteral("序列号"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(229, 119);

  lblSeries = new QLabel(QStringLiteral("序列号："), this);
  lblSeries->setObjectName(QStringLiteral("lblSeries"));
  lblSeries->move(24, 34);
  EdtSeries = new QLineEdit(QStringLiteral("000000"), this);
  EdtSeries->setObjectName(QStringLiteral("EdtSeries"));
  EdtSeries->move(80, 32);
  EdtSeries->resize(121, EdtSeries->sizeHint().height());
  FitSeriesFont(EdtSeries);
  BtnRead = Button(this, "BtnRead", QStringLiteral("读取"), 24);
  BtnSet = Button(this, "BtnSet", QStringLiteral("设置"), 88);
  BtnExit = Button(this, "BtnExit", QStringLiteral("退出"), 152);

  connect(BtnRead, &QPushButton::clicked, this, [this] { Guarded([this] { BtnReadClick(); }); });
  connect(BtnSet, &QPushButton::clicked, this, [this] { Guarded([this] { BtnSetClick(); }); });
  connect(BtnExit, &QPushButton::clicked, this, [this] { Guarded([this] { BtnExitClick(); }); });
  connect(this, &QDialog::finished, this, [this] { Guarded([this] { FormClose(); }); });
}

void TFrmSeries::Execute(const TCommSettings& settings, QWidget* parent) {
  auto dlg = std::make_unique<TFrmSeries>(settings, parent);
  dlg->exec();
}

void TFrmSeries::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Centred on the screen, not on the owner.
  if (!FPlaced) {
    FPlaced = true;
    CentreFrameOnScreen(this);
  }
}

void TFrmSeries::BtnReadClick() {
  TSeriesNumber number{};
  if (!TInstrumentLink::ReadSerialNumber(FSettings, number)) {
    MsgBox(this, QStringLiteral("通讯失败！"), TMsgIcon::Warning);
    return;
  }
  QString text;
  for (const std::uint8_t b : number) text += QString::asprintf("%02X", b);
  EdtSeries->setText(text);
}

void TFrmSeries::BtnSetClick() {
  const QString text = HeadOf(TrimText(EdtSeries->text()), 2 * kSeriesBytes);
  // Positions the entry does not fill are sent as zeros.
  TBuffer buffer(1 + kSeriesBytes, 0);
  ParseSeries(text, buffer);
  TSeriesNumber number{};
  std::copy(buffer.begin() + 1, buffer.end(), number.begin());
  if (!TInstrumentLink::WriteSerialNumber(FSettings, number)) MsgBox(this, QStringLiteral("通讯失败！"), TMsgIcon::Warning);
}

void TFrmSeries::BtnExitClick() { close(); }

int TFrmSeries::ParseSeries(const QString& text, TBuffer& buffer) {
  const qsizetype len = text.size();
  qsizetype i = 0;
  std::size_t j = 1;
  int produced = 0;
  while (i < len && j < buffer.size()) {
    while (i < len && HexValue(text[i]) < 0) ++i;
    if (i >= len) break;
    int value = HexValue(text[i]);
    if (i + 1 < len && HexValue(text[i + 1]) >= 0) value = value * 16 + HexValue(text[i + 1]);
    buffer[j++] = static_cast<std::uint8_t>(value);
    ++produced;
    i += 2;
  }
  return produced;
}
