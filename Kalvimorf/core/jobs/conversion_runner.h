#pragma once

#include "core/base/catalog.h"
#include "core/base/progress.h"
#include "core/base/task.h"
#include "core/jobs/request.h"

#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class JobStore;
class Limiter;
enum class QualityLevel;

// Carries out one request and returns its output: the program's workers, perform() itself in
// tests that run the engines in process, fakes in the runner's own tests.
using Performer = std::function<fs::path(const Request&, const Progress&)>;

class WorkerPool;
// Each request in a worker of `pool`, so that a crash or a hang ends only its own job.
Performer inWorkers(std::shared_ptr<WorkerPool> pool);

// Turns a drop on a format card into requests (Requests::plan), one job each, and schedules them
// in the background at its gate over all drops (the desktop's: Limiter::conversions(), beside the
// tools' own), each on its own thread with its own cancellation; the performer does the work.
class ConversionRunner {
public:
    static ConversionRunner& shared();
    ConversionRunner(JobStore& store, Performer performer, std::shared_ptr<Limiter> gate);
    // With a gate of its own.
    ConversionRunner(JobStore& store, Performer performer, int places = 3);

    // Main thread. Returns once the jobs exist (after the confirmation, when one is asked).
    void run(const std::vector<fs::path>& urls, const OutputFormat& format, std::optional<QualityLevel> quality);

    // Runs `work` as the body of job `id` on the calling (background) thread and completes the
    // job in `store` as done, failed (with describeError's sentence) or cancelled; every store
    // call hops to the main thread, and nothing waits for it there. Never throws.
    static void finish(const QUuid& id, const std::function<fs::path()>& work, JobStore& store);
    static void finish(const QUuid& id, const std::function<fs::path()>& work);

    // Starts job `id` (already added to `store`): once `gate` gives it a place (at once without a
    // gate) its work runs through finish() on a thread of its own with `context` bound, and the
    // place is given back after. The job's cancel action is registered with the store. Main thread.
    static void launch(JobStore& store, const std::shared_ptr<Limiter>& gate, const QUuid& id, Task::Context context,
        std::function<fs::path()> work);

    Limiter& limiter() { return *limiter_; }

private:
    JobStore& store_;
    Performer performer_;
    std::shared_ptr<Limiter> limiter_;
};
