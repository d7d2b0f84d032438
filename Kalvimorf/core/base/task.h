#pragma once

// The small task layer: per-job values (output folder, quality) and cancellation, bound to the
// thread that runs the job, plus hops to the main thread that carry the caller's values along.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

enum class QualityLevel;
namespace Process {
class Bounds;
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
    // The permission bits the job's outputs may keep (FileSafety::outputModes of its sources):
    // an output is never more readable than what it was made from.
    std::optional<unsigned> outputModes;
    // The job's bounds, laid around every tool started for it (core/jobs/job_process.h); none
    // where the process running the job is already inside them (a worker's child for the job).
    std::shared_ptr<const Process::Bounds> bounds;
};

// A fresh context for a new job, with its own cancel token.
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

// Runs `work` on a new thread with `context` bound. The thread is counted until its work and
// everything it held are gone, so that the program can wait for it before it leaves: a thread
// still running while static objects are destroyed would use them after their end.
void detach(Context context, std::function<void()> work);
// Waits until every thread of detach() has ended or `limit` has passed; true when none is left.
bool awaitDetached(std::chrono::milliseconds limit);

}

namespace MainThread {
bool isCurrent();
// Queues `work` on the main thread's event loop; runs it with the caller's context bound.
void post(std::function<void()> work);
}
