#pragma once

#include "menus/menu_surface.h"
#include "menus/palette.h"
#include "menus/spring.h"

#include <QTimer>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

// Everything the radial wheel draws from: the surface's state at one moment.
struct WheelState {
    std::vector<WheelEntry> cards;  // formats, tools or actions, clockwise from the top
    std::string title;
    std::string subtitle;
    WheelMode mode = WheelMode::convert;
    std::string emptyMessage;
    std::optional<int> highlighted;
    bool overCenter = false;
    std::vector<Spring> hover;  // one per segment: 0 at rest, 1 highlighted
    Spring centerHover{0, 0, 0, 420, 32};
    double shownAt = 0;  // media time of the opening; 0 draws the wheel fully open
    std::optional<double> hidingAt;
    std::optional<int> pager;

    // Fresh content: nothing highlighted, every spring at rest at 0.
    void configure(std::vector<WheelEntry> entries, std::string title, std::string subtitle, WheelMode mode,
        std::string emptyMessage, std::optional<int> pager);
    // Highlight `index` with every spring already settled, as a still shows it.
    void settleOn(std::optional<int> index);
};

// The ring of segments around a hub: geometry and painting, pure functions of the state, the
// time and the palette. Designed in y-up points on a 380 × 380 canvas.
namespace WheelDrawing {
constexpr double side = 380;
constexpr double inner = 62;  // the hub; the ring starts here
constexpr double outer = 160;  // a fully highlighted segment's outer edge

// The segment under a point (Qt coordinates of the canvas): segment 0 is centred at the top and
// the others follow clockwise; nothing over the hub or beyond 190.
std::optional<int> segmentAt(QPointF point, int count);
bool overHub(QPointF point);

// The one font size all segment labels share: the largest that fits every entry.
double labelSize(const std::vector<WheelEntry>& entries, const Palette& palette, WheelMode mode);

struct Disc {
    double radius;
    double opacity;
    bool shown;
};
// Seconds from the opening until the disc and every one of `count` segments stand in place.
double openTime(int count);
// Paints the wheel at media time `now`; answers the blurred disc the surface wants behind it.
Disc paint(QPainter& painter, const WheelState& state, double now, const Palette& palette);
}

// The wheel as a menu surface: hover and drops pick segments, springs animate at 120 Hz.
class WheelView : public QWidget, public MenuSurface {
public:
    WheelView();

    void setInteractive(bool interactive) override;
    bool isHiding() const override { return state_.hidingAt.has_value(); }
    QPointF anchor() const override { return {WheelDrawing::side / 2, WheelDrawing::side / 2}; }
    void configure(std::vector<WheelEntry> entries, const std::string& title, const std::string& subtitle,
        WheelMode mode, const std::string& emptyMessage, std::optional<int> pager) override;
    void preselect(int index) override;
    void animateIn() override;
    void animateOut(std::function<void()> done) override;

    // Draws with this theme and darkness instead of the settings' (theme previews).
    std::optional<std::pair<AppTheme, bool>> previewOverride;
    const WheelState& state() const { return state_; }
    // Once per showing, when the disc has grown to its size: a hand that came to rest over a
    // segment meanwhile may stand where the wheel had not yet painted when it stopped.
    std::function<void()> onOpened;
    // Still opening, closing or following the pointer; at rest the picture no longer changes.
    bool animating() const { return timer_.isActive(); }

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void setHighlight(std::optional<int> index, bool center);
    void clearHighlight();
    void startAnimation();
    void tick();
    Palette palette() const;

    WheelState state_;
    bool interactive_ = false;
    QTimer timer_;
    double lastTick_ = 0;
    bool opened_ = true;
    std::function<void()> onHidden_;
};
