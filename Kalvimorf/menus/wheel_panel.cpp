#include "menus/wheel_panel.h"

#include "platform/window_shape.h"

#include <QKeyEvent>

// Out of the window manager's hands, like any menu: it stands exactly at the pointer, above
// everything, and the window manager neither places it nor activates it.
WheelPanel::WheelPanel()
    : QWidget(nullptr,
        Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
            | Qt::X11BypassWindowManagerHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    WindowShape::follow(this);
    WindowShape::markUnshadowed(this);
}

void WheelPanel::setAllowsKey(bool allows)
{
    allowsKey_ = allows;
    if (allows && isVisible())
        grabKeyboard();
    else
        releaseKeyboard();
}

void WheelPanel::keyPressEvent(QKeyEvent* event)
{
    if (onKey && onKey(event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void WheelPanel::hideEvent(QHideEvent* event)
{
    setAllowsKey(false);
    QWidget::hideEvent(event);
}
