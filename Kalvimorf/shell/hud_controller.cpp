#include "shell/hud_controller.h"

#include "core/base/settings.h"
#include "core/jobs/job_store.h"
#include "shell/hud_panel.h"
#include "shell/hud_view.h"

#include <QTimer>

#include <algorithm>

namespace {

class QtScheduler final : public HudController::Scheduler {
public:
    QtScheduler()
    {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto work = std::exchange(work_, nullptr))
                work();
        });
    }
    void after(double seconds, std::function<void()> work) override
    {
        work_ = std::move(work);
        timer_.start(int(seconds * 1000));
    }
    void cancel() override
    {
        timer_.stop();
        work_ = nullptr;
    }

private:
    QTimer timer_;
    std::function<void()> work_;
};

}

HudController::HudController(JobStore& store, std::unique_ptr<Window> window, std::unique_ptr<Scheduler> scheduler)
    : store_(store), window_(window ? std::move(window) : std::make_unique<HudPanel>(store)),
      scheduler_(scheduler ? std::move(scheduler) : std::make_unique<QtScheduler>())
{
    store_.subscribe(this, [this](const std::vector<Job>& jobs) {
        update(jobs);
    });
    connect(&Notifications::shared(), &Notifications::hudVisibilityChanged, this, [this] {
        update(store_.jobs());
    });
}

HudController::~HudController() { *alive_ = false; }

QRectF HudController::targetFrame(size_t jobCount, QRectF visible)
{
    const double height = HudView::height(jobCount);
    return {visible.right() - HudView::width - 14, visible.top() + 10, HudView::width, height};
}

void HudController::setHidden(bool hidden)
{
    Defaults::set(SettingKey::hudHidden, hidden);
    Notifications::shared().postHudVisibilityChanged();
}

void HudController::hideByUser() { setHidden(true); }

void HudController::update(const std::vector<Job>& jobs)
{
    scheduler_->cancel();
    if (jobs.empty())
        return dismiss();
    if (Defaults::flag(SettingKey::hudHidden))
        dismiss();
    else
        show(jobs);
    if (std::any_of(jobs.begin(), jobs.end(), [](const Job& job) {
            return job.isRunning();
        }))
        return;
    scheduler_->after(6.0, [this, alive = std::weak_ptr<bool>(alive_)] {
        if (auto flag = alive.lock(); flag && *flag)
            store_.clearFinished();
    });
}

void HudController::show(const std::vector<Job>& jobs)
{
    // Without any screen the panel keeps to the origin; there is nothing to see it on anyway.
    const QRectF target = targetFrame(jobs.size(), window_->screenArea().value_or(QRectF(0, 0, 1280, 800)));
    if (isShown_) {
        if (shownAt_ != target)
            window_->move(target);
    } else {
        isShown_ = true;
        window_->enter(target);
    }
    shownAt_ = target;
}

void HudController::dismiss()
{
    if (!isShown_)
        return;
    isShown_ = false;
    shownAt_.reset();
    window_->leave([this, alive = std::weak_ptr<bool>(alive_)] {
        // A show during the fade has taken the panel back.
        if (auto flag = alive.lock(); flag && *flag && !isShown_)
            window_->orderOut();
    });
}
