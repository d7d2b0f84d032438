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
    if (request.sources.empty())
        throw ConversionError::unsupported();
    if (request.tool) {
        const auto tool = Requests::toolOf(*request.tool);
        if (!tool)
            throw ConversionError::unsupported();
        return ToolEngines::run(tool->first, request.sources, tool->second, progress);
    }
    switch (request.op) {
    case Request::Op::convert: return Engine::convert(request.sources.front(), request.kind, request.format, progress);
    case Request::Op::mergePDF: return PDFEngine::merge(request.sources);
    case Request::Op::mergeImages: return EngineModules::images().mergeToPDF(request.sources);
    case Request::Op::archive: return ArchiveEngine::create(request.sources, request.format);
    }
    throw ConversionError::unsupported();
}

void performInWorkers()
{
    class Performing : public Worker::Performer {
    public:
        fs::path perform(const Request& request, const Progress& progress) override { return ::perform(request, progress); }
    };
    Worker::Performer::set(std::make_shared<Performing>());
}
