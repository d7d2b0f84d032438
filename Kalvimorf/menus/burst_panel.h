#pragma once

#include "menus/burst_clock.h"

#include <QPointF>
#include <QTimer>
#include <QWidget>

// The small see-through window the celebration firework plays in, centred on the point where
// the card was picked. It takes no focus and lets every click through.
class BurstPanel : public QWidget {
public:
    static constexpr int side = 320;

    BurstPanel();
    // Starts a fresh firework centred on `globalPoint` (Qt's global coordinates) and keeps the
    // panel up for 2.4 s; a second burst before then replaces the first and restarts the time.
    void burst(QPointF globalPoint);

    // Makes the panel the burst's presenter; main thread, after the application exists.
    static void install();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    BurstClock clock_;
    QColor tint_;
    QTimer frames_;
};
