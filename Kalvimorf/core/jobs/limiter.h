#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

// A first-in-first-out counting gate: at most `max` holders at once; places are handed out
// strictly in the order the requests reached the gate, and a release never lets a newcomer
// overtake a waiter. Waiting does not react to cancellation. Safe from any thread.
class Limiter {
public:
    explicit Limiter(int max);

    // The desktop's two gates, one for conversions and one for tools and trims, each of
    // JobBudget::places() places, so that the jobs that run together fit their budgets beside the
    // session while a long conversion never holds up a tool.
    static const std::shared_ptr<Limiter>& conversions();
    static const std::shared_ptr<Limiter>& tools();

    // A request for a place, queued at once. Either wait() blocks until the place is held, or
    // whenGranted() runs `start` once it is (at once when it already is, else on the thread that
    // hands the place over), so that work waiting for its turn needs no thread of its own.
    class Turn {
    public:
        void wait();
        void whenGranted(std::function<void()> start);

    private:
        friend class Limiter;
        std::mutex* mutex_ = nullptr;
        std::condition_variable ready_;
        bool granted_ = false;
        std::function<void()> start_;
    };

    // Queues a request without blocking, so that the caller fixes the order of the turns.
    std::shared_ptr<Turn> enqueue();
    // Blocks until the caller holds a place.
    void acquire();
    // Gives back one place; exactly once after each place held.
    void release();

    int max() const { return max_; }
    int running() const;
    int waiting() const;

private:
    const int max_;
    mutable std::mutex mutex_;
    int running_ = 0;
    std::deque<std::shared_ptr<Turn>> waiters_;
};
