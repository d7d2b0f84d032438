#pragma once

#include "core/base/catalog.h"
#include "core/base/progress.h"
#include "core/base/task.h"

#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class JobStore;
class Limiter;
class WorkerPool;
enum class QualityLevel;

// The engines the runner calls; tests put fakes in their place.
struct ConversionEngines {
    std::function<fs::path(const fs::path&, MediaKind, const OutputFormat&, const Progress&)> convert;
    std::function<fs::path(const std::vector<fs::path>&)> mergePDF;
    std::function<fs::path(const std::vector<fs::path>&)> mergeImages;
    std::function<fs::path(const std::vector<fs::path>&, const OutputFormat&)> createArchive;

    // The program's own engines, in this process.
    static ConversionEngines standard();
    // The same engines run in workers of `pool`, so that a crash or a hang ends only its job.
    static ConversionEngines isolated(std::shared_ptr<WorkerPool> pool);
};

// Turns a drop on a format card into jobs and runs them in the background, three at a time
// over all requests, each on its own thread with its own output folder, quality and cancellation.
class ConversionRunner {
public:
    static ConversionRunner& shared();
    ConversionRunner(JobStore& store, ConversionEngines engines, int places = 3);

    // Main thread. Returns once the jobs exist (after the confirmation, when one is asked).
    void run(const std::vector<fs::path>& urls, const OutputFormat& format, std::optional<QualityLevel> quality);

    // Runs `work` as the body of job `id` on the calling (background) thread and completes the
    // job in `store` as done, failed or cancelled; every store call hops to the main thread, and
    // nothing waits for it there. Never throws.
    static void finish(const QUuid& id, const std::function<fs::path()>& work, JobStore& store);
    static void finish(const QUuid& id, const std::function<fs::path()>& work);

    // Starts job `id` (already added to `store`): once `gate` gives it a place (at once without a
    // gate) its work runs through finish() on a thread of its own with `context` bound, and the
    // place is given back after. The job's cancel action is registered with the store. Main thread.
    static void launch(JobStore& store, const std::shared_ptr<Limiter>& gate, const QUuid& id, Task::Context context,
        std::function<fs::path()> work);

    Limiter& limiter() { return *limiter_; }

    // The name of the folder that holds the outputs of a drop of several files.
    static std::string folderName(const OutputFormat& format);

private:
    std::optional<fs::path> makeCommonFolder(const fs::path& first, const OutputFormat& format) const;

    JobStore& store_;
    ConversionEngines engines_;
    std::shared_ptr<Limiter> limiter_;
};
