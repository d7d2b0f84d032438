#include "shell/item_focus.h"

#include "shell/view_look.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QWidget>

#include <algorithm>

ItemFocus::ItemFocus(
    QWidget& owner, std::function<int()> count, std::function<void(int)> press, std::function<void(int)> moved)
    : QObject(&owner), owner_(owner), count_(std::move(count)), press_(std::move(press)), moved_(std::move(moved))
{
    owner_.setFocusPolicy(Qt::StrongFocus);
    owner_.installEventFilter(this);
}

int ItemFocus::current() const
{
    return owner_.hasFocus() && owner_.window()->testAttribute(Qt::WA_KeyboardFocusChange) && marked_ < count_()
        ? marked_
        : -1;
}

void ItemFocus::partsChanged()
{
    marked_ = std::min(marked_, count_() - 1);
    owner_.update();
}

void ItemFocus::mark(int index)
{
    marked_ = index;
    if (index >= 0) {
        // Qt shows its own controls' focus only after a change by keyboard; stepping among the
        // parts is one, also when the focus stays in this widget.
        owner_.window()->setAttribute(Qt::WA_KeyboardFocusChange);
        if (moved_)
            moved_(index);
    }
    owner_.update();
}

bool ItemFocus::step(bool forward)
{
    const int count = count_();
    const int next = marked_ < 0 || marked_ >= count ? (forward ? 0 : count - 1) : marked_ + (forward ? 1 : -1);
    if (next < 0 || next >= count)
        return false;
    mark(next);
    return true;
}

bool ItemFocus::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != &owner_)
        return false;
    switch (event->type()) {
    case QEvent::FocusIn: {
        // Coming by Tab starts at the first part, by Shift+Tab at the last.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::TabFocusReason)
            mark(count_() > 0 ? 0 : -1);
        else if (reason == Qt::BacktabFocusReason)
            mark(count_() - 1);
        else if (reason == Qt::MouseFocusReason)
            mark(-1);
        owner_.update();
        break;
    }
    case QEvent::FocusOut: owner_.update(); break;
    case QEvent::MouseButtonPress: marked_ = -1; break;
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            break;
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
            // Past the last part (or before the first) the window's own order goes on.
            return step(key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier));
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Space) {
            const int part = current();
            if (part < 0)
                break;
            press_(part);
            return true;
        }
        break;
    }
    default: break;
    }
    return false;
}

void ItemFocus::paintRing(QPainter& painter, const QRectF& rect, double radius, const ViewColors& colors)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(colors.accent, 2));
    painter.drawRoundedRect(rect.adjusted(-1, -1, 1, 1), radius + 1, radius + 1);
    painter.restore();
}
