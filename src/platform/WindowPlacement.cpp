#include "platform/WindowPlacement.h"

#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QWidget>

namespace {

QMargins FrameMargins(const QWidget* w) {
  const QRect f = w->frameGeometry();
  const QRect g = w->geometry();
  return QMargins(g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom());
}

}  // namespace

void CentreFrameOn(QWidget* window, const QRect& area) {
  QMargins m = FrameMargins(window);
  if (m.isNull() && window->parentWidget()) m = FrameMargins(window->parentWidget()->window());
  const QSize frame = window->size().grownBy(m);
  // move() places the frame's top-left corner.
  window->move(area.left() + (area.width() - frame.width()) / 2, area.top() + (area.height() - frame.height()) / 2);
}

void CentreFrameOnOwner(QWidget* window, const QWidget* owner) {
  if (!owner) return;
  CentreFrameOn(window, owner->window()->frameGeometry());
}

void CentreFrameOnScreen(QWidget* window) {
  if (const QScreen* s = QGuiApplication::primaryScreen()) CentreFrameOn(window, s->availableGeometry());
}

void CentreFrameOnOwnerOrScreen(QWidget* window, const QWidget* owner) {
  if (owner) {
    CentreFrameOnOwner(window, owner);
  } else {
    CentreFrameOnScreen(window);
  }
}
