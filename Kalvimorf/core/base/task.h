#pragma once

// The small task layer: per-job values (output folder, quality) and cancellation, bound to the
// thread that runs the job, plus hops to the main thread that carry the caller's values along.

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

enum class QualityLevel;
namespace OutputPaths {
class Claims;
}

namespace Task {

// Cancellation shared between a job's owner and the code running it. Whoever starts something
// that can be stopped (a child process) registers a handler for as long as it runs.
class CancelToken {
public:
    void cancel();
    bool isCancelled() const { return cancelled_.load(); }
    // Throws CancellationError when cancelled.
    void check() const;

    // Runs `handler` at once when already cancelled. The returned id removes it again. Handlers
    // must be quick and must not call back into the token.
    int onCancel(std::function<void()> handler);
    void removeHandler(int id);

private:
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    int nextId_ = 1;
    std::vector<std::pair<int, std::function<void()>>> handlers_;
};

struct Context {
    std::optional<std::filesystem::path> overrideDir;
    std::optional<QualityLevel> qualityOverride;
    std::shared_ptr<CancelToken> cancel;
    // Free names this job has chosen, held until the job ends.
    std::shared_ptr<OutputPaths::Claims> claims;
};

// A fresh context for a new job: its own cancel token and name claims.
Context newJob(std::optional<std::filesystem::path> overrideDir = {}, std::optional<QualityLevel> qualityOverride = {});

// The context bound to the calling thread; an empty one when nothing is bound.
const Context& current();

// Binds a context to the calling thread for the binder's lifetime; binders nest.
class Binder {
public:
    explicit Binder(Context context);
    ~Binder();
    Binder(const Binder&) = delete;
    Binder& operator=(const Binder&) = delete;

private:
    const Context* previous_;
    Context context_;
};

// Convenience for the common single-value bindings.
Context with(Context base, std::optional<std::filesystem::path> overrideDir);
Context withQuality(Context base, std::optional<QualityLevel> level);

// True when the current context carries a token that was cancelled.
bool isCancelled();
// Throws CancellationError when the current context was cancelled.
void checkCancelled();

// Runs `work` on a new detached thread with `context` bound.
void detach(Context context, std::function<void()> work);

}

namespace MainThread {
bool isCurrent();
// Queues `work` on the main thread's event loop; runs it with the caller's context bound.
void post(std::function<void()> work);
}
