#include "tools/tool_runner.h"

#include "core/jobs/job_store.h"

ToolRunner& ToolRunner::shared()
{
    static ToolRunner instance;
    return instance;
}

void ToolRunner::start(Tool tool, const std::vector<std::filesystem::path>& urls)
{
    if (urls.empty())
        return;
    auto& store = JobStore::shared();
    const auto id = store.add(urls.front().filename().string(), Tools::title(tool));
    store.finish(id, Job::State::failed("Ferramenta ainda não disponível."));
}
