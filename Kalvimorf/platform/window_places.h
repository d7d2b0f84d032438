#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

// Where the program's windows go on the desktop.
namespace WindowPlaces {

// The screen a window that has none yet opens on: the one under the pointer, else the primary.
QScreen* screenForNew();

// The top-left corner that centres a frame of `size` in `visible`.
QPoint centred(QSize size, const QRect& visible);

// A frame fitted to a screen's `visible` area: one narrower than 520 or lower than 380 becomes
// 540 × 600 where it stands; none is larger than the area less 20 each way; and it keeps at least
// 10 inside the area's edges, the right and top edges winning over the left and bottom.
QRect fitted(const QRect& frame, const QRect& visible);

// Moves and sizes the window `widget` so that its frame (title bar and borders included, once the
// window manager has given them) is `frame`.
void setFrame(QWidget& widget, const QRect& frame);

// Has the window shown on every workspace of the desktop (on X11, _NET_WM_DESKTOP 0xFFFFFFFF and
// _NET_WM_STATE_STICKY). Called before each showing: the window manager drops both properties
// when the window is hidden. Does nothing without X11.
void joinAllWorkspaces(QWidget& widget);

// Keeps the window out of the panels' task lists and the pagers (_NET_WM_STATE_SKIP_TASKBAR and
// _NET_WM_STATE_SKIP_PAGER), which show a utility window otherwise. Called before each showing,
// like joinAllWorkspaces. Does nothing without X11.
void keepOffTaskList(QWidget& widget);

}
