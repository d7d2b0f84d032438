#include "menus/drag_monitor.h"

#include "core/base/task.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cstdint>
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
    // The mouse: a drag is the left button held while the drag selection has changed since the
    // button was last seen up.
    const auto pointer = input_->pointer();
    const long count = input_->changeCount();
    bool ended = false;
    if (pointer.leftButton) {
        if (count != baselineChangeCount_)
            dragActive_ = true;
    } else {
        ended = mouseWasDown_ && dragActive_;
        dragActive_ = false;
        pending_.reset();
        holding_.reset();
        baselineChangeCount_ = count;
    }
    mouseWasDown_ = pointer.leftButton;
    if (ended)
        call(onDragEnded);

    const unsigned flags = pointer.flags & ModifierFlags::mask;
    if (!dragActive_) {
        chord_ = false;
        otherWasDown_ = false;
        // Kept up to date here too, so that a modifier held before the drag never counts as fresh.
        lastFlags_ = flags;
        return;
    }

    const bool other = input_->otherKeyDown();
    if (other && !otherWasDown_) {
        pending_.reset();
        if (flags)
            chord_ = true;
        call(onCancel);
    }
    otherWasDown_ = other;
    if (!flags)
        chord_ = false;

    // A fresh press counts only alone: nothing that was already down is still down.
    const unsigned pressed = flags & ~lastFlags_;
    if (pressed) {
        if (!chord_ && !other && flags == pressed)
            pending_ = Pending{flags, MediaClock::now()};
        else
            pending_.reset();
    }

    if (holding_ && (*holding_ & ~flags)) {
        holding_.reset();
        call(onRelease);
    }

    if (pending_ && !chord_) {
        bool fires = false;
        if (flags == pending_->flags) {
            fires = MediaClock::now() - pending_->at >= holdSeconds;
        } else if (!flags) {
            // Released before the hold time: a tap, which only the single key takes.
            if (Prefs::separateKeys())
                pending_.reset();
            else
                fires = true;
        } else {
            pending_.reset();  // another modifier joined or replaced it
        }
        if (fires) {
            const unsigned fired = pending_->flags;
            pending_.reset();
            if (Prefs::separateKeys())
                holding_ = fired;
            lastFlags_ = flags;
            fire(fired);
            return;
        }
    }
    lastFlags_ = flags;
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
    const auto files = input_->dragFiles();
    if (!files.empty())
        call(onTrigger, mode, files);
}
