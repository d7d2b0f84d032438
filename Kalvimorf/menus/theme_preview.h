#pragma once

#include "core/base/appearance.h"
#include "core/base/settings.h"

#include <QImage>
#include <QWidget>

// Pictures of the card fan for the settings window's theme choice: one small fan per mode, made
// offscreen with a sample video file and kept, so that flipping between themes costs nothing.
namespace WheelSnapshot {
// "<mode>-<theme>-<true|false>", the cache key of a picture.
std::string key(WheelMode mode, AppTheme theme, bool dark);
// The fan's cards and title for that mode, theme and darkness, third card raised, cropped to
// 536 × 326 points. The same image (shared data) for the same key. Main thread.
QImage image(WheelMode mode, AppTheme theme, bool dark);
}

// The strip of three snapshots on a soft gradient card, each with its mode's title.
class ThemePreview : public QWidget {
public:
    ThemePreview(AppTheme theme, AppAppearance appearance, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    // Auto follows the colour scheme where the preview is shown, not the theme setting.
    bool dark() const;
    static void paint(QPainter& painter, const QRectF& bounds, AppTheme theme, bool dark);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AppTheme theme_;
    AppAppearance appearance_;
};
