#include "core/jobs/limiter.h"

#include "core/base/job_budget.h"

Limiter::Limiter(int max) : max_(max) { }

const std::shared_ptr<Limiter>& Limiter::conversions()
{
    static const auto gate = std::make_shared<Limiter>(JobBudget::places());
    return gate;
}

const std::shared_ptr<Limiter>& Limiter::tools()
{
    static const auto gate = std::make_shared<Limiter>(JobBudget::places());
    return gate;
}

void Limiter::Turn::wait()
{
    std::unique_lock lock(*mutex_);
    ready_.wait(lock, [this] {
        return granted_;
    });
}

void Limiter::Turn::whenGranted(std::function<void()> start)
{
    {
        std::lock_guard lock(*mutex_);
        if (!granted_) {
            start_ = std::move(start);
            return;
        }
    }
    start();
}

std::shared_ptr<Limiter::Turn> Limiter::enqueue()
{
    auto turn = std::make_shared<Turn>();
    turn->mutex_ = &mutex_;
    std::lock_guard lock(mutex_);
    if (running_ < max_) {
        ++running_;
        turn->granted_ = true;
    } else {
        waiters_.push_back(turn);
    }
    return turn;
}

void Limiter::acquire() { enqueue()->wait(); }

void Limiter::release()
{
    std::function<void()> start;
    {
        std::lock_guard lock(mutex_);
        if (waiters_.empty()) {
            if (running_ > 0)
                --running_;
            return;
        }
        // The place passes straight to the oldest waiter; the count stays.
        auto next = waiters_.front();
        waiters_.pop_front();
        next->granted_ = true;
        start = std::move(next->start_);
        next->ready_.notify_one();
    }
    if (start)
        start();
}

int Limiter::running() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

int Limiter::waiting() const
{
    std::lock_guard lock(mutex_);
    return int(waiters_.size());
}
