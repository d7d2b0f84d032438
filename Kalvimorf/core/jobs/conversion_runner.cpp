#include "core/jobs/conversion_runner.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "core/base/task.h"
#include "core/jobs/job_store.h"
#include "core/jobs/limiter.h"
#include "core/jobs/worker_pool.h"
#include "core/state/alert.h"

Performer inWorkers(std::shared_ptr<WorkerPool> pool)
{
    return [pool = std::move(pool)](const Request& request, const Progress& progress) {
        return pool->run(request, progress);
    };
}

ConversionRunner& ConversionRunner::shared()
{
    static auto* runner = new ConversionRunner(JobStore::shared(), inWorkers(WorkerPool::shared()), Limiter::conversions());
    return *runner;
}

ConversionRunner::ConversionRunner(JobStore& store, Performer performer, std::shared_ptr<Limiter> gate)
    : store_(store), performer_(std::move(performer)), limiter_(std::move(gate))
{
}

ConversionRunner::ConversionRunner(JobStore& store, Performer performer, int places)
    : ConversionRunner(store, std::move(performer), std::make_shared<Limiter>(places))
{
}

namespace {

bool askMixedFormats(size_t count, const std::vector<std::string>& distinct, const OutputFormat& format)
{
    std::string joined;
    for (const auto& name : distinct)
        joined += (joined.empty() ? "" : ", ") + name;
    Alert::Request request;
    request.message = "Converter " + std::to_string(count) + " arquivos para " + format.label + "?";
    request.informative = "A seleção tem " + std::to_string(distinct.size()) + " formatos diferentes (" + joined
        + "). Todos serão convertidos para " + format.label + " numa nova pasta “" + Requests::commonFolderName(format)
        + "”.";
    request.buttons = {"Converter todos", "Cancelar"};
    return Alert::run(request) == 0;
}

}

void ConversionRunner::run(
    const std::vector<fs::path>& urls, const OutputFormat& format, std::optional<QualityLevel> quality)
{
    const auto options = Catalog::options(urls);
    if (!options)
        return;

    if (!format.batch && urls.size() >= 2) {
        const auto distinct = Catalog::distinctFormats(urls);
        if (distinct.size() >= 2 && !askMixedFormats(urls.size(), distinct, format))
            return;
    }

    // A folder that cannot be made leaves each output in its own source's output folder.
    std::optional<fs::path> folder;
    try {
        folder = Requests::commonFolder(urls, format);
    } catch (const std::exception&) {
    }

    const auto folderKeeper = folder ? FileSafety::removeIfEmptyAtLast(*folder) : nullptr;

    // Per-file jobs appear, and take their places, in file-manager order.
    for (auto& request : Requests::plan(Catalog::sorted(urls), options->kind, format, quality, folder)) {
        const auto source = format.batch ? Catalog::describe(urls) : request.sources.front().filename().string();
        const QUuid id = store_.add(source, format.label);
        JobStore* store = &store_;
        Progress relay;
        // The batch jobs show no progress.
        if (!format.batch)
            relay = [store, id](double value) {
                MainThread::post([store, id, value] {
                    store->setProgress(id, value);
                });
            };
        auto work = [performer = performer_, request = std::move(request), relay, folderKeeper]() {
            return performer(request, relay);
        };
        launch(store_, limiter_, id, Task::newJob(), std::move(work));
    }
}

void ConversionRunner::launch(JobStore& store, const std::shared_ptr<Limiter>& gate, const QUuid& id,
    Task::Context context, std::function<fs::path()> work)
{
    if (!context.cancel)
        context.cancel = std::make_shared<Task::CancelToken>();
    auto token = context.cancel;
    auto run = [context = std::move(context), gate, store = &store, id, work = std::move(work)] {
        Task::detach(context, [gate, store, id, work] {
            finish(id, work, *store);
            if (gate)
                gate->release();
        });
    };
    // The turn is taken here, on the main thread, so places go out in the order jobs were made;
    // the job's thread starts when it holds its place, so a long queue costs no threads.
    if (gate)
        gate->enqueue()->whenGranted(std::move(run));
    else
        run();
    store.setCanceler(id, [token] {
        token->cancel();
    });
}

void ConversionRunner::finish(const QUuid& id, const std::function<fs::path()>& work, JobStore& store)
{
    auto complete = [&store, id](Job::State state) {
        MainThread::post([&store, id, state = std::move(state)] {
            store.finish(id, state);
        });
    };
    if (Task::isCancelled()) {
        complete(Job::State::cancelled());
        return;
    }
    MainThread::post([&store, id] {
        store.markStarted(id);
    });
    try {
        complete(Job::State::done(work()));
    } catch (const CancellationError&) {
        complete(Job::State::cancelled());
    } catch (const std::exception& error) {
        complete(Task::isCancelled() ? Job::State::cancelled() : Job::State::failed(describeError(error)));
    } catch (...) {
        complete(Task::isCancelled() ? Job::State::cancelled() : Job::State::failed(ErrorCauses::unexpected));
    }
}

void ConversionRunner::finish(const QUuid& id, const std::function<fs::path()>& work)
{
    finish(id, work, JobStore::shared());
}
