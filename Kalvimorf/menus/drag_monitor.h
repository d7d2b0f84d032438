#pragma once

// Watches, sixty times a second while a drag is under way, whether the user drags files anywhere on
// the desktop and whether a trigger key is tapped or held meanwhile; reports the dragged files with
// the key's menu mode. It receives no input events of its own: it polls the pointer, the keys and
// the drag selection's change count through the platform's drag service. Between drags it sleeps
// until the service tells it the drag selection was claimed, which every drag does as it begins.
// Main thread only.

#include "core/base/settings.h"
#include "core/state/media_clock.h"
#include "platform/drag_input.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QSocketNotifier;
class QTimer;

class DragMonitor final {
public:
    using Files = std::vector<std::filesystem::path>;

    // Time comes from MediaClock, which tests script.
    explicit DragMonitor(std::shared_ptr<DragInput> input = DragInput::system());
    ~DragMonitor();
    DragMonitor(const DragMonitor&) = delete;
    DragMonitor& operator=(const DragMonitor&) = delete;

    // A trigger fired: no mode for the single key (move on to the next mode), else the key's mode.
    // The files are never empty.
    std::function<void(std::optional<WheelMode> mode, const Files& files)> onTrigger;
    // The mouse button was released after a drag.
    std::function<void()> onDragEnded;
    // A key that is no modifier went down during a drag.
    std::function<void()> onCancel;
    // The key whose hold opened the menu (separate keys) was released.
    std::function<void()> onRelease;

    // Takes the current change count as the baseline and starts watching: polling every 1/60 s
    // from each claim of the drag selection until the button is up, or all the time when the
    // service cannot tell of claims. Without a display there is nothing to poll and it stays idle.
    void start();

    // One poll; the timer calls it, tests call it directly.
    void tick();

    // How long a modifier must stay down to count as a hold.
    static constexpr double holdSeconds = 0.11;

private:
    // Where a drag's key gesture stands.
    enum class Gesture {
        noDrag,  // the button is up, or down since before the last claim
        dragging,  // nothing under way that could fire
        pressed,  // a fresh lone press (press_) waiting to become a tap or a hold
        chord,  // another key went down with a modifier: nothing until all modifiers are up
    };
    struct Press {
        unsigned flags = 0;
        double at = 0;
    };

    // Follows the button and the selection's claims; true when a drag just ended.
    bool followButton(bool down, long changeCount);
    // The modifiers a pending press fires now, if it does: at the hold time, or at its release
    // for the single key.
    std::optional<unsigned> settlePress(unsigned flags);
    void fire(unsigned flags);
    void go(std::optional<WheelMode> mode);

    std::shared_ptr<DragInput> input_;
    std::unique_ptr<QTimer> timer_;
    std::unique_ptr<QSocketNotifier> claims_;
    Gesture gesture_ = Gesture::noDrag;
    Press press_;
    // The modifier whose hold fired (separate keys only): its release is told even after a
    // letter turned the gesture into a chord.
    std::optional<unsigned> holding_;
    // A trigger that came while the drag's file list was still being read: it goes off once the
    // list is in, unless the drag, the key or a letter ended it first.
    std::optional<std::optional<WheelMode>> waiting_;
    long baselineChangeCount_ = 0;  // the change count last seen with the button up
    bool mouseWasDown_ = false;
    unsigned lastFlags_ = 0;
    bool otherWasDown_ = false;
};
