// Keeping the sign-in's windows where a person can reach them: inside the free area of the
// screen, frame and all.
#pragma once

#include <QPoint>
#include <QRect>

class QWidget;

// Where `outer` (a window's rectangle with its frame) goes to lie inside `room`, moved as little
// as it must; one that does not fit keeps its top-left corner at the room's.
QPoint topLeftInside(const QRect &room, const QRect &outer);

// Sizes `window` to 800 by 600, or as much of it as the screen's available area holds with the
// window system's frame around it, and moves it inside that area: a person can always reach
// the frame's close button (at scale 2 a 1280 by 1024 screen holds only 640 by 512).
void fitToScreen(QWidget *window);

// A window manager frames a window only some time after it is mapped, and may place it after
// that too; no event says when it is done. Looks again every 50 ms while `window` is shown,
// fits it whenever its frame is known and does not lie inside the screen, and stops once the
// frame has been seen inside for a few looks in a row, or after two seconds (with no window
// manager nothing ever frames it).
void keepInsideScreenOnceFramed(QWidget *window);
