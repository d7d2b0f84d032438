#include "core/jobs/conversion_runner.h"

#include "core/state/alert.h"
#include "core/base/conversion_error.h"
#include "documents/archive_engine.h"
#include "core/jobs/engine.h"
#include "core/engines/image_engine.h"
#include "core/jobs/job_store.h"
#include "core/jobs/limiter.h"
#include "core/base/output_paths.h"
#include "core/engines/pdf_engine.h"
#include "core/base/task.h"
#include "core/jobs/worker_pool.h"

#include <system_error>

ConversionEngines ConversionEngines::standard()
{
    auto pack = [](const std::vector<fs::path>& items, const OutputFormat& format) {
        return ArchiveEngine::create(items, format);
    };
    return {Engine::convert, PDFEngine::merge, ImageEngine::mergeToPDF, pack};
}

ConversionEngines ConversionEngines::isolated(std::shared_ptr<WorkerPool> pool)
{
    using Op = Worker::Request::Op;
    // The job's folder and quality travel with the request: the worker has no task of ours.
    auto inWorker
        = [pool](Op op, std::vector<fs::path> sources, MediaKind kind, OutputFormat format, const Progress& progress) {
              const auto& context = Task::current();
              Worker::Request request{
                  op, std::move(sources), kind, std::move(format), context.qualityOverride, context.overrideDir};
              return pool->run(request, progress);
          };
    ConversionEngines engines;
    engines.convert
        = [inWorker](const fs::path& source, MediaKind kind, const OutputFormat& format, const Progress& progress) {
              return inWorker(Op::convert, {source}, kind, format, progress);
          };
    engines.mergePDF = [inWorker](const std::vector<fs::path>& items) {
        return inWorker(Op::mergePDF, items, MediaKind::pdf, {}, {});
    };
    engines.mergeImages = [inWorker](const std::vector<fs::path>& items) {
        return inWorker(Op::mergeImages, items, MediaKind::image, {}, {});
    };
    engines.createArchive = [inWorker](const std::vector<fs::path>& items, const OutputFormat& format) {
        return inWorker(Op::archive, items, MediaKind::other, format, {});
    };
    return engines;
}

ConversionRunner& ConversionRunner::shared()
{
    static auto* runner = new ConversionRunner(JobStore::shared(), ConversionEngines::isolated(WorkerPool::shared()));
    return *runner;
}

ConversionRunner::ConversionRunner(JobStore& store, ConversionEngines engines, int places)
    : store_(store), engines_(std::move(engines)), limiter_(std::make_shared<Limiter>(places))
{
}

std::string ConversionRunner::folderName(const OutputFormat& format) { return "Convertidos para " + format.label; }

namespace {

bool askMixedFormats(size_t count, const std::vector<std::string>& distinct, const OutputFormat& format)
{
    std::string joined;
    for (const auto& name : distinct)
        joined += (joined.empty() ? "" : ", ") + name;
    Alert::Request request;
    request.message = "Converter " + std::to_string(count) + " arquivos para " + format.label + "?";
    request.informative = "A seleção tem " + std::to_string(distinct.size()) + " formatos diferentes (" + joined
        + "). Todos serão convertidos para " + format.label + " numa nova pasta “"
        + ConversionRunner::folderName(format) + "”.";
    request.buttons = {"Converter todos", "Cancelar"};
    return Alert::run(request) == 0;
}

}

std::optional<fs::path> ConversionRunner::makeCommonFolder(const fs::path& first, const OutputFormat& format) const
{
    try {
        return OutputPaths::makeCommonFolder(first, format.label);
    } catch (const fs::filesystem_error&) {
        return std::nullopt;
    }
}

void ConversionRunner::run(
    const std::vector<fs::path>& urls, const OutputFormat& format, std::optional<QualityLevel> quality)
{
    const auto options = Catalog::options(urls);
    if (!options)
        return;
    const MediaKind kind = options->kind;

    if (format.batch) {
        const QUuid id = store_.add(Catalog::describe(urls), format.label);
        auto work = [engines = engines_, urls, format, kind]() {
            const auto sorted = Catalog::sorted(urls);
            if (format.action == FormatAction::mergePDF)
                return kind == MediaKind::pdf ? engines.mergePDF(sorted) : engines.mergeImages(sorted);
            return engines.createArchive(sorted, format);
        };
        launch(store_, limiter_, id, Task::newJob(std::nullopt, quality), std::move(work));
        return;
    }

    if (urls.size() >= 2) {
        const auto distinct = Catalog::distinctFormats(urls);
        if (distinct.size() >= 2 && !askMixedFormats(urls.size(), distinct, format))
            return;
    }

    std::optional<fs::path> folder;
    if (urls.size() >= 2)
        folder = makeCommonFolder(urls.front(), format);

    for (const auto& url : Catalog::sorted(urls)) {
        const QUuid id = store_.add(url.filename().string(), format.label);
        JobStore* store = &store_;
        Progress relay = [store, id](double value) {
            MainThread::post([store, id, value] {
                store->setProgress(id, value);
            });
        };
        auto work = [convert = engines_.convert, url, kind, format, relay]() {
            return convert(url, kind, format, relay);
        };
        launch(store_, limiter_, id, Task::newJob(folder, quality), std::move(work));
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
        complete(Task::isCancelled() ? Job::State::cancelled() : Job::State::failed(error.what()));
    } catch (...) {
        complete(Task::isCancelled() ? Job::State::cancelled() : Job::State::failed("Erro inesperado."));
    }
}

void ConversionRunner::finish(const QUuid& id, const std::function<fs::path()>& work)
{
    finish(id, work, JobStore::shared());
}
