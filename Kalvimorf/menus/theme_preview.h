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

class QVariantAnimation;

// The strip of three snapshots on a soft gradient card, each with its mode's title. A change of
// theme or darkness fades from the old look to the new one.
class ThemePreview : public QWidget {
public:
    // What one still shows.
    struct Look {
        AppTheme theme;
        bool dark;
        bool operator==(const Look&) const = default;
    };
    // How long the fade takes, in seconds.
    static constexpr double fadeSeconds = 0.2;

    ThemePreview(AppTheme theme, AppAppearance appearance, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    void setTheme(AppTheme theme);
    void setAppearance(AppAppearance appearance);
    // Auto follows the colour scheme where the preview is shown, not the theme setting.
    bool dark() const;
    static void paint(QPainter& painter, const QRectF& bounds, AppTheme theme, bool dark);
    // `from` fading into `to`; `elapsed` seconds since the change, eased in and out.
    static void paint(QPainter& painter, const QRectF& bounds, Look from, Look to, double elapsed);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    Look look() const { return {theme_, dark()}; }
    // Starts the fade when what the preview shows has changed.
    void follow();

    AppTheme theme_;
    AppAppearance appearance_;
    Look shown_;
    Look from_;
    double elapsed_ = fadeSeconds;
    QVariantAnimation* fade_;
};
