#include "tools/tool_runner.h"

#include "core/base/task.h"
#include "core/jobs/conversion_runner.h"
#include "core/jobs/job_store.h"
#include "core/jobs/limiter.h"
#include "core/jobs/request.h"
#include "core/jobs/worker_pool.h"
#include "tools/tool_panel.h"
#include "trim/trim_editor.h"

ToolRunner& ToolRunner::shared()
{
    // Tool jobs do their engine work in workers, like conversions: a crash or a hang ends only
    // its own job.
    static ToolRunner instance(
        JobStore::shared(),
        [perform = inWorkers(WorkerPool::shared())](Tool tool, const std::vector<std::filesystem::path>& files,
            const ToolParams& params, const Progress& progress) {
            return perform(Requests::forTool(tool, files, params), progress);
        },
        [](Tool tool, const std::vector<std::filesystem::path>& urls, std::function<void(const ToolParams&)> apply) {
            ToolPanelController::shared().show(tool, urls, std::move(apply));
        },
        [](const std::vector<std::filesystem::path>& files) {
            TrimEditor::open(files);
        },
        Limiter::tools());
    return instance;
}

ToolRunner::ToolRunner(
    JobStore& store, Engine engine, OptionsPanel panel, TrimOpener trimEditor, std::shared_ptr<Limiter> gate)
    : store_(store), engine_(std::move(engine)), panel_(std::move(panel)), trimEditor_(std::move(trimEditor)),
      limiter_(std::move(gate))
{
}

ToolRunner::ToolRunner(JobStore& store, Engine engine, OptionsPanel panel, TrimOpener trimEditor, int places)
    : ToolRunner(store, std::move(engine), std::move(panel), std::move(trimEditor), std::make_shared<Limiter>(places))
{
}

void ToolRunner::start(Tool tool, const std::vector<std::filesystem::path>& urls)
{
    if (urls.empty())
        return;
    if (Tools::opensEditor(tool)) {
        if (trimEditor_)
            trimEditor_(urls);
        return;
    }
    if (Tools::needsOptions(tool)) {
        panel_(tool, urls, [this, tool, urls](const ToolParams& params) {
            run(tool, urls, params);
        });
        return;
    }
    run(tool, urls, ToolParams());
}

void ToolRunner::run(Tool tool, const std::vector<std::filesystem::path>& urls, const ToolParams& params)
{
    const auto launch = [&](const std::string& source, std::vector<std::filesystem::path> files) {
        const auto id = store_.add(source, Tools::title(tool));
        JobStore* store = &store_;
        Progress relay = [store, id](double value) {
            MainThread::post([store, id, value] {
                store->setProgress(id, value);
            });
        };
        auto work = [engine = engine_, tool, files = std::move(files), params, relay] {
            return engine(tool, files, params, relay);
        };
        ConversionRunner::launch(store_, limiter_, id, Task::newJob(), std::move(work));
    };
    if (Tools::isBatch(tool)) {
        if (!urls.empty())
            launch(Catalog::describe(urls), urls);
        return;
    }
    for (const auto& url : Catalog::sorted(urls))
        launch(url.filename().string(), {url});
}
