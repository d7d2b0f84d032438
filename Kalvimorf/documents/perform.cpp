#include "documents/perform.h"

#include "core/base/conversion_error.h"
#include "core/base/task.h"
#include "core/engines/engine_modules.h"
#include "core/engines/pdf_engine.h"
#include "core/engines/tool_engines.h"
#include "documents/dispatcher.h"
#include "documents/archive_engine.h"
#include "core/jobs/worker_serve.h"

#include <memory>

fs::path perform(const Request& request, const Progress& progress)
{
    Task::Binder binder(Requests::context(request));
    static const Requests::Engines every{
        .tool = &ToolEngines::run,
        .convert = &Engine::convert,
        .mergePDF =
            [](const std::vector<fs::path>& sources) {
                return PDFEngine::merge(sources);
            },
        .mergeImages =
            [](const std::vector<fs::path>& sources) {
                return EngineModules::images().mergeToPDF(sources);
            },
        .archive = &ArchiveEngine::create,
    };
    return Requests::carryOut(request, progress, every);
}

void performInWorkers()
{
    class Performing : public Worker::Performer {
    public:
        fs::path perform(const Request& request, const Progress& progress) override { return ::perform(request, progress); }
    };
    Worker::Performer::set(std::make_shared<Performing>());
}
