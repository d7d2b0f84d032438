#pragma once

#include "core/base/settings.h"
#include "menus/wheel_entry.h"
#include "platform/drop_offers.h"

#include <QPointF>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// What the wheel controller drives, whichever surface shows the menu (the card fan or the
// wheel). The controller sets the callbacks and `interactive` and never reads them back.
class MenuSurface {
public:
    virtual ~MenuSurface() = default;

    std::function<void(const WheelEntry::Paths&, const WheelEntry&)> onPick;  // files dropped on an entry
    std::function<void(const WheelEntry&)> onClick;  // clicked, no drop
    std::function<void()> onCenterClick;
    // The blurred disc the surface wants behind it: radius, opacity, shown.
    std::function<void(double, double, bool)> onFrame;
    // A drag's position over an entry was answered with its acceptance (the trace of the
    // whole-road test waits for it before letting go).
    std::function<void(const WheelEntry&)> onDragTaken;

    // False while closed or closing; true while the quality step waits for a choice.
    virtual void setInteractive(bool interactive) = 0;
    virtual bool isHiding() const = 0;
    // The point of the surface, in its own coordinates, that is placed at the pointer.
    virtual QPointF anchor() const = 0;
    virtual void configure(std::vector<WheelEntry> entries, const std::string& title, const std::string& subtitle,
        WheelMode mode, const std::string& emptyMessage, std::optional<int> pager)
        = 0;
    virtual void preselect(int index) = 0;
    virtual void animateIn() = 0;
    virtual void animateOut(std::function<void()> done) = 0;

protected:
    // Sees that an offer of a move alone is read as one of a copy (platform/drop_offers.h).
    MenuSurface();

    // What both surfaces take from a drag: only local files, with the action of
    // DropOffers::action.
    DropOffers::DraggedFiles dragged_;
};
