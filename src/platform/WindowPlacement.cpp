#include "platform/WindowPlacement.h"

#include <QMargins>
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
  QRect frame(QPoint(0, 0), window->size().grownBy(m));
  frame.moveCenter(area.center());
  // move() places the frame's top-left corner.
  window->move(frame.topLeft());
}

void CentreFrameOnOwner(QWidget* window, const QWidget* owner) {
  if (!owner) return;
  CentreFrameOn(window, owner->window()->frameGeometry());
}
