#include "menus/drag_monitor.h"

#include "core/base/task.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cstdint>
#include <utility>
#include <unistd.h>

namespace {

template <typename Callback, typename... Args> void call(const Callback& callback, Args&&... args)
{
    if (callback)
        callback(std::forward<Args>(args)...);
}

}

DragMonitor::DragMonitor(std::shared_ptr<DragInput> input) : input_(std::move(input)) { }

DragMonitor::~DragMonitor() = default;

void DragMonitor::start()
{
    baselineChangeCount_ = input_->changeCount();
    if (timer_ || !input_->available())
        return;
    Q_ASSERT(MainThread::isCurrent());
    timer_ = std::make_unique<QTimer>();
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(1000 / 60);
    const int notice = input_->claimNotice();
    QObject::connect(timer_.get(), &QTimer::timeout, [this, notice] {
        tick();
        // With the button up no drag is under way, and the next one claims the selection first.
        if (notice >= 0 && !mouseWasDown_)
            timer_->stop();
    });
    if (notice < 0) {
        timer_->start();
        return;
    }
    claims_ = std::make_unique<QSocketNotifier>(notice, QSocketNotifier::Read);
    QObject::connect(claims_.get(), &QSocketNotifier::activated, [this, notice] {
        uint64_t claims = 0;
        [[maybe_unused]] auto count = ::read(notice, &claims, sizeof claims);
        if (timer_->isActive())
            return;
        tick();
        if (mouseWasDown_)
            timer_->start();
    });
}

void DragMonitor::tick()
{
    const auto pointer = input_->pointer();
    if (followButton(pointer.leftButton, input_->changeCount()))
        call(onDragEnded);

    const unsigned flags = pointer.flags & ModifierFlags::mask;
    if (gesture_ == Gesture::noDrag) {
        otherWasDown_ = false;
        // Kept up to date here too, so that a modifier held before the drag never counts as fresh.
        lastFlags_ = flags;
        return;
    }

    const bool other = input_->otherKeyDown();
    if (other && !otherWasDown_) {
        gesture_ = flags ? Gesture::chord : Gesture::dragging;
        waiting_.reset();
        call(onCancel);
    }
    otherWasDown_ = other;
    if (!flags && gesture_ == Gesture::chord)
        gesture_ = Gesture::dragging;

    // A fresh press counts only alone: nothing that was already down is still down.
    const unsigned fresh = flags & ~lastFlags_;
    if (fresh && gesture_ != Gesture::chord) {
        if (!other && flags == fresh) {
            gesture_ = Gesture::pressed;
            press_ = {flags, MediaClock::now()};
        } else {
            gesture_ = Gesture::dragging;
        }
    }

    if (holding_ && (*holding_ & ~flags)) {
        holding_.reset();
        waiting_.reset();
        call(onRelease);
    }

    lastFlags_ = flags;
    if (const auto fired = settlePress(flags))
        fire(*fired);
    else if (waiting_ && !input_->filesPending())
        go(*std::exchange(waiting_, std::nullopt));
}

bool DragMonitor::followButton(bool down, long changeCount)
{
    bool ended = false;
    if (down) {
        // A drag is the button held while the drag selection has changed since it was last up.
        if (gesture_ == Gesture::noDrag && changeCount != baselineChangeCount_)
            gesture_ = Gesture::dragging;
    } else {
        ended = mouseWasDown_ && gesture_ != Gesture::noDrag;
        gesture_ = Gesture::noDrag;
        holding_.reset();
        waiting_.reset();
        baselineChangeCount_ = changeCount;
    }
    mouseWasDown_ = down;
    return ended;
}

std::optional<unsigned> DragMonitor::settlePress(unsigned flags)
{
    if (gesture_ != Gesture::pressed)
        return std::nullopt;
    bool fires = false;
    if (flags == press_.flags) {
        fires = MediaClock::now() - press_.at >= holdSeconds;
    } else if (!flags) {
        // Released before the hold time: a tap, which only the single key takes.
        fires = !Prefs::separateKeys();
        if (!fires)
            gesture_ = Gesture::dragging;
    } else {
        gesture_ = Gesture::dragging;  // another modifier joined or replaced it
    }
    if (!fires)
        return std::nullopt;
    gesture_ = Gesture::dragging;
    if (Prefs::separateKeys())
        holding_ = press_.flags;
    return press_.flags;
}

void DragMonitor::fire(unsigned flags)
{
    // The keys are read at each fire, so a changed setting takes effect at the next trigger.
    if (!Prefs::separateKeys()) {
        const auto key = Prefs::triggerKey(std::nullopt);
        if (key != TriggerKey::off && TriggerKeys::flag(key) == flags)
            go(std::nullopt);
        return;
    }
    for (auto mode : WheelModes::all()) {
        const auto key = Prefs::triggerKey(mode);
        if (key != TriggerKey::off && TriggerKeys::flag(key) == flags) {
            go(mode);
            return;
        }
    }
}

void DragMonitor::go(std::optional<WheelMode> mode)
{
    waiting_.reset();
    const auto files = input_->dragFiles();
    if (!files.empty())
        call(onTrigger, mode, files);
    else if (input_->filesPending())
        waiting_ = mode;
}
