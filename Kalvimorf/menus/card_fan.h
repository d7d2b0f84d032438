#pragma once

#include "core/base/appearance.h"
#include "menus/card_fan_layout.h"
#include "menus/menu_surface.h"

#include <QTimer>
#include <QWidget>

#include <optional>
#include <utility>

// The default menu surface: a fan of cards around a pivot below them, one card per entry. Files
// dragged onto a card are picked; while the quality step waits, hovering and clicking choose.
// Springs lift the card under the pointer; a 120 Hz timer steps them only while something moves.
class CardFan : public QWidget, public MenuSurface {
public:
    explicit CardFan(QWidget* parent = nullptr);

    void setInteractive(bool interactive) override;
    bool isHiding() const override { return state_.hidingAt.has_value(); }
    // In the widget's own coordinates.
    QPointF anchor() const override;
    // Where a drag finds a card, as the cards stand once dealt: the window takes drops there from
    // the first frame on.
    QRegion dropArea() const;
    void configure(std::vector<WheelEntry> entries, const std::string& title, const std::string& subtitle,
        WheelMode mode, const std::string& emptyMessage, std::optional<int> pager) override;
    void preselect(int index) override;
    void animateIn() override;
    void animateOut(std::function<void()> done) override;

    // Once per showing, when the last card has been dealt to its place. A hand that came to rest
    // while the cards were still on their way may now stand on one whose place it never moved over.
    std::function<void()> onOpened;
    // The card at a point, in the widget's own coordinates, as the cards stand at rest.
    std::optional<int> cardAt(QPointF widgetPoint) const;

    // Set by the controller before it closes the fan on a drop, so the close shows the pick.
    void setPicked(std::optional<int> index) { state_.picked = index; }
    // A quality card taken: it rises as the picked one while the fan closes.
    void pick(int index);
    std::optional<int> highlighted() const { return state_.highlighted; }
    void setOpensDown(bool down);
    void setNumbered(bool numbered);

    // Stills: every spring at rest with card `index` raised; a pick `t` seconds into its close
    // at a frozen clock.
    void debugHighlight(std::optional<int> index);
    void debugPick(int index, double t);

    const FanState& state() const { return state_; }
    // The media time the next frame is drawn at.
    double frameTime() const;
    bool animating() const { return timer_.isActive(); }
    // What paintEvent paints: the fan in the palette in force.
    void paintInto(QPainter& painter) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void setHighlight(std::optional<int> index, bool haptic);
    void liftOnly(std::optional<int> index);
    void restAt(std::optional<int> index);
    void startAnimation();
    void tick();

    FanState state_;
    bool interactive_ = false;
    std::function<void()> onHidden_;
    std::optional<double> frozenAt_;
    double lastTick_ = 0;
    bool opened_ = true;
    QTimer timer_;
};
