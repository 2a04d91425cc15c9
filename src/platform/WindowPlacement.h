#pragma once
// Placing a top-level window by its outer (frame) rectangle.
#include <QRect>

class QWidget;

// Moves window so that its frame, title bar included, is centred on area.
// Before the window system has framed the window its frame is not known yet;
// the frame of the window's owner (same kind of title bar) stands in for it,
// so the window does not land a title bar's height off centre.
void CentreFrameOn(QWidget* window, const QRect& area);
// Centred on the frame of owner's window.
void CentreFrameOnOwner(QWidget* window, const QWidget* owner);
// Centred on the available area of the primary screen.
void CentreFrameOnScreen(QWidget* window);
// Centred on owner's window when there is one, else on the screen.
void CentreFrameOnOwnerOrScreen(QWidget* window, const QWidget* owner);
