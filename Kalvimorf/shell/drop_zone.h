#pragma once

#include "core/base/settings.h"
#include "shell/view_look.h"

#include <QWidget>

class AppModel;
class QPushButton;

// What the main window shows while nothing is selected: the mark, the title, what a drop does in
// the current mode, and the button that opens the chooser.
struct DropZoneLook {
    // 0 at rest, 1 while a file drag hovers (a spring, so it may pass 1 on the way).
    double targeted = 0;
    WheelMode mode = WheelMode::convert;
    bool roundedTitle = false;  // the stage theme's title
};

namespace DropZoneDrawing {
std::string modeLine(WheelMode mode);
// Where the chooser button stands inside the zone's bounds (the painting leaves it free).
QRectF buttonRect(const QRectF& bounds, const QSizeF& button);
void paint(
    QPainter& painter, const QRectF& bounds, const QSizeF& button, const DropZoneLook& look, const ViewColors& colors);
}

class DropZone : public QWidget {
    Q_OBJECT
public:
    DropZone(AppModel& model, QWidget* parent = nullptr);
    DropZoneLook look() const;
    QPushButton* chooseButton() const { return button_; }

Q_SIGNALS:
    void chooseRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void follow();

    AppModel& model_;
    QPushButton* button_;
    Spring targeted_;
    SpringTicker ticker_;
};
