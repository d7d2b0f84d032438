#pragma once

#include "menus/card_fan.h"
#include "menus/wheel_controller.h"
#include "menus/wheel_panel.h"
#include "menus/wheel_view.h"

#include <QTimer>

#include <memory>

class DragInput;

// The menu's window on the desktop: one frameless, always-on-top panel that never takes focus,
// holding the wheel and the card fan, of which one shows at a time.
class WheelWindow final : public WheelController::Host {
public:
    // `input` tells of clicks elsewhere while the quality cards wait; the desktop's when null.
    explicit WheelWindow(std::shared_ptr<DragInput> input = nullptr);

    MenuSurface& surface(MenuStyle style) override;
    QSizeF surfaceSize(MenuStyle style) const override;
    void useSurface(MenuStyle style) override;
    void setFanNumbered(bool numbered) override { fan_->setNumbered(numbered); }
    void setFanOpensDown(bool down) override { fan_->setOpensDown(down); }
    void markFanPicked() override { fan_->setPicked(fan_->highlighted()); }
    void fanPick(int index) override { fan_->pick(index); }
    bool panelVisible() const override { return panel_.isVisible(); }
    void placePanel(QRectF frame) override;
    void raisePanel() override;
    void orderOut() override { panel_.hide(); }
    void setAllowsKey(bool allows) override { panel_.setAllowsKey(allows); }
    void setKeyHandler(std::function<bool(int key, const QString& text)> handler) override;
    void watchClicksOutside(std::function<void()> clicked) override;
    std::vector<WheelController::Screen> screens() const override;
    QPointF pointer() const override;

    // Makes the native window and paints both surfaces once offscreen, so that the first menu a
    // user opens finds fonts loaded and drawing caches filled.
    void warmUp();

    // One look at the buttons while clicks elsewhere are watched; a timer calls it 60 times a second.
    void pollClick();

    WheelPanel& panel() { return panel_; }
    CardFan& fan() { return *fan_; }
    WheelView& wheel() { return *wheel_; }

private:
    // Once `surface` has opened: sees that a drag resting on an entry reaches it. `entryAt` is the
    // entry at a point of the surface, `lit` the one a drag lit.
    void nudgeRestingDrag(
        QWidget& surface, const std::function<std::optional<int>(QPointF)>& entryAt, std::optional<int> lit);

    WheelPanel panel_;
    CardFan* fan_;
    WheelView* wheel_;
    DropOffers::DropArea* dropArea_;
    // The quality step learns of clicks elsewhere by polling the pointer: the panel takes no
    // focus, so no focus-out would tell it.
    QTimer clickPoll_;
    std::function<void()> clicked_;
    std::shared_ptr<DragInput> input_;
    bool leftWasDown_ = false;
    bool rightWasDown_ = false;
};
