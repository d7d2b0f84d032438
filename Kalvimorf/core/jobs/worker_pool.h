#pragma once

#include "core/base/file_safety.h"
#include "core/base/job_budget.h"
#include "core/base/progress.h"
#include "core/engines/module_kind.h"
#include "core/jobs/request.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Runs requests in workers (see worker.h), keeping some started ahead so that a job does not
// wait for a process to load.

class WorkerPool {
public:
    struct Options {
        // The executable to start with the worker option; empty means program().
        std::string executable;
        // A job that reports no progress for this long is taken as hung and ended. Long enough
        // for a big document or image, which report nothing while they work.
        std::chrono::milliseconds stallLimit = std::chrono::minutes(5);
        // Workers kept started and waiting: one per place of the conversions' gate (Limiter::conversions()), so
        // that every job of a drop finds one.
        size_t ready = size_t(JobBudget::places());
        // Laid over the inherited environment of every worker.
        std::map<std::string, std::string> env;
        // A worker that answered takes the next request too, instead of a fresh one for each:
        // the command line's run keeps one worker for all its files, a new one only after a
        // crash, a hang or a cancellation.
        bool reuse = false;
        // The engine modules each worker opens while it waits: the desktop's have them all ready
        // when a job comes; a command-line run names those its jobs need (Requests::modules), and
        // leaves the rest unloaded.
        std::vector<EngineModules::Module> warm = EngineModules::all();
        // The address space each worker and the tools it starts may take, in bytes
        // (JobBudget::Limits::addressSpace); past it the job fails or the worker crashes, and the
        // next job gets a fresh one.
        std::optional<unsigned long long> memoryLimit = JobBudget::limits().addressSpace;
    };

    explicit WorkerPool(Options options);
    // Ends the waiting workers.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The program's own pool.
    static const std::shared_ptr<WorkerPool>& shared();

    // The worker program, in the helper folder; BRIVLON_WORKER names another, for the tests.
    static std::string program();

    // Starts the waiting workers now rather than at the first job.
    void prewarm();
    // Ends the waiting workers and removes their folders (the program is leaving).
    void release();

    // Runs the request in a worker on the calling thread and returns the output. Cancelling the
    // current task kills the worker and every tool it started at once and throws
    // CancellationError; a crash, a hang or a reported failure throws ConversionError with the
    // sentence for the user.
    fs::path run(const Request& request, const Progress& progress);

    static const char* crashed();
    static const char* stalled();

private:
    class Started;
    std::unique_ptr<Started> take();
    std::unique_ptr<Started> start();
    // Adds a worker to the waiting ones; the caller holds mutex_.
    void keep(std::unique_ptr<Started> worker);
    void readWaiting();
    // After a job's answer: reads on until the worker says it is ready for another, its job's
    // process gone and all it printed passed on. False if it says anything else, hangs up or
    // takes more than seconds.
    bool awaitReady(Started& worker, QByteArray& pending);

    Options options_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Started>> ready_;
    // A waiting worker's standard error is read all the time, on a thread of the pool's own
    // (a job's own loop reads it while it runs): a worker that printed more than the pipe holds
    // while it waited would be stuck in the middle of a write when its job came.
    FileSafety::Fd wake_;
    bool leaving_ = false;
    std::thread reader_;
};
