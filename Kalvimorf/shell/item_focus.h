#pragma once

#include <QObject>

#include <functional>

class QPainter;
class QRectF;
class QWidget;
struct ViewColors;

// Keyboard focus among the parts of one painted widget (the mode tabs, the grid's tiles, the
// quality choices), each part a stop of its own in the window's Tab order: Tab and Shift+Tab step
// through the parts before leaving the widget, Return, Enter or Space press the part in focus.
// As on the desktop, a part is marked only once the keyboard brought the focus there: a click or
// the window's activation marks none.
class ItemFocus : public QObject {
public:
    // `count` tells how many parts there are now, `press` presses one, `moved` (if set) follows a
    // new mark, to bring that part into view.
    ItemFocus(QWidget& owner, std::function<int()> count, std::function<void(int)> press,
        std::function<void(int)> moved = {});
    // The part marked for the keyboard, -1 for none (also while the widget has no focus).
    int current() const;
    // The parts changed: a mark past their end goes.
    void partsChanged();

    // The ring a marked part wears, just outside `rect`, in the accent colour.
    static void paintRing(QPainter& painter, const QRectF& rect, double radius, const ViewColors& colors);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool step(bool forward);
    void mark(int index);

    QWidget& owner_;
    std::function<int()> count_;
    std::function<void(int)> press_;
    std::function<void(int)> moved_;
    int marked_ = -1;
};
